#include <algorithm>

#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFrame.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiHVLineCreator final : public FUiWidgetCreator<FUiHVLine>
{
};

} // namespace

bool RegisterUiHVLine(FIUiObjectFactory* factory)
{
    const bool h = RegisterUiWidgetCreator<FUiHVLineCreator>(factory, "HLINE");
    const bool v = RegisterUiWidgetCreator<FUiHVLineCreator>(factory, "VLINE");
    return h && v;
}

FUiHVLine::FUiHVLine(const char* typeName) : FUiObject(typeName), m_bHorizontal(GetTypeName() == "HLINE") {}

bool FUiHVLine::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    bool found[3] = {};
    const int minimum = tag->GetInt(m_bHorizontal ? "MinHSize" : "MinVSize", 0, &found[0]);
    const int stretch = tag->GetInt(m_bHorizontal ? "HStretch" : "VStretch", 0, &found[1]);
    m_colour = tag->GetColor("Color", m_colour, &found[2]);
    if (!found[0] || !found[1] || !found[2])
        return false;
    SetWidgetLayout(m_bHorizontal ? m_hLayout : m_vLayout, minimum, stretch);
    SetWidgetLayout(m_bHorizontal ? m_vLayout : m_hLayout, 1, 0);
    return true;
}

bool FUiHVLine::SetRect(int x, int y, int width, int height)
{
    if (m_bHorizontal)
        m_rect = OffsetWidgetRect(FRect(0, 0, std::max(width, m_hLayout.GetMinSize()), 1), x, y);
    else
        m_rect = OffsetWidgetRect(FRect(0, 0, 1, std::max(height, m_vLayout.GetMinSize())), x, y);
    return true;
}

void FUiHVLine::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    FillWidgetRect(target, OffsetWidgetRect(m_rect, xOffset, yOffset), clip, m_colour);
}
