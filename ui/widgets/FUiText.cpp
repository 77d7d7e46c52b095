#include "FUiText.h"

#include <algorithm>

#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiTextCreator final : public FUiWidgetCreator<FUiText>
{
};

class FUiLanguageCreator final : public FUiWidgetCreator<FUiLanguage>
{
};

const FWideString kByeBye("we're goin' bye-bye");
const FWideString kSetLanguage("Set Language");

} // namespace

bool RegisterUiText(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiTextCreator>(factory, "TEXT");
}

bool RegisterUiLanguage(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiLanguageCreator>(factory, "LANGUAGE");
}

// ---- TEXT ----

FUiText::FUiText(const char* typeName) : FUiObject(typeName)
{
    m_pOnPress = AddEvent(FWideString("ON_PRESS"));
}

FUiText::~FUiText()
{
    ReleaseUiPixmap(m_pTextPixmap);
}

bool FUiText::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!app || !tag)
        return false;
    bool found = false;
    const FWideString fontName = tag->GetString("AppFont", FWideString(), &found);
    m_pFont = found ? app->GetAppFont(fontName) : nullptr;
    ReadWidgetFontAttributes(m_attributes, tag);
    // Registered before anything can fail: the base destructor leaves the
    // listeners, so a TEXT deleted for a bad DisplayString leaves nothing behind.
    FWideString language;
    app->AddLanguageListener(this, language);
    m_bVisible = tag->GetBool("_Visible", true);
    m_bCenterJust = tag->GetBool("_CenterJust", true);
    m_bRightJust = tag->GetBool("_RightJust", true);
    m_iMinWidth = std::max(tag->GetInt("_MinHSize", 0), 0);
    m_iMinHeight = std::max(tag->GetInt("_MinVSize", 0), 0);
    if (m_pFont) {
        int lineHeight = 0, averageWidth = 0;
        m_pFont->GetFontMetrics(&m_attributes, lineHeight, averageWidth);
        m_iMinHeight = std::max(m_iMinHeight, lineHeight);
    }
    const FWideString name = tag->GetString("DisplayString", FWideString());
    m_pDisplayString = name.IsEmpty() ? nullptr : app->GetDisplayString(name);
    if (!m_pDisplayString)
        return false;
    m_pDisplayString->SelectLanguage(language);
    ReInitLayout();
    return true;
}

void FUiText::priRender()
{
    ReleaseUiPixmap(m_pTextPixmap);
    if (!m_pDisplayString)
        return;
    if (m_pFont) {
        const FWideString* text = m_pDisplayString->GetText();
        if (text)
            m_pTextPixmap = m_pFont->RenderText(&m_attributes, *text, !m_bEnabled);
        return;
    }
    m_pTextPixmap = m_pDisplayString->Render(nullptr, !m_bEnabled, &m_attributes);
}

bool FUiText::ReInitLayout()
{
    FUiObject::ReInitLayout();
    m_iWidth = m_iMinWidth;
    m_iHeight = m_iMinHeight;
    priRender();
    if (m_pTextPixmap) {
        m_iWidth = std::max(m_iWidth, m_pTextPixmap->GetWidth());
        m_iHeight = std::max(m_iHeight, m_pTextPixmap->GetHeight());
    }
    SetWidgetLayout(m_hLayout, m_iWidth, 0);
    SetWidgetLayout(m_vLayout, m_iHeight, 0);
    m_rect.SetWidth(m_iWidth);
    m_rect.SetHeight(m_iHeight);
    return true;
}

bool FUiText::SetRect(int x, int y, int, int)
{
    m_rect = OffsetWidgetRect(FRect(0, 0, m_iWidth, m_iHeight), x, y);
    return true;
}

void FUiText::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_bVisible || !m_pTextPixmap)
        return;
    const int textWidth = m_pTextPixmap->GetWidth();
    const int textHeight = m_pTextPixmap->GetHeight();
    int left = m_rect.left;
    if (m_bCenterJust)
        left = m_rect.left + (m_iWidth - textWidth) / 2;
    else if (m_bRightJust)
        left = m_rect.right - textWidth;
    const int top = m_rect.top + (m_iHeight - textHeight) / 2;
    const FRect destination =
        OffsetWidgetRect(FRect(left, top, left + textWidth, top + textHeight), xOffset, yOffset);
    DrawWidgetPicture(m_pTextPixmap, target, destination, clip);
}

FIUiObject* FUiText::HitTest(int x, int y)
{
    return m_bVisible && WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

bool FUiText::MouseDown(int, int, bool, bool)
{
    if (m_bEnabled)
        m_pOnPress->Fire(nullptr);
    return true;
}

void FUiText::priRepaint()
{
    InvalidateWidgetRect(m_pWindow, m_rect, true);
}

bool FUiText::UiRelayMessage(const FWideString& message, void* data)
{
    bool changed = false;
    if (message == "SetEnabled") {
        if (!HandleWidgetEnabling(message, data, m_bEnabled, changed))
            return false;
        if (changed) {
            // Drawn as the layout draws it, with the application font where one is set.
            priRender();
            priRepaint();
        }
        return true;
    }
    if (HandleWidgetVisibility(message, data, m_bVisible, changed)) {
        if (changed || message == "ToggleVisibility" || message == "Visibility")
            priRepaint();
        return true;
    }
    if (message == kSetLanguage) {
        if (!data)
            return false;
        if (m_pDisplayString)
            m_pDisplayString->SelectLanguage(*static_cast<const FWideString*>(data));
        ReleaseUiPixmap(m_pTextPixmap);
        ReLayoutWidgetWindow(m_pWindow, 0, 0);
        return true;
    }
    if (message == "GetDisplayString") {
        if (!data)
            return false;
        FWideString& out = *static_cast<FWideString*>(data);
        const FWideString* text = m_pDisplayString ? m_pDisplayString->GetText() : nullptr;
        if (text)
            out = *text;
        else
            out.Clear();
        return true;
    }
    if (message == kByeBye) {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        return true;
    }
    return false;
}

// ---- LANGUAGE ----

FUiLanguage::FUiLanguage(const char* typeName) : FUiObject(typeName)
{
    m_pOnInit = AddEvent(FWideString("ON_INIT"));
    m_pOnPing = AddEvent(FWideString("ON_PING"));
}

FUiLanguage::~FUiLanguage() = default;

bool FUiLanguage::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    const bool ok = FUiObject::InitUiObject(app, window, parent, tag);
    if (app)
        app->AddLanguageListener(this, m_usLanguage);
    return ok;
}

bool FUiLanguage::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        m_pOnInit->Fire(&m_usLanguage);
        return true;
    }
    if (message == kSetLanguage) {
        if (!data)
            return false;
        m_usLanguage = *static_cast<const FWideString*>(data);
        return true;
    }
    if (message == "Ping") {
        if (!data)
            return false;
        m_pOnPing->Fire(&m_usLanguage);
        return true;
    }
    if (message == kByeBye) {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        return true;
    }
    return false;
}
