#include "FUiToggle.h"

#include <algorithm>
#include <memory>

#include "FIUiApp.h"
#include "FIUiWindow.h"
#include "FPropList.h"
#include "FUiObjectFactory.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

class FUiToggleCreator final : public FUiWidgetCreator<FUiToggle>
{
};

bool RegisterUiToggle(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiToggleCreator>(factory, "TOGGLE");
}

FUiToggle::FUiToggle(const char* typeName) : FUiObject(typeName) {}

FUiToggle::~FUiToggle()
{
    delete m_pOnPicture;
    delete m_pOffPicture;
    delete m_pLabel;
}

bool FUiToggle::ConnectRelays()
{
    if (!m_pOnRelay)
        return true;
    // Resolved as an event's relay is; the pictures and the label are not connected.
    m_bRelayResolved = m_pWindow ? m_pOnRelay->Connect(m_pWindow) : m_pOnRelay->ConnectToApp(m_pApp);
    return m_bRelayResolved;
}

bool FUiToggle::UiRelayMessage(const FWideString& message, void*)
{
    if (message == "On" || message == "Off") {
        const bool on = message == "On";
        if (m_bState != on) {
            m_bState = on;
            InvalidateWidgetRect(m_pWindow, m_rect, false);
        }
        return true;
    }
    return false;
}

FIUiObject* FUiToggle::priCreatePart(const char* typeName, FPropList* tag)
{
    FIUiObjectFactory* factory =
        m_pWindow ? m_pWindow->GetFactory() : (m_pApp ? m_pApp->GetUiObjectFactory() : nullptr);
    FIUiObject* part = factory ? factory->CreateUiObject(typeName) : nullptr;
    if (part)
        part->InitUiObject(m_pApp, m_pWindow, this, tag);
    return part;
}

bool FUiToggle::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    m_bState = tag->GetBool("InitialState", true);
    const FWideString type = tag->GetString("Type", FWideString());
    m_bFlips = !(type == "Tab" || type == "RadioButton");
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        FIUiObject** slot = nullptr;
        const char* partType = nullptr;
        if (child->GetName() == "TEXT") {
            slot = &m_pLabel;
            partType = "TEXT";
        } else if (child->GetName() == "ON") {
            slot = &m_pOnPicture;
            partType = "IMAGE";
        } else if (child->GetName() == "OFF") {
            slot = &m_pOffPicture;
            partType = "IMAGE";
        } else if (child->GetName() == "ONRELAY") {
            if (!m_pOnRelay) {
                m_pOnRelay = std::make_unique<RelayEvent>(FWideString("ONRELAY"));
                m_pOnRelay->ReadRelay(child);
            }
            continue;
        } else {
            continue;
        }
        // A repeated tag replaces the earlier part.
        delete *slot;
        *slot = priCreatePart(partType, child);
    }
    if (!m_pOnPicture || !m_pOffPicture)
        return false;
    priComputeSize();
    m_rect.Set(m_rect.left, m_rect.top, m_rect.left + m_iWidth, m_rect.top + m_iHeight);
    return true;
}

void FUiToggle::priComputeSize()
{
    // The pictures lie on one another; the label is drawn centred over them.
    int width = std::max(m_pOnPicture->GetLayoutObject(true)->GetMinSize(),
                         m_pOffPicture->GetLayoutObject(true)->GetMinSize());
    int height = std::max(m_pOnPicture->GetLayoutObject(false)->GetMinSize(),
                          m_pOffPicture->GetLayoutObject(false)->GetMinSize());
    if (m_pLabel) {
        width = std::max(width, m_pLabel->GetLayoutObject(true)->GetMinSize());
        height = std::max(height, m_pLabel->GetLayoutObject(false)->GetMinSize());
    }
    m_iWidth = width;
    m_iHeight = height;
    SetWidgetLayout(m_hLayout, width, 0);
    SetWidgetLayout(m_vLayout, height, 0);
}

bool FUiToggle::ReInitLayout()
{
    for (FIUiObject* part : {m_pOnPicture, m_pOffPicture, m_pLabel}) {
        if (part)
            part->ReInitLayout();
    }
    if (m_pOnPicture && m_pOffPicture)
        priComputeSize();
    return true;
}

bool FUiToggle::SetRect(int x, int y, int, int)
{
    m_rect.Set(x, y, x + m_iWidth, y + m_iHeight);
    for (FIUiObject* picture : {m_pOnPicture, m_pOffPicture}) {
        if (picture)
            picture->SetRect(x, y, m_iWidth, m_iHeight);
    }
    if (m_pLabel) {
        const int w = m_pLabel->GetLayoutObject(true)->GetMinSize();
        const int h = m_pLabel->GetLayoutObject(false)->GetMinSize();
        m_pLabel->SetRect(x + (m_iWidth - w) / 2, y + (m_iHeight - h) / 2, w, h);
    }
    return true;
}

void FUiToggle::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    FIUiObject* picture = m_bState ? m_pOnPicture : m_pOffPicture;
    if (!picture)
        return;
    picture->Display(target, xOffset, yOffset, clip);
    if (m_pLabel)
        m_pLabel->Display(target, xOffset, yOffset, clip);
}

FIUiObject* FUiToggle::HitTest(int x, int y)
{
    FIUiObject* picture = m_bState ? m_pOnPicture : m_pOffPicture;
    return picture && picture->HitTest(x, y) ? this : nullptr;
}

bool FUiToggle::MouseDown(int, int, bool, bool)
{
    if (m_bLatched)
        return true;
    m_bLatched = true;
    if (m_bFlips) {
        m_bState = !m_bState;
        InvalidateWidgetRect(m_pWindow, m_rect, false);
    } else if (!m_bState) {
        m_bState = true;
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        if (m_pOnRelay && m_bRelayResolved)
            m_pOnRelay->Fire(nullptr);
    }
    return true;
}

void FUiToggle::MouseUp(int, int, bool, bool)
{
    m_bLatched = false;
}
