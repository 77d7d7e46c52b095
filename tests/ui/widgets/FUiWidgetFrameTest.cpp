#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "FIUiPixmap.h"
#include "FUiObjectFactory.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FTestWidget : public FUiObject
{
public:
    explicit FTestWidget(const char* typeName) : FUiObject(typeName) { ++s_live; }
    ~FTestWidget() override { --s_live; }
    static int s_live;
};
int FTestWidget::s_live = 0;

class FTestWidgetCreator final : public FUiWidgetCreator<FTestWidget>
{
};

TEST(WidgetFrameTest, CreatorsRegisterOncePerNameAndMatchCase)
{
    FUiObjectFactory factory;
    EXPECT_TRUE(RegisterUiWidgetCreator<FTestWidgetCreator>(&factory, "WIDGET"));
    EXPECT_TRUE(RegisterUiWidgetCreator<FTestWidgetCreator>(&factory, "OTHER"));
    // A second registration of a name is refused and its creator deleted (no leak under the sanitizers).
    EXPECT_FALSE(RegisterUiWidgetCreator<FTestWidgetCreator>(&factory, "WIDGET"));
    EXPECT_FALSE(RegisterUiWidgetCreator<FTestWidgetCreator>(nullptr, "WIDGET"));
    EXPECT_FALSE(RegisterUiWidgetCreator<FTestWidgetCreator>(&factory, nullptr));
    int registered = 0, created = 0;
    factory.GetCounts(registered, created);
    EXPECT_EQ(registered, 2);

    EXPECT_EQ(factory.CreateUiObject("widget"), nullptr);
    FIUiObject* object = factory.CreateUiObject("OTHER");
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(static_cast<FUiObject*>(object)->GetTypeName(), "OTHER");
    EXPECT_EQ(FTestWidget::s_live, 1);
    delete object;
    EXPECT_EQ(FTestWidget::s_live, 0);
    EXPECT_FALSE(RegisterUiWidgets(nullptr));
}

TEST(WidgetFrameTest, PlacementRuleTakesTheOfferOnlyWhenStretchingAndLargeEnough)
{
    struct Case {
        int minimum, stretch, offered, placed;
    };
    const Case kCases[] = {
        {40, 0, 100, 40},
        {40, 1, 100, 100},
        {40, 1, 39, 40},
        {40, 1, 40, 40},
        {0, 5, 0, 0},
        {40, 0, 10, 40},
        {0, INT_MAX, INT_MAX, INT_MAX},
        {-5, -3, 10, 0},
    };
    for (const Case& c : kCases) {
        FLayoutObject layout;
        SetWidgetLayout(layout, c.minimum, c.stretch);
        EXPECT_EQ(PlacedWidgetLength(layout, c.offered), c.placed)
            << c.minimum << " " << c.stretch << " " << c.offered;
        EXPECT_EQ(layout.m_bFixed, c.stretch <= 0);
        EXPECT_GE(layout.GetStretch(), 0);
        EXPECT_GE(layout.GetMinSize(), 0);
    }
    EXPECT_EQ(SaturatedSize(static_cast<long long>(INT_MAX) + INT_MAX), INT_MAX);
    EXPECT_EQ(SaturatedSize(-1), 0);
}

TEST(WidgetFrameTest, ClippingCutsTheSourceOnTheSameSides)
{
    // One-to-one: the source loses as many pixels as the destination.
    FRect d(-10, 5, 30, 25), s(0, 0, 40, 20);
    ASSERT_TRUE(ClipWidgetRects(FRect(0, 0, 100, 20), d, s));
    EXPECT_EQ(d, FRect(0, 5, 30, 20));
    EXPECT_EQ(s, FRect(10, 0, 40, 15));
    // Scaled: the cut scales with source over destination length.
    d = FRect(0, 0, 100, 10);
    s = FRect(0, 0, 50, 10);
    ASSERT_TRUE(ClipWidgetRects(FRect(20, 0, 100, 10), d, s));
    EXPECT_EQ(s.left, 10);
    // Wholly outside: nothing is left.
    d = FRect(200, 200, 240, 220);
    s = FRect(0, 0, 40, 20);
    EXPECT_FALSE(ClipWidgetRects(FRect(0, 0, 100, 100), d, s));
    // Rectangles near the limits of 32 bits do not wrap.
    d = FRect(INT_MIN / 2, 0, INT_MAX / 2, 10);
    s = FRect(0, 0, 10, 10);
    EXPECT_TRUE(ClipWidgetRects(FRect(0, 0, 100, 10), d, s));
    EXPECT_GE(s.left, 0);
    EXPECT_LE(s.right, 10);
    EXPECT_EQ(OffsetWidgetRect(FRect(INT_MAX - 1, 0, INT_MAX, 1), 10, 0).right, INT_MAX);
}

