#include "FUiDynaString.h"

#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FUiTextLayout.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiDynaStringCreator final : public FUiWidgetCreator<FUiDynaString>
{
};

} // namespace

bool RegisterUiDynaString(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiDynaStringCreator>(factory, "DYNA_STRING");
}

FUiDynaString::FUiDynaString(const char* typeName) : FUiObject(typeName)
{
    m_pOnPress = AddEvent(FWideString("ON_PRESS"));
    AddStringProperty("AppFont", true, &m_usAppFont, FWideString());
    AddIntProperty("MinHSize", true, &m_iMinHSize, 0);
    AddIntProperty("HStretch", true, &m_iHStretch, 0);
    AddIntProperty("VStretch", true, &m_iVStretch, 0);
    AddStringProperty("_DisplayString", false, &m_usDisplayString, FWideString());
    AddBoolProperty("_CenterJust", false, &m_bCenterJust, false);
}

FUiDynaString::~FUiDynaString()
{
    ReleaseUiPixmap(m_pTextPixmap);
}

bool FUiDynaString::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag) || !app)
        return false;
    m_pFont = app->GetAppFont(m_usAppFont);
    if (!m_pFont)
        return false;
    FWideString language;
    app->AddLanguageListener(this, language);
    int average = 0;
    m_pFont->GetFontMetrics(nullptr, m_iHeight, average);
    m_iWidth = m_iMinHSize;
    priRender();
    if (m_pTextPixmap) {
        m_iWidth = m_pTextPixmap->GetWidth();
        m_iHeight = m_pTextPixmap->GetHeight();
    }
    SetWidgetLayout(m_hLayout, m_iWidth, m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iHeight, m_iVStretch);
    m_rect = FRect(0, 0, m_hLayout.GetMinSize(), m_vLayout.GetMinSize());
    return true;
}

void FUiDynaString::priRender()
{
    ReleaseUiPixmap(m_pTextPixmap);
    m_usShown.Clear();
    FWideString source;
    if (m_bTextMode) {
        source = m_usSetText;
    } else {
        FIUiMultiLangString* ds = m_pApp ? m_pApp->GetDisplayString(m_usDisplayString) : nullptr;
        if (!ds)
            return;
        FWideString language;
        m_pApp->AddLanguageListener(nullptr, language);
        ds->SelectLanguage(language);
        if (const FWideString* text = ds->GetText())
            source = *text;
    }
    if (source.IsEmpty() || !m_pFont)
        return;
    m_pTextPixmap = m_pFont->RenderText(nullptr, source, false);
    if (m_pTextPixmap)
        m_usShown = source;
}

void FUiDynaString::priResize()
{
    m_iWidth = m_pTextPixmap ? m_pTextPixmap->GetWidth() : 0;
    m_iHeight = m_pTextPixmap ? m_pTextPixmap->GetHeight() : 0;
    SetWidgetLayout(m_hLayout, m_iWidth, m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iHeight, m_iVStretch);
    ReLayoutWidgetWindow(m_pWindow, 0, 0);
}

bool FUiDynaString::SetRect(int x, int y, int width, int height)
{
    m_rect = FRect(x, y, x + PlacedWidgetLength(m_hLayout, width), y + PlacedWidgetLength(m_vLayout, height));
    return true;
}

void FUiDynaString::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    DrawWidgetTextLine(m_pTextPixmap, m_rect, m_bCenterJust, target, xOffset, yOffset, clip);
}

FIUiObject* FUiDynaString::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

bool FUiDynaString::MouseDown(int, int, bool, bool)
{
    m_pOnPress->Fire(nullptr);
    return true;
}

bool FUiDynaString::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Set Language") {
        if (!data)
            return false;
        priRender();
        priResize();
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        return true;
    }
    if (message == "SetText") {
        const FWideString text = data ? *static_cast<const FWideString*>(data) : FWideString(" ");
        if (!m_bTextMode || !WideTextEquals(text, m_usSetText)) {
            m_bTextMode = true;
            m_usSetText = text;
            priRender();
            priResize();
        }
        return true;
    }
    if (message == "SetDisplayString") {
        const FWideString name = data ? *static_cast<const FWideString*>(data) : FWideString(" ");
        if (m_bTextMode || !WideTextEquals(name, m_usDisplayString)) {
            m_bTextMode = false;
            m_usDisplayString = name;
            priRender();
            priResize();
        }
        return true;
    }
    return false;
}
