#include "FUiCheckbox.h"

#include <algorithm>

#include "FDebugTrace.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

class FUiCheckboxCreator final : public FUiWidgetCreator<FUiCheckbox>
{
};

bool RegisterUiCheckbox(FIUiObjectFactory* factory)
{
    const bool checkbox = RegisterUiWidgetCreator<FUiCheckboxCreator>(factory, "CHECKBOX");
    const bool radio = RegisterUiWidgetCreator<FUiCheckboxCreator>(factory, "RADIO_BUTTON");
    return checkbox && radio;
}

FUiCheckbox::FUiCheckbox(const char* typeName) : FUiObject(typeName)
{
    AddEvent(FWideString("ON_INIT"));
    AddEvent(FWideString("ON_TRUE"));
    AddEvent(FWideString("ON_FALSE"));
    AddEvent(FWideString("ON_STATE"));
    AddEvent(FWideString("ON_SEND_STATE"));
    AddBoolProperty("Hidden", false, &m_bHidden, false);
    AddImageProperty("File_On", true, &m_pOn);
    AddImageProperty("File_Off", true, &m_pOff);
    AddImageProperty("File_Disabled", false, &m_pDisabledImage);
    AddImageProperty("File_MouseOver", false, &m_pOverImage);
    AddIntProperty("_MinHSize", false, &m_iMinHSize, -1);
    AddIntProperty("_MinVSize", false, &m_iMinVSize, -1);
    AddIntProperty("_HStretch", false, &m_iHStretch, 0);
    AddIntProperty("_VStretch", false, &m_iVStretch, 0);
    AddBoolProperty("_InitialState", false, &m_bState, false);
    AddBoolProperty("_AlwaysSendTrueWhenClicked", false, &m_bAlwaysSendTrue, false);
}

FUiCheckbox::~FUiCheckbox()
{
    ReleaseUiPixmap(m_pOn);
    ReleaseUiPixmap(m_pOff);
    ReleaseUiPixmap(m_pDisabledImage);
    ReleaseUiPixmap(m_pOverImage);
}

bool FUiCheckbox::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        priFire("ON_INIT");
        return true;
    }
    if (message == "we're goin' bye-bye")
        return true;
    if (message == "Select" || message == "SetTrue") {
        priSetState(true);
        return true;
    }
    if (message == "Deselect" || message == "SetFalse") {
        priSetState(false);
        return true;
    }
    if (message == "SetState") {
        if (!data)
            return false;
        priSetState(*static_cast<const bool*>(data));
        return true;
    }
    bool enabled = !m_bDisabled, changed = false;
    if (HandleWidgetEnabling(message, data, enabled, changed)) {
        m_bDisabled = !enabled;
        if (changed)
            InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    if (message == "Press") {
        priClick(false);
        return true;
    }
    if (message == "StateQuery") {
        if (!data)
            return false;
        *static_cast<bool*>(data) = m_bState;
        return true;
    }
    if (message == "SendState") {
        bool state = m_bState;
        priFire("ON_SEND_STATE", &state);
        return true;
    }
    return false;
}

bool FUiCheckbox::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    m_bRadio = m_typeName == "RADIO_BUTTON" || (tag && tag->GetName() == "RADIO_BUTTON");
    if (!FUiObject::InitUiObject(app, window, parent, tag)) {
        DebugTrace("FUiCheckbox::InitUiObject(%s) FAILED!\n", m_usFullName.GetNarrow());
        return false;
    }
    if (!m_pOn || !m_pOff || m_pOn->GetWidth() != m_pOff->GetWidth() ||
        m_pOn->GetHeight() != m_pOff->GetHeight()) {
        ReleaseUiPixmap(m_pOn);
        ReleaseUiPixmap(m_pOff);
        return false;
    }
    if (m_iMinHSize == -1)
        m_iMinHSize = m_pOn->GetWidth();
    if (m_iMinVSize == -1)
        m_iMinVSize = m_pOn->GetHeight();
    SetWidgetLayout(m_hLayout, m_iMinHSize, m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iMinVSize, m_iVStretch);
    m_rect.Set(0, 0, m_hLayout.GetMinSize(), m_vLayout.GetMinSize());
    return true;
}

bool FUiCheckbox::SetRect(int x, int y, int width, int height)
{
    m_rect.Set(x, y, x + PlacedWidgetLength(m_hLayout, width), y + PlacedWidgetLength(m_vLayout, height));
    return true;
}

void FUiCheckbox::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (m_bHidden)
        return;
    FIUiPixmap* picture = nullptr;
    if (m_bMouseOver && m_pOverImage)
        picture = m_pOverImage;
    else if (m_bDisabled && m_pDisabledImage)
        picture = m_pDisabledImage;
    else
        picture = m_bState ? m_pOn : m_pOff;
    if (!picture || !target)
        return;
    // The picture's top-left part as large as the rectangle, one to one.
    const int width = std::min(m_rect.Width(), picture->GetWidth());
    const int height = std::min(m_rect.Height(), picture->GetHeight());
    FRect destination = OffsetWidgetRect(
        FRect(m_rect.left, m_rect.top, m_rect.left + width, m_rect.top + height), xOffset, yOffset);
    FRect source(0, 0, width, height);
    if (ClipWidgetRects(clip, destination, source))
        picture->BlendBlit(target, destination, source);
}

FIUiObject* FUiCheckbox::HitTest(int x, int y)
{
    // A hidden control cannot be clicked.
    return !m_bHidden && WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

bool FUiCheckbox::MouseDown(int, int, bool, bool)
{
    priClick(true);
    return true;
}

void FUiCheckbox::MouseEnter(int, int)
{
    m_bMouseOver = true;
    InvalidateWidgetRect(m_pWindow, m_rect, false);
}

void FUiCheckbox::MouseLeave(int, int)
{
    m_bMouseOver = false;
    InvalidateWidgetRect(m_pWindow, m_rect, false);
}

void FUiCheckbox::priClick(bool byMouse)
{
    if (m_bDisabled)
        return;
    if (m_bRadio && m_bState) {
        if (byMouse && m_bAlwaysSendTrue)
            priFire("ON_TRUE");
        return;
    }
    m_bState = !m_bState;
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    priFire(m_bState ? "ON_TRUE" : "ON_FALSE");
    bool state = m_bState;
    priFire("ON_STATE", &state);
}

void FUiCheckbox::priSetState(bool state)
{
    if (m_bDisabled || m_bState == state)
        return;
    m_bState = state;
    InvalidateWidgetRect(m_pWindow, m_rect, true);
}

void FUiCheckbox::priFire(const char* eventName, void* data)
{
    if (RelayEvent* event = FindEvent(FWideString(eventName)))
        event->Fire(data);
}
