#include <gtest/gtest.h>

#include <string>

#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FUiImage.h"
#include "FUiScriptFixture.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

// A 40 x 20 image of alpha 129 whose first pixel has alpha 128.
void WriteAlphaImage(FUiTestApp& run)
{
    WriteTestPng(run.GetScriptFolder().Join("alpha.png"), 40, 20, FUiColor(0, 0, 255, 129),
                 FUiColor(0, 0, 255, 128));
}

std::unique_ptr<FUiTestApp> ImageRun(const std::string& body)
{
    return MakeWidgetRun(WidgetScript(
                             R"(<PROBE Name="Probe"/><WINDOW Name="W" BgColor="#E0E0E0" DX="200" DY="50">
        <HBOX>)" + body + "</HBOX></WINDOW>"),
                         {RegisterUiHVBox, RegisterUiImage, RegisterUiResizedImage}, WriteAlphaImage);
}

FUiImage* Image(FUiTestApp& run, const char* name)
{
    return dynamic_cast<FUiImage*>(FindWidget(run, name));
}

TEST(ImageTest, SizeStretchAndAlphaHitTest)
{
    auto run =
        ImageRun(R"(<IMAGE Name="Fixed" File_Image="alpha.png"><ON_PRESS Relay="Probe" Message="Hit"/></IMAGE>
        <IMAGE Name="Whole" File_Image="alpha.png" _UseAlphaForHitTest="false"/>
        <IMAGE Name="Wide" File_Image="alpha.png" _HStretch="1"/>)");
    ASSERT_TRUE(run->GetInitResult());
    FUiImage* fixed = Image(*run, "W.Fixed");
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(RectText(fixed->GetRect()), "0,0,40,20");
    EXPECT_TRUE(fixed->GetLayoutObject(true)->m_bFixed);
    EXPECT_TRUE(fixed->GetLayoutObject(false)->m_bFixed);
    EXPECT_EQ(fixed->HitTest(0, 0), nullptr); // alpha 128 does not hit
    EXPECT_EQ(fixed->HitTest(1, 0), fixed);   // 129 does
    EXPECT_EQ(fixed->HitTest(40, 0), nullptr);
    FUiImage* whole = Image(*run, "W.Whole");
    EXPECT_EQ(whole->HitTest(40, 0), whole);
    FUiImage* wide = Image(*run, "W.Wide");
    EXPECT_EQ(RectText(wide->GetRect()), "80,0,200,20");
    ASSERT_NE(wide->GetPicture(), nullptr);
    EXPECT_EQ(wide->GetPicture()->GetWidth(), 120);

    FProbeObject* probe = FProbeObject::FindLive("Probe");
    probe->Clear();
    EXPECT_TRUE(fixed->MouseDown(1, 1, false, false));
    EXPECT_EQ(probe->GetMessages(), "Hit");
}

TEST(ImageTest, VisibilityAndSetImage)
{
    auto run = ImageRun(R"(<IMAGE Name="I" File_Image="alpha.png" _Visible="false"/>)");
    ASSERT_TRUE(run->GetInitResult());
    FUiImage* image = Image(*run, "W.I");
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->IsVisible());
    EXPECT_TRUE(image->UiRelayMessage(FWideString("Show"), nullptr));
    EXPECT_TRUE(image->UiRelayMessage(FWideString("Hide"), nullptr));
    EXPECT_TRUE(image->UiRelayMessage(FWideString("ToggleVisibility"), nullptr));
    EXPECT_TRUE(image->IsVisible());
    EXPECT_FALSE(image->UiRelayMessage(FWideString("Visibility"), nullptr));
    EXPECT_TRUE(image->UiRelayMessage(FWideString("Hide"), nullptr));
    EXPECT_FALSE(image->UiRelayMessage(FWideString("SetImage"), nullptr));

    // A new image of another size: shown, and the layout follows its size; the answer stays false.
    FIUiPixmap* other = CreateUiPixmap(30, 10, false);
    other->FillRGBA(0, 255, 0, 255);
    EXPECT_FALSE(image->UiRelayMessage(FWideString("SetImage"), other));
    ReleaseUiPixmap(other); // the image keeps a copy
    EXPECT_TRUE(image->IsVisible());
    EXPECT_EQ(image->GetLayoutObject(true)->GetMinSize(), 30);
    EXPECT_EQ(RectText(image->GetRect()), "0,0,30,10");
    FUiColor c;
    image->GetPicture()->GetPixel(5, 5, c);
    EXPECT_EQ(c, FUiColor(0, 255, 0, 255));
    EXPECT_FALSE(image->UiRelayMessage(FWideString("NoSuchMessage"), nullptr));
}

