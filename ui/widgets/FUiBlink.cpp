#include "FUiBlink.h"

#include "FException.h"
#include "FIUiApp.h"
#include "FIUiWindow.h"
#include "FPropList.h"
#include "FUiObjectFactory.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

class FUiBlinkCreator final : public FUiWidgetCreator<FUiBlink>
{
};

bool RegisterUiBlink(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiBlinkCreator>(factory, "BLINK");
}

FUiBlink::FUiBlink(const char* typeName) : FUiObject(typeName) {}

FUiBlink::~FUiBlink()
{
    delete m_pOn;
    delete m_pOff;
}

bool FUiBlink::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag) || !tag)
        return false;
    bool found = false;
    m_iPeriod = tag->GetInt("Period", 1000, &found);
    if (!found)
        throw FExceptionUiScript("FUiBlink::InitUiObject() failed: missing required property 'Period'!");
    FIUiObjectFactory* factory = window ? window->GetFactory() : (app ? app->GetUiObjectFactory() : nullptr);
    for (FPropList* child = tag->GetFirstChild(); child && factory; child = child->GetNext()) {
        if (!(child->GetName() == "IMAGE"))
            continue;
        const FWideString name = child->GetString("Name", FWideString());
        FIUiObject** slot = name == "On" ? &m_pOn : (name == "Off" ? &m_pOff : nullptr);
        if (!slot || *slot)
            continue;
        // The image stays even when its own initialisation fails.
        *slot = factory->CreateUiObject(child->GetName().GetNarrow());
        if (*slot)
            (*slot)->InitUiObject(app, window, this, child);
    }
    if (!m_pOn || !m_pOff)
        throw FExceptionUiScript("FUiBlink::InitUiObject() failed: do not have both on and off images!");
    m_iWidth = m_pOn->GetLayoutObject(true)->GetMinSize();
    m_iHeight = m_pOn->GetLayoutObject(false)->GetMinSize();
    if (m_pOff->GetLayoutObject(true)->GetMinSize() != m_iWidth ||
        m_pOff->GetLayoutObject(false)->GetMinSize() != m_iHeight) {
        delete m_pOn;
        delete m_pOff;
        m_pOn = nullptr;
        m_pOff = nullptr;
        throw FExceptionUiScript("FUiBlink::InitUiObject() failed: on and off images are not the same size!");
    }
    // A box gives the blink the room of its images.
    SetWidgetLayout(m_hLayout, m_iWidth, 0);
    SetWidgetLayout(m_vLayout, m_iHeight, 0);
    m_rect.Set(0, 0, m_iWidth, m_iHeight);
    return true;
}

bool FUiBlink::SetRect(int x, int y, int, int)
{
    for (FIUiObject* image : {m_pOn, m_pOff}) {
        if (image)
            image->SetRect(x, y, m_iWidth, m_iHeight);
    }
    m_rect.Set(x, y, x + m_iWidth, y + m_iHeight);
    return true;
}

void FUiBlink::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (FIUiObject* shown = m_bShowingOn ? m_pOn : m_pOff)
        shown->Display(target, xOffset, yOffset, clip);
}

void FUiBlink::Tick(int elapsedMs)
{
    m_iAccumulator = SaturatedSize(static_cast<long long>(m_iAccumulator) + (elapsedMs > 0 ? elapsedMs : 0));
    if (m_iAccumulator <= m_iPeriod)
        return;
    m_bShowingOn = !m_bShowingOn;
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    m_iAccumulator = 0;
}