TEST(WidgetFrameTest, DrawingOutsideTheClipDrawsNothing)
{
    FIUiPixmap* target = CreateUiPixmap(20, 20, false);
    FIUiPixmap* picture = CreateUiPixmap(5, 5, false);
    ASSERT_TRUE(target && picture);
    target->FillRGBA(0, 0, 0, 255);
    picture->FillRGBA(255, 0, 0, 255);
    EXPECT_FALSE(DrawWidgetPicture(picture, target, FRect(30, 30, 35, 35), FRect(0, 0, 20, 20)));
    EXPECT_TRUE(DrawWidgetPicture(picture, target, FRect(-2, -2, 3, 3), FRect(0, 0, 2, 20)));
    FUiColor c;
    target->GetPixel(1, 2, c);
    EXPECT_EQ(c, FUiColor(255, 0, 0, 255));
    target->GetPixel(2, 2, c); // beyond the clip
    EXPECT_EQ(c, FUiColor(0, 0, 0, 255));
    ReleaseUiPixmap(target);
    ReleaseUiPixmap(picture);
}

TEST(WidgetFrameTest, VisibilityAndEnablingVocabulary)
{
    struct Case {
        const char* message;
        bool withData, value, before, handled, after;
    };
    const Case kCases[] = {
        {"Show", false, false, false, true, true},     {"Show", false, false, true, true, true},
        {"Hide", false, false, true, true, false},     {"ToggleVisibility", false, false, true, true, false},
        {"Visibility", true, true, false, true, true}, {"Visibility", false, false, true, false, true},
        {"Enable", false, false, false, false, false}, {"show", false, false, false, false, false},
    };
    for (const Case& c : kCases) {
        bool visible = c.before, changed = false, value = c.value;
        EXPECT_EQ(
            HandleWidgetVisibility(FWideString(c.message), c.withData ? &value : nullptr, visible, changed),
            c.handled)
            << c.message;
        EXPECT_EQ(visible, c.after) << c.message;
        EXPECT_EQ(changed, c.before != c.after) << c.message;
    }
    bool enabled = true, changed = false, value = true;
    EXPECT_TRUE(HandleWidgetEnabling(FWideString("SetEnabled"), &value, enabled, changed));
    EXPECT_FALSE(changed);
    EXPECT_FALSE(HandleWidgetEnabling(FWideString("SetEnabled"), nullptr, enabled, changed));
    EXPECT_TRUE(HandleWidgetEnabling(FWideString("Disable"), nullptr, enabled, changed));
    EXPECT_TRUE(changed);
    EXPECT_FALSE(enabled);
}

TEST(WidgetFrameTest, ColourTextsAreUpperCaseHexOfSixOrEightDigits)
{
    struct Case {
        const char* text;
        bool ok;
        FUiColor colour;
    };
    const Case kCases[] = {
        {"#FF0000", true, {255, 0, 0, 255}},
        {"#00FF0080", true, {0, 255, 0, 128}},
        {"#ff0000", false, {}},
        {"FF0000", false, {}},
        {"#FF00", false, {}},
        {"#FF00000", false, {}},
        {"#GG0000", false, {}},
        {"", false, {}},
    };
    for (const Case& c : kCases) {
        FUiColor colour(1, 2, 3, 4);
        EXPECT_EQ(ParseWidgetColor(FWideString(c.text), colour), c.ok) << c.text;
        EXPECT_EQ(colour, c.ok ? c.colour : FUiColor(1, 2, 3, 4)) << c.text;
    }
}

} // namespace