TEST(ImageTest, ContentBoxAgainstTheImageSize)
{
    auto run = ImageRun(R"(
        <IMAGE Name="TooSmall" File_Image="alpha.png"><HBOX><LEAF MinHSize="50" MinVSize="5"/></HBOX></IMAGE>
        <IMAGE Name="Grows" File_Image="alpha.png" _HStretch="1"><HBOX Name="Box">
          <LEAF Name="L" MinHSize="50" MinVSize="5" HStretch="1" VStretch="1"/></HBOX></IMAGE>
        <IMAGE Name="Larger" File_Image="alpha.png"><VBOX>
          <LEAF Name="Small" MinHSize="10" MinVSize="10" HStretch="1" VStretch="1"/></VBOX></IMAGE>
        <IMAGE Name="NoFile" _MinHSize="-7"/>)");
    ASSERT_TRUE(run->GetInitResult());
    // A content box larger than an image that does not stretch fails the image.
    EXPECT_EQ(FindWidget(*run, "W.TooSmall"), nullptr);
    FUiImage* grows = Image(*run, "W.Grows");
    ASSERT_NE(grows, nullptr);
    EXPECT_EQ(grows->GetLayoutObject(true)->GetMinSize(), 50);
    EXPECT_EQ(FindWidget(*run, "W.Box.L"), nullptr); // a named image must be in the path
    FIUiObject* leaf = FindWidget(*run, "W.Grows.Box.L");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(grows->HitTest(leaf->GetRect().left, 2), leaf); // the content box answers
    // An image larger than its content box: the box gets the whole image.
    FIUiObject* small = FindWidget(*run, "W.Larger.Small");
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->GetRect().Width(), 40);
    EXPECT_EQ(small->GetRect().Height(), 20);
    // No image: nothing but its (clamped) minimums.
    FUiImage* none = Image(*run, "W.NoFile");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->GetLayoutObject(true)->GetMinSize(), 0);
    EXPECT_EQ(none->GetPicture(), nullptr);
}

TEST(ResizedImageTest, KeepsItsBordersAndRefusesBadRectangles)
{
    auto run = ImageRun(R"(
        <RESIZED_IMAGE Name="R" File_Image="resized.png" ResizeRect="10,10,19,19" MinHSize="5" MinVSize="5"
                       HStretch="1" VStretch="1"/>
        <RESIZED_IMAGE Name="LeftEdge" File_Image="resized.png" ResizeRect="0,10,19,19" MinHSize="5" MinVSize="5"
                       HStretch="1" VStretch="1"/>
        <RESIZED_IMAGE Name="TopEdge" File_Image="resized.png" ResizeRect="10,0,19,19" MinHSize="5" MinVSize="5"
                       HStretch="1" VStretch="1"/>
        <RESIZED_IMAGE Name="Outside" File_Image="resized.png" ResizeRect="10,10,30,19" MinHSize="5" MinVSize="5"
                       HStretch="1" VStretch="1"/>
        <RESIZED_IMAGE Name="NoStretchKey" File_Image="resized.png" ResizeRect="10,10,19,19" MinHSize="5"
                       MinVSize="5" HStretch="1"/>
        <RESIZED_IMAGE Name="NoFile" File_Image="missing.png" ResizeRect="10,10,19,19" MinHSize="5" MinVSize="5"
                       HStretch="1" VStretch="1"/>)");
    ASSERT_TRUE(run->GetInitResult());
    for (const char* name : {"W.LeftEdge", "W.TopEdge", "W.Outside", "W.NoStretchKey", "W.NoFile"})
        EXPECT_EQ(FindWidget(*run, name), nullptr) << name;
    auto* resized = dynamic_cast<FUiResizedImage*>(FindWidget(*run, "W.R"));
    ASSERT_NE(resized, nullptr);
    EXPECT_EQ(resized->GetLayoutObject(true)->GetMinSize(), 21);
    EXPECT_EQ(resized->GetLayoutObject(false)->GetMinSize(), 21);
    EXPECT_EQ(RectText(resized->GetRect()), "0,0,200,50");
    FIUiPixmap* picture = resized->GetPicture();
    ASSERT_NE(picture, nullptr);
    FUiColor c;
    picture->GetPixel(0, 0, c);
    EXPECT_EQ(c, FUiColor(255, 0, 0, 255)); // the marked corner, unscaled
    picture->GetPixel(100, 25, c);
    EXPECT_EQ(c, FUiColor(40, 80, 120, 255));
    EXPECT_EQ(resized->HitTest(199, 49), resized);
    EXPECT_EQ(resized->HitTest(200, 49), nullptr);
}

} // namespace
