#include "FUiSpacer.h"

#include <algorithm>
#include <climits>

#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiSpacerCreator final : public FUiWidgetCreator<FUiSpacer>
{
};

const char* const kPrevKey = "PrevFillPercentage";
const char* const kNextKey = "NextFillPercentage";

int ClampedStretch(long long value)
{
    return static_cast<int>(std::clamp<long long>(value, 0, INT_MAX));
}

} // namespace

bool RegisterUiSpacer(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiSpacerCreator>(factory, "SPACER");
}

FUiSpacer::FUiSpacer(const char* typeName) : FUiObject(typeName)
{
    AddIntProperty("MinSize", false, &m_iMinSize, 0);
    AddIntProperty("Stretch", true, &m_iStretch, 100);
    AddBoolProperty("_SlidingDivider", false, &m_bSlidingDivider, false);
    AddImageProperty("File_Cursor", false, &m_pCursor);
    AddIntProperty("CursorX", false, &m_iCursorX, 0);
    AddIntProperty("CursorY", false, &m_iCursorY, 0);
}

FUiSpacer::~FUiSpacer()
{
    ReleaseUiPixmap(m_pCursor);
}

bool FUiSpacer::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!parent)
        return false;
    if (!FUiObject::InitUiObject(app, window, parent, tag))
        return false;
    m_bShowOutline = app && app->GetShowTheHVBoxes();
    if (parent->IsHBox())
        m_bHorizontal = true;
    else if (parent->IsVBox())
        m_bHorizontal = false;
    else
        return false;
    FLayoutObject& along = m_bHorizontal ? m_hLayout : m_vLayout;
    FLayoutObject& across = m_bHorizontal ? m_vLayout : m_hLayout;
    along = FLayoutObject();
    across = FLayoutObject();
    SetWidgetLayout(along, m_iMinSize, m_iStretch);
    SetWidgetLayout(across, 0, 0);
    // Given but not loadable still counts: entering the divider then shows the arrow.
    m_bHasCursor = tag && tag->FindProp("File_Cursor") != nullptr;
    return true;
}

bool FUiSpacer::priIsWorkingDivider()
{
    return m_bSlidingDivider && m_pPrev && m_pNext;
}

FLayoutObject* FUiSpacer::priNeighbour(FIUiObject* sibling)
{
    return sibling->GetLayoutObject(m_bHorizontal);
}

void FUiSpacer::priNeighboursStretchBySize()
{
    for (FIUiObject* sibling : {m_pPrev, m_pNext}) {
        FLayoutObject* layout = priNeighbour(sibling);
        layout->SetStretch(std::max(layout->GetSize(), 0));
    }
}

bool FUiSpacer::UiRelayMessage(const FWideString& message, void*)
{
    if (message == "Post Creation Initialization") {
        if (!priIsWorkingDivider() || !m_pApp)
            return true;
        FPropList* node = m_pApp->GetPersistentData(m_usFullName);
        if (!node)
            return true;
        bool prevFound = false, nextFound = false;
        const int prev = node->GetInt(kPrevKey, 50, &prevFound);
        const int next = node->GetInt(kNextKey, 50, &nextFound);
        if (prevFound && nextFound) {
            priNeighbour(m_pPrev)->SetStretch(std::max(prev, 0));
            priNeighbour(m_pNext)->SetStretch(std::max(next, 0));
            ReLayoutWidgetWindow(m_pWindow, 0, 0);
        }
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (!priIsWorkingDivider())
            return true;
        priNeighboursStretchBySize();
        if (FPropList* node = m_pApp ? m_pApp->GetPersistentData(m_usFullName) : nullptr) {
            node->SetInt(kPrevKey, priNeighbour(m_pPrev)->GetSize());
            node->SetInt(kNextKey, priNeighbour(m_pNext)->GetSize());
        }
        return true;
    }
    return false;
}

void FUiSpacer::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (m_bShowOutline && target)
        target->DrawFrame(OffsetWidgetRect(m_rect, xOffset, yOffset), FUiColor(0, 255, 0, 128), &clip);
}

FIUiObject* FUiSpacer::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

bool FUiSpacer::MouseDown(int x, int y, bool, bool)
{
    if (!priIsWorkingDivider())
        return false;
    SetWidgetMouseCapture(m_pWindow, this, true);
    m_iLastX = x;
    m_iLastY = y;
    m_bDragging = true;
    // From here the box shares its room in proportion to the neighbours' pixel lengths.
    priNeighboursStretchBySize();
    return true;
}

void FUiSpacer::MouseMove(int x, int y)
{
    if (!m_bDragging || !priIsWorkingDivider())
        return;
    const long long delta =
        m_bHorizontal ? static_cast<long long>(x) - m_iLastX : static_cast<long long>(y) - m_iLastY;
    FLayoutObject* prev = priNeighbour(m_pPrev);
    FLayoutObject* next = priNeighbour(m_pNext);
    prev->SetStretch(ClampedStretch(prev->GetStretch() + delta));
    next->SetStretch(ClampedStretch(next->GetStretch() - delta));
    LayoutWidgetWindow(m_pWindow);
    m_iLastX = x;
    m_iLastY = y;
}

void FUiSpacer::MouseUp(int, int, bool, bool)
{
    if (!m_bDragging)
        return;
    SetWidgetMouseCapture(m_pWindow, this, false);
    m_bDragging = false;
}

void FUiSpacer::MouseEnter(int, int)
{
    if (!priIsWorkingDivider() || !m_bHasCursor)
        return;
    const FLayoutObject* prev = priNeighbour(m_pPrev);
    const FLayoutObject* next = priNeighbour(m_pNext);
    if (prev->GetSize() == prev->GetMinSize() && next->GetSize() == next->GetMinSize())
        return;
    SetWidgetCursor(m_pWindow, m_pCursor, m_iCursorX, m_iCursorY);
}

void FUiSpacer::MouseLeave(int, int)
{
    if (m_bSlidingDivider)
        SetWidgetCursor(m_pWindow, nullptr, 0, 0);
}
