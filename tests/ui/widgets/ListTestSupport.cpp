#include "ListTestSupport.h"

#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"

FTestScrollbar::FTestScrollbar(const char* typeName) : FUiObject(typeName) {}

bool FTestScrollbar::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    const int thick = tag ? tag->GetInt("Thick", 12) : 12;
    SetWidgetLayout(m_hLayout, thick, 0);
    SetWidgetLayout(m_vLayout, thick, 0);
    return !(tag && tag->GetBool("Fail", false));
}

bool FTestScrollbar::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Set") {
        if (!data)
            return false;
        const double* values = static_cast<const double*>(data);
        m_sets.push_back({values[0], values[1], values[2]});
        return true;
    }
    if (message == "Post Creation Initialization") {
        ++m_iPostCreations;
        return true;
    }
    return false;
}

bool FTestScrollbar::AddEventTarget(const FWideString& eventName, const FWideString& message,
                                    FIUiRelay* target)
{
    if (!(eventName == "ON_SCROLL"))
        return false;
    m_usScrollMessage = message;
    m_pScrollTarget = target;
    return true;
}

FIUiObject* FTestScrollbar::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

void FTestScrollbar::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    FillWidgetRect(target, OffsetWidgetRect(m_rect, xOffset, yOffset), clip, FUiColor(0, 0, 255, 255));
}

bool FTestScrollbar::Scroll(int offset)
{
    return m_pScrollTarget && m_pScrollTarget->UiRelayMessage(m_usScrollMessage, &offset);
}

std::string FTestScrollbar::LastSet() const
{
    if (m_sets.empty())
        return "none";
    const auto& s = m_sets.back();
    return std::to_string(static_cast<int>(s[0])) + "," + std::to_string(static_cast<int>(s[1])) + "," +
           std::to_string(static_cast<int>(s[2]));
}

namespace
{
class FTestScrollbarCreator final : public FUiWidgetCreator<FTestScrollbar>
{
};
} // namespace

bool RegisterTestScrollbar(FIUiObjectFactory* factory)
{
    bool all = RegisterUiWidgetCreator<FTestScrollbarCreator>(factory, "SCROLLBAR");
    all = RegisterUiWidgetCreator<FTestScrollbarCreator>(factory, "VSCROLLBAR") && all;
    return RegisterUiWidgetCreator<FTestScrollbarCreator>(factory, "HSCROLLBAR") && all;
}

FTestPaint::FTestPaint(const char* typeName) : FUiObject(typeName) {}

bool FTestPaint::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag) || !tag)
        return false;
    SetWidgetLayout(m_hLayout, tag->GetInt("MinHSize", 0), tag->GetInt("HStretch", 0));
    SetWidgetLayout(m_vLayout, tag->GetInt("MinVSize", 0), tag->GetInt("VStretch", 0));
    m_colour = tag->GetColor("Color", FUiColor(0, 0, 0, 255));
    return true;
}

void FTestPaint::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    FillWidgetRect(target, OffsetWidgetRect(m_rect, xOffset, yOffset), clip, m_colour);
}

FIUiObject* FTestPaint::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

namespace
{
class FTestPaintCreator final : public FUiWidgetCreator<FTestPaint>
{
};
} // namespace

bool RegisterTestPaint(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FTestPaintCreator>(factory, "PAINT");
}

std::string PixelText(FIUiPixmap* pixmap, int x, int y)
{
    FUiColor colour;
    pixmap->GetPixel(x, y, colour);
    return std::to_string(colour.red) + "," + std::to_string(colour.green) + "," +
           std::to_string(colour.blue);
}
