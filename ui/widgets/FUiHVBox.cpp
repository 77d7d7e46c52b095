#include "FUiHVBox.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiHVBoxCreator final : public FUiWidgetCreator<FUiHVBox>
{
};

} // namespace

bool RegisterUiHVBox(FIUiObjectFactory* factory)
{
    const bool h = RegisterUiWidgetCreator<FUiHVBoxCreator>(factory, "HBOX");
    const bool v = RegisterUiWidgetCreator<FUiHVBoxCreator>(factory, "VBOX");
    return h && v;
}

FUiHVBox::FUiHVBox(const char* typeName) : FUiObject(typeName), m_bHorizontal(GetTypeName() == "HBOX")
{
    AddBoolProperty("_HideChildren", false, &m_bHideChildren, false);
    AddIntProperty("_HStretch", false, &m_iHStretch, m_bHorizontal ? 100 : 0);
    AddIntProperty("_VStretch", false, &m_iVStretch, m_bHorizontal ? 0 : 100);
    m_pOnGetChildVisibility = AddEvent(FWideString("ON_GET_CHILD_VISIBILITY"));
}

bool FUiHVBox::ConnectRelays()
{
    bool all = true;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        all = child->ConnectRelays() && all;
    return all;
}

FIUiRelay* FUiHVBox::GetUiRelay(const FWideString& name)
{
    return LookUpUiRelayThroughChildren(this, m_pFirstChild, name);
}

bool FUiHVBox::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "HideChildren") {
        if (!m_bHideChildren) {
            priSaveAndCollapse();
            ReLayoutWidgetWindow(m_pWindow, 0, m_savedV.GetSize());
        }
    } else if (message == "ShowChildren") {
        if (priRestore())
            ReLayoutWidgetWindow(m_pWindow, 0, 0);
    } else if (message == "Visibility") {
        if (!data)
            return true;
        if (*static_cast<const bool*>(data)) {
            if (priRestore())
                ReLayoutWidgetWindow(m_pWindow, 0, 0);
        } else if (!m_bHideChildren) {
            priSaveAndCollapse();
            ReLayoutWidgetWindow(m_pWindow, 0, 0);
        }
    } else if (message == "ToggleChildren") {
        if (priRestore()) {
            ReLayoutWidgetWindow(m_pWindow, 0, 0);
        } else {
            priSaveAndCollapse();
            ReLayoutWidgetWindow(m_pWindow, 0, m_savedV.GetSize());
        }
    }
    return true;
}

bool FUiHVBox::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!app || !window || !tag)
        return false;
    if (!FUiObject::InitUiObject(app, window, parent, tag))
        return false;
    m_bShowOutline = app->GetShowTheHVBoxes();
    // Events are connected only once every object exists, so nothing can
    // answer this yet; it stays for scripts that name it.
    m_pOnGetChildVisibility->Fire(&m_bHideChildren);

    for (FPropList* childTag = tag->GetFirstChild(); childTag; childTag = childTag->GetNext()) {
        if (FIUiObject* child = CreateChildWidget(this, childTag))
            AppendChild(child);
    }

    FLayoutObject& along = priAlong();
    FLayoutObject& across = priAcross();
    along.m_iStretch = std::max(m_bHorizontal ? m_iHStretch : m_iVStretch, 0);
    across.m_iStretch = std::max(m_bHorizontal ? m_iVStretch : m_iHStretch, 0);
    m_bAlongZeroed = false;
    priRequirements();
    if (m_bHideChildren) {
        m_bHideChildren = false;
        priSaveAndCollapse();
    }
    return true;
}

bool FUiHVBox::ReInitLayout()
{
    if (m_bHideChildren)
        return true;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->ReInitLayout();
    priRequirements();
    return true;
}

void FUiHVBox::priRequirements()
{
    FLayoutObject& along = priAlong();
    FLayoutObject& across = priAcross();
    long long alongMin = 0;
    int acrossMin = 0;
    bool acrossFixed = true;
    bool allFixedAlong = true;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        const FLayoutObject* childAlong = child->GetLayoutObject(m_bHorizontal);
        const FLayoutObject* childAcross = child->GetLayoutObject(!m_bHorizontal);
        alongMin += std::max(childAlong->GetMinSize(), 0);
        acrossMin = std::max(acrossMin, childAcross->GetMinSize());
        int size = 0;
        acrossFixed = childAcross->GetFixedSize(size) && acrossFixed;
        allFixedAlong = childAlong->GetFixedSize(size) && allFixedAlong;
    }
    const int outline = m_bShowOutline ? 2 : 0;
    along.m_bFixed = false;
    along.m_iMinSize = SaturatedSize(alongMin + outline);
    across.m_bFixed = acrossFixed;
    across.m_iMinSize = SaturatedSize(static_cast<long long>(acrossMin) + outline);
    if (allFixedAlong) {
        if (!m_bAlongZeroed && along.m_iStretch != 0) {
            m_bAlongZeroed = true;
            m_iAlongBeforeZero = along.m_iStretch;
        }
        along.m_iStretch = 0;
    } else if (m_bAlongZeroed) {
        // A child stretches again (a nested box shown again, say): so does the box.
        m_bAlongZeroed = false;
        if (along.m_iStretch == 0)
            along.m_iStretch = m_iAlongBeforeZero;
    }
    if (across.m_bFixed)
        across.m_iSize = across.m_iMinSize;
}

