#include <algorithm>

#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFrame.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiRectCreator final : public FUiWidgetCreator<FUiRect>
{
};

} // namespace

bool RegisterUiRect(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiRectCreator>(factory, "RECT");
}

FUiRect::FUiRect(const char* typeName) : FUiObject(typeName) {}

bool FUiRect::ConnectRelays()
{
    return m_pFirstChild ? m_pFirstChild->ConnectRelays() : true;
}

FIUiRelay* FUiRect::GetUiRelay(const FWideString& name)
{
    return LookUpUiRelayThroughChildren(this, m_pFirstChild, name);
}

bool FUiRect::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    bool found[5] = {};
    m_iScriptMinWidth = tag->GetInt("MinHSize", 0, &found[0]);
    m_iScriptMinHeight = tag->GetInt("MinVSize", 0, &found[1]);
    m_iHStretch = tag->GetInt("HStretch", 0, &found[2]);
    m_iVStretch = tag->GetInt("VStretch", 0, &found[3]);
    m_colour = tag->GetColor("Color", m_colour, &found[4]);
    if (!std::all_of(std::begin(found), std::end(found), [](bool f) { return f; }))
        return false;
    if (FIUiObject* box = CreateContentBox(this, tag))
        AppendChild(box);
    int width = 0, height = 0;
    if (!priMinimums(width, height)) {
        DeleteUiObjectChain(m_pFirstChild);
        return false;
    }
    SetWidgetLayout(m_hLayout, width, m_iHStretch);
    SetWidgetLayout(m_vLayout, height, m_iVStretch);
    return true;
}

bool FUiRect::priMinimums(int& width, int& height)
{
    width = std::max(m_iScriptMinWidth, 0);
    height = std::max(m_iScriptMinHeight, 0);
    if (!m_pFirstChild)
        return true;
    const int boxWidth = m_pFirstChild->GetLayoutObject(true)->GetMinSize();
    const int boxHeight = m_pFirstChild->GetLayoutObject(false)->GetMinSize();
    if (boxWidth > width) {
        if (m_iHStretch <= 0)
            return false;
        width = boxWidth;
    }
    if (boxHeight > height) {
        if (m_iVStretch <= 0)
            return false;
        height = boxHeight;
    }
    return true;
}

bool FUiRect::ReInitLayout()
{
    if (m_pFirstChild)
        m_pFirstChild->ReInitLayout();
    int width = 0, height = 0;
    if (!priMinimums(width, height))
        return false;
    SetWidgetLayout(m_hLayout, width, m_iHStretch);
    SetWidgetLayout(m_vLayout, height, m_iVStretch);
    return true;
}

bool FUiRect::SetRect(int x, int y, int width, int height)
{
    width = PlacedWidgetLength(m_hLayout, width);
    height = PlacedWidgetLength(m_vLayout, height);
    if (!m_pFirstChild) {
        m_rect = OffsetWidgetRect(FRect(0, 0, width, height), x, y);
        return true;
    }
    if (!m_pFirstChild->SetRect(x, y, width, height))
        return false;
    m_rect = m_pFirstChild->GetRect();
    return true;
}

void FUiRect::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    FillWidgetRect(target, OffsetWidgetRect(m_rect, xOffset, yOffset), clip, m_colour);
    if (m_pFirstChild)
        m_pFirstChild->Display(target, xOffset, yOffset, clip);
}

FIUiObject* FUiRect::HitTest(int x, int y)
{
    if (!WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (FIUiObject* hit = m_pFirstChild ? m_pFirstChild->HitTest(x, y) : nullptr)
        return hit;
    return this;
}

bool FUiRect::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "SetColor" && data && ParseWidgetColor(*static_cast<const FWideString*>(data), m_colour))
        InvalidateWidgetRect(m_pWindow, m_rect, false);
    return true;
}
