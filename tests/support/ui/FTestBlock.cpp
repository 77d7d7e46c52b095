#include "FTestBlock.h"

#include <algorithm>

#include "FCodePage.h"
#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FUiObjectFactory.h"

FTestBlock::FTestBlock(const char* typeName) : FUiObject(typeName)
{
    AddEvent(FWideString("ON_PRESS"));
    AddColorProperty("Color", false, &m_colour, FUiColor(255, 0, 0, 255));
    AddStringProperty("DragData", false, &m_usDragData, FWideString());
    AddBoolProperty("AcceptDrop", false, &m_bAcceptDrop, false);
    AddIntProperty("X", false, &m_x, 0);
    AddIntProperty("Y", false, &m_y, 0);
    AddIntProperty("W", false, &m_w, 10);
    AddIntProperty("H", false, &m_h, 10);
    for (bool horizontal : {true, false}) {
        GetLayoutObject(horizontal)->m_iMinSize = 0;
        GetLayoutObject(horizontal)->m_iSize = 0;
    }
}

bool FTestBlock::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    const bool ok = FUiObject::InitUiObject(app, window, parent, tag);
    m_rect.Set(m_x, m_y, m_x + m_w, m_y + m_h);
    return ok;
}

void FTestBlock::priLog(const std::string& what)
{
    FProbeObject::SharedLog().push_back(Utf8FromWide(m_usName) + ":" + what);
}

bool FTestBlock::UiRelayMessage(const FWideString& message, void*)
{
    priLog("msg " + Utf8FromWide(message));
    return true;
}

void FTestBlock::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    // The clip is in the target's coordinates: move the block there first.
    FRect placed = m_rect;
    placed.Offset(xOffset, yOffset);
    const FRect r(std::max(placed.left, clip.left), std::max(placed.top, clip.top),
                  std::min(placed.right, clip.right), std::min(placed.bottom, clip.bottom));
    if (r.Width() <= 0 || r.Height() <= 0)
        return;
    target->FillRect(r, m_colour);
}

void FTestBlock::Tick(int elapsedMs)
{
    priLog("tick " + std::to_string(elapsedMs));
}

FIUiObject* FTestBlock::HitTest(int x, int y)
{
    return x >= m_rect.left && x < m_rect.right && y >= m_rect.top && y < m_rect.bottom ? this : nullptr;
}

void FTestBlock::MouseDoubleClick(int, int, bool, bool)
{
    priLog("double");
}

bool FTestBlock::GetDragData(int, int, bool, bool, FWideString& dragData)
{
    if (m_usDragData.IsEmpty())
        return false;
    dragData = m_usDragData;
    return true;
}

bool FTestBlock::CanDrop(int, int)
{
    return m_bAcceptDrop;
}

bool FTestBlock::Drop(int, int, bool, bool, const FWideString& dragData)
{
    priLog("drop " + Utf8FromWide(dragData));
    return true;
}

bool FTestBlock::MouseDown(int, int, bool, bool)
{
    priLog("down");
    return true;
}

void FTestBlock::MouseUp(int x, int y, bool, bool)
{
    priLog("up");
    // Released over itself: pressed. A handler may close the whole window from here.
    if (HitTest(x, y))
        FindEvent(FWideString("ON_PRESS"))->Fire(nullptr);
}

void FTestBlock::MouseEnter(int, int)
{
    priLog("enter");
}

void FTestBlock::MouseLeave(int, int)
{
    priLog("leave");
}

void FTestBlock::MouseWheel(int, int, int, int notches)
{
    priLog("wheel " + std::to_string(notches));
}

void FTestBlock::KeyEvent(uint16_t code, bool, bool)
{
    priLog("key " + std::to_string(code));
}

void FTestBlock::PopupClosed()
{
    priLog("popup closed");
}

bool RegisterTestBlock(FIUiObjectFactory* factory)
{
    auto* creator = new FUiObjectCreatorOf<FTestBlock>;
    if (factory && factory->Register("BLOCK", creator))
        return true;
    delete creator;
    return false;
}