void FUiHVBox::priSaveAndCollapse()
{
    m_savedH = m_hLayout;
    m_savedV = m_vLayout;
    m_bHideChildren = true;
    for (FLayoutObject* layout : {&m_hLayout, &m_vLayout}) {
        *layout = FLayoutObject();
        layout->m_iMinSize = 0;
        layout->m_iSize = 0;
        layout->SetSize(0);
    }
}

bool FUiHVBox::priRestore()
{
    if (!m_bHideChildren)
        return false;
    m_hLayout = m_savedH;
    m_vLayout = m_savedV;
    m_bHideChildren = false;
    return true;
}

bool FUiHVBox::SetRect(int x, int y, int width, int height)
{
    if (m_bHideChildren)
        return true;
    if (width < m_hLayout.GetMinSize() || height < m_vLayout.GetMinSize())
        return false;
    const int inset = m_bShowOutline ? 1 : 0;
    const int cx = x + inset;
    const int cy = y + inset;
    const int cw = width - 2 * inset;
    const int ch = height - 2 * inset;
    if (!priDistribute(m_bHorizontal ? cx : cy, m_bHorizontal ? cw : ch))
        return false;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        const FLayoutObject* layout = child->GetLayoutObject(m_bHorizontal);
        if (m_bHorizontal)
            child->SetRect(layout->GetPosition(), cy, layout->GetSize(), ch);
        else
            child->SetRect(cx, layout->GetPosition(), cw, layout->GetSize());
    }
    m_hLayout.SetPosition(x);
    m_vLayout.SetPosition(y);
    m_hLayout.m_iSize = width;
    m_vLayout.m_iSize = height;
    m_rect = OffsetWidgetRect(FRect(0, 0, width, height), x, y);
    return true;
}

bool FUiHVBox::priDistribute(int start, int length)
{
    // Sizes and weights in 64 bits: script stretches and sizes may reach the
    // limits of 32 bits, and 1000 x weight must not wrap.
    long long room = length;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        FLayoutObject* layout = child->GetLayoutObject(m_bHorizontal);
        layout->Reset();
        layout->SetWeight(std::max(layout->GetWeight(), 0));
    }
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        FLayoutObject* layout = child->GetLayoutObject(m_bHorizontal);
        int size = 0;
        if (!layout->GetFixedSize(size))
            continue;
        layout->SetSize(size);
        room -= size;
        if (room < 0)
            return false;
    }
    for (;;) {
        int count = 0;
        long long sum = 0;
        for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
            const FLayoutObject* layout = child->GetLayoutObject(m_bHorizontal);
            if (layout->IsSizeSet())
                continue;
            ++count;
            sum += layout->GetWeight();
        }
        if (count == 0)
            break;
        for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
            FLayoutObject* layout = child->GetLayoutObject(m_bHorizontal);
            if (layout->IsSizeSet())
                continue;
            const long long permille = sum != 0 ? 1000LL * layout->GetWeight() / sum : 1000LL / count;
            layout->SetWeight(static_cast<int>(permille));
        }
        FLayoutObject* limited = nullptr;
        int limit = 0;
        for (FIUiObject* child = m_pFirstChild; child && !limited; child = child->GetNext()) {
            FLayoutObject* layout = child->GetLayoutObject(m_bHorizontal);
            if (layout->IsSizeSet())
                continue;
            const long long share = layout->GetWeight() * room / 1000;
            if (share < layout->GetMinSize()) {
                limited = layout;
                limit = layout->GetMinSize();
            } else if (layout->HasMaxSize() && share > layout->GetMaxSize()) {
                limited = layout;
                limit = layout->GetMaxSize();
            }
        }
        if (limited) {
            limited->SetSize(limit);
            room -= limit;
            if (room < 0)
                return false;
            continue;
        }
        long long rest = room;
        FLayoutObject* last = nullptr;
        for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
            FLayoutObject* layout = child->GetLayoutObject(m_bHorizontal);
            if (layout->IsSizeSet())
                continue;
            last = layout;
        }
        for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
            FLayoutObject* layout = child->GetLayoutObject(m_bHorizontal);
            if (layout->IsSizeSet())
                continue;
            if (layout == last) {
                layout->SetSize(static_cast<int>(rest));
                break;
            }
            const long long share = layout->GetWeight() * room / 1000;
            layout->SetSize(static_cast<int>(share));
            rest -= share;
        }
        break;
    }
    long long position = start;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        FLayoutObject* layout = child->GetLayoutObject(m_bHorizontal);
        layout->SetPosition(static_cast<int>(std::clamp<long long>(position, INT32_MIN, INT32_MAX)));
        position += layout->GetSize();
    }
    return true;
}

void FUiHVBox::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (m_bHideChildren)
        return;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        const FRect area = IntersectWidgetRects(OffsetWidgetRect(child->GetRect(), xOffset, yOffset), clip);
        if (!IsWidgetRectEmpty(area))
            child->Display(target, xOffset, yOffset, area);
    }
    if (m_bShowOutline && target) {
        const FUiColor colour = m_bHorizontal ? FUiColor(0, 0, 255, 128) : FUiColor(255, 0, 0, 128);
        target->DrawFrame(OffsetWidgetRect(m_rect, xOffset, yOffset), colour, &clip);
    }
}

void FUiHVBox::Tick(int elapsedMs)
{
    if (m_bHideChildren)
        return;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->Tick(elapsedMs);
}

FIUiObject* FUiHVBox::HitTest(int x, int y)
{
    if (m_bHideChildren)
        return nullptr;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        if (FIUiObject* hit = child->HitTest(x, y))
            return hit;
    }
    return nullptr;
}
