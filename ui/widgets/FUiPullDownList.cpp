#include "FUiPullDownList.h"

#include <algorithm>

#include "FGenericUiWindow.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FUiWidgets.h"

namespace
{

class FUiPullDownListCreator final : public FUiWidgetCreator<FUiPullDownList>
{
};

const char kZeroAdjust[] = "ZeroAdjustSettingsName";

} // namespace

bool RegisterUiPullDownList(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiPullDownListCreator>(factory, "PULLDOWN");
}

FUiPullDownList::FUiPullDownList(const char* typeName) : FUiObject(typeName)
{
    m_pOnSelect = AddEvent(FWideString("ON_SELECT"));
    m_pOnSelectID = AddEvent(FWideString("ON_SELECT_ID"));
    m_pOnSendID = AddEvent(FWideString("ON_SEND_ID"));
}

FUiPullDownList::~FUiPullDownList()
{
    // The box may still be the window's popup: the window must not keep it.
    if (FGenericUiWindow* window = priWindow())
        if (m_pFirstChild && window->GetPopupObject() == m_pFirstChild)
            window->SetPopupObject(m_pFirstChild, false);
    priReleaseImages();
}

FGenericUiWindow* FUiPullDownList::priWindow() const
{
    return GetWidgetWindow(m_pWindow);
}

void FUiPullDownList::priReleaseImages()
{
    for (FIUiPixmap*& button : m_pButtons)
        ReleaseUiPixmap(button);
    ReleaseUiPixmap(m_pFrameImage);
}

bool FUiPullDownList::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag) || !app || !tag)
        return false;
    FWideString language;
    app->AddLanguageListener(this, language);
    bool found = false;
    FWideString name = tag->GetString("AppFont", FWideString(), &found);
    m_pAppFont = found ? app->GetAppFont(name) : nullptr;
    name = tag->GetString("InitialFont", FWideString(), &found);
    m_pInitialFont = found ? app->GetAppFont(name) : nullptr;
    for (FIUiFont* font : {m_pAppFont, m_pInitialFont})
        if (font)
            font->SelectLanguage(language);
    m_font.Read(tag);
    m_bUsePersistentData = tag->GetBool("_UsePersistentData", true);

    bool all = true;
    bool present = false;
    m_iMinHSize = tag->GetInt("MinHSize", 0, &present);
    all = all && present;
    m_iHStretch = tag->GetInt("HStretch", 0, &present);
    all = all && present;
    const char* keys[] = {"File_Normal", "File_MouseOver", "File_Pressed", "File_Disabled"};
    for (int i = 0; i < 4; ++i) {
        m_pButtons[i] = LoadPixmapFromTag(tag, keys[i], &present);
        all = all && present;
    }
    m_pFrameImage = LoadPixmapFromTag(tag, "File_Frame", &present);
    all = all && present;
    const FRect band = tag->GetRect("FrameRect", FRect(), &present);
    all = all && present;
    if (all) {
        for (int i = 1; i < 4; ++i)
            all = all && m_pButtons[i]->GetWidth() == m_pButtons[0]->GetWidth() &&
                  m_pButtons[i]->GetHeight() == m_pButtons[0]->GetHeight();
        // The script names inclusive pixels; the band keeps exclusive edges.
        m_frameBand = FRect(band.left, band.top, band.right + 1, band.bottom + 1);
        all = all && band.left >= 0 && band.top >= 0 && band.right >= band.left - 1 &&
              band.bottom >= band.top - 1 && m_frameBand.right <= m_pFrameImage->GetWidth() &&
              m_frameBand.bottom <= m_pFrameImage->GetHeight();
    }
    if (!all) {
        priReleaseImages();
        return false;
    }
    if (tag->GetBool("_Disabled", false))
        m_iButtonState = 3;
    m_usDisplayText = tag->GetString("_DisplayText", FWideString());
    m_usIdentifier = tag->GetString("_IDText", FWideString());

    FPropList* boxTag = FindContentBoxTag(tag);
    FIUiObject* box = boxTag ? CreateChildWidget(this, boxTag) : nullptr;
    if (!box)
        return false;
    AppendChild(box);
    const int boxWidth = box->GetLayoutObject(true)->GetMinSize();
    const int boxHeight = box->GetLayoutObject(false)->GetMinSize();
    m_boxRect = FRect(0, 0, boxWidth, boxHeight);
    m_iMinHSize = std::max(m_iMinHSize, boxWidth);
    m_iClosedHeight = priClosedHeight();
    SetWidgetLayout(m_hLayout, m_iMinHSize, m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iClosedHeight, 0);
    return true;
}

int FUiPullDownList::priClosedHeight()
{
    int lineHeight = 0;
    int averageWidth = 0;
    if (m_pAppFont)
        m_pAppFont->GetFontMetrics(nullptr, lineHeight, averageWidth);
    else
        MeasureUiText(m_font.face.GetBuffer(), m_font.size, m_font.bold, m_font.italic, m_font.underline,
                      &lineHeight, &averageWidth);
    const long long height = static_cast<long long>(m_frameBand.top) + lineHeight +
                             (m_pFrameImage->GetHeight() - m_frameBand.bottom);
    return std::max(SaturatedSize(height), m_pButtons[0]->GetHeight());
}

FIUiRelay* FUiPullDownList::GetUiRelay(const FWideString& name)
{
    return LookUpUiRelayThroughChildren(this, m_pFirstChild, name);
}

bool FUiPullDownList::SetRect(int x, int y, int width, int)
{
    int buttonWidth = m_pButtons[0] ? m_pButtons[0]->GetWidth() : 0;
    int buttonHeight = m_pButtons[0] ? m_pButtons[0]->GetHeight() : 0;
    if (buttonHeight > 0 && buttonHeight < m_iClosedHeight) {
        buttonWidth = static_cast<int>(static_cast<long long>(buttonWidth) * m_iClosedHeight / buttonHeight);
        buttonHeight = m_iClosedHeight;
    }
    m_frame = FRect(x, y, x + width - buttonWidth, y + m_iClosedHeight);
    m_buttonRect = FRect(x + width - buttonWidth, y, x + width, y + buttonHeight);
    m_boxRect =
        FRect(x, y + m_iClosedHeight, x + m_boxRect.Width(), y + m_iClosedHeight + m_boxRect.Height());
    if (m_pFirstChild)
        m_pFirstChild->SetRect(x, y + m_iClosedHeight, width, m_boxRect.Height());
    m_rect = FRect(x, y, x + width, y + m_iClosedHeight);
    return true;
}

FWideString FUiPullDownList::priShownText() const
{
    if (m_pCurrentString)
        if (const FWideString* text = m_pCurrentString->GetText())
            return *text;
    return m_usDisplayText;
}

void FUiPullDownList::Display(FIUiPixmap* target, int, int, const FRect& clip)
{
    if (!target || !m_pFrameImage)
        return;
    const FRect area = IntersectWidgetRects(m_rect, clip);
    if (IsWidgetRectEmpty(area))
        return;
    if (FIUiPixmap* frame = CreateUiPixmap(m_frame.Width(), m_frame.Height(), true)) {
        frame->FillRGBA(0, 0, 0, 0);
        m_pFrameImage->DrawNineSliceRect(frame, m_frameBand, true);
        if (m_iButtonState == 3)
            frame->BlendRect(FRect(0, 0, frame->GetWidth(), frame->GetHeight()), FUiColor(0, 0, 0, 88));
        DrawWidgetPicture(frame, target, m_frame, area);
        ReleaseUiPixmap(frame);
    }
    if (!m_usDisplayText.IsEmpty()) {
        FIUiPixmap* text = nullptr;
        if (m_pAppFont) {
            FIUiFont* font = m_pInitialFont && m_bDefaultShown ? m_pInitialFont : m_pAppFont;
            text = font->RenderText(nullptr, priShownText(), false);
        } else {
            text = RenderInlineFontText(m_font, m_usDisplayText, nullptr);
        }
        if (text) {
            const int left = m_frame.left + m_frameBand.left;
            const int top = m_frame.top + m_frameBand.top;
            DrawWidgetPicture(text, target,
                              FRect(left, top, left + text->GetWidth(), top + text->GetHeight()), area);
            ReleaseUiPixmap(text);
        }
    }
    FIUiPixmap* image = m_pButtons[std::clamp(m_iButtonState, 0, 3)];
    if (image)
        if (FIUiPixmap* button = CreateUiPixmap(m_buttonRect.Width(), m_buttonRect.Height(), true)) {
            button->FillRGBA(0, 0, 0, 0);
            image->Blit(button, FRect(0, 0, button->GetWidth(), button->GetHeight()),
                        FRect(0, 0, image->GetWidth(), image->GetHeight()));
            DrawWidgetPicture(button, target, m_buttonRect, area);
            ReleaseUiPixmap(button);
        }
}

FIUiObject* FUiPullDownList::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

void FUiPullDownList::priInvalidate(bool update)
{
    InvalidateWidgetRect(m_pWindow, m_rect, update);
}

bool FUiPullDownList::MouseDown(int, int, bool, bool)
{
    if (m_iButtonState == 3 || m_bPressed)
        return true;
    // The window closes the box on a press elsewhere without telling us.
    FGenericUiWindow* window = priWindow();
    if (m_bOpen && window && window->GetPopupObject() != m_pFirstChild)
        m_bOpen = false;
    if (m_bOpen) {
        if (window)
            window->SetPopupObject(m_pFirstChild, false);
        m_bOpen = false;
        m_bClosedByPress = true;
    } else {
        m_bPressed = true;
        m_iButtonState = 2;
        priInvalidate();
    }
    return true;
}

void FUiPullDownList::MouseUp(int x, int y, bool, bool)
{
    if (m_iButtonState == 3)
        return;
    m_bPressed = false;
    if (WidgetRectContains(m_rect, x, y)) {
        if (m_bClosedByPress) {
            m_bClosedByPress = false;
        } else if (m_pFirstChild) {
            if (FGenericUiWindow* window = priWindow())
                window->SetPopupObject(m_pFirstChild, true);
            m_bOpen = true;
        }
        m_iButtonState = 1;
    } else {
        m_iButtonState = 0;
    }
    priInvalidate();
}

void FUiPullDownList::MouseEnter(int, int)
{
    if (m_iButtonState == 0 || m_iButtonState == 1) {
        m_iButtonState = m_bPressed ? 2 : 1;
        priInvalidate();
    }
}

void FUiPullDownList::MouseLeave(int, int)
{
    if (m_iButtonState == 3)
        return;
    m_bClosedByPress = false;
    if (m_iButtonState == 1 || m_iButtonState == 2)
        m_iButtonState = m_bPressed ? 1 : 0;
    priInvalidate();
}

void FUiPullDownList::priFireText()
{
    FWideString text = m_usDisplayText;
    m_pOnSelect->Fire(&text);
}

void FUiPullDownList::priFireID(RelayEvent* event)
{
    FWideString identifier = m_usIdentifier;
    event->Fire(&identifier);
}

void FUiPullDownList::priRestore()
{
    if (!m_bUsePersistentData || !m_pApp)
        return;
    FPropList* entry = m_pApp->GetPersistentData(m_usFullName);
    if (!entry)
        return;
    bool textFound = false;
    FWideString stored = entry->GetString("DisplayText", m_usDisplayText, &textFound);
    // A choice named by a display string comes back in the language of this start.
    const FWideString name = entry->GetString("DisplayString", FWideString());
    FIUiMultiLangString* named = name.IsEmpty() ? nullptr : m_pApp->GetDisplayString(name);
    if (named && named->GetText()) {
        FWideString language;
        m_pApp->AddLanguageListener(nullptr, language);
        named->SelectLanguage(language);
        m_pCurrentString = named;
        m_usCurrentName = name;
        m_usDisplayText = *named->GetText();
    } else if (textFound) {
        if (m_pDefaultString && m_pDefaultString->GetText() && m_pDefaultString->HasText(stored)) {
            m_bDefaultShown = true;
            m_usDefaultText = *m_pDefaultString->GetText();
            stored = m_usDefaultText;
            m_pCurrentString = m_pDefaultString;
        }
        m_pZeroString = m_pApp->GetDisplayString(FWideString(kZeroAdjust));
        if (m_pZeroString && m_pZeroString->HasText(stored) && m_pZeroString->GetText()) {
            stored = *m_pZeroString->GetText();
            m_pCurrentString = nullptr;
        }
        m_usDisplayText = stored;
    }
    priFireText();
    bool idFound = false;
    const FWideString identifier = entry->GetString("IDText", m_usIdentifier, &idFound);
    if (idFound)
        m_usIdentifier = identifier;
    m_bRestored = textFound && idFound;
    priFireID(m_pOnSelectID);
}

void FUiPullDownList::priSave()
{
    if (!m_bUsePersistentData || !m_pApp)
        return;
    FPropList* entry = m_pApp->GetPersistentData(m_usFullName);
    if (!entry)
        return;
    entry->SetString(FWideString("DisplayText"), priShownText());
    entry->SetString(FWideString("DisplayString"), m_pCurrentString ? m_usCurrentName : FWideString());
    entry->SetString(FWideString("IDText"), m_usIdentifier);
}

void FUiPullDownList::priSetLanguage()
{
    if (m_pDefaultString && m_pDefaultString->GetText() && m_pCurrentString == m_pDefaultString) {
        m_bDefaultShown = true;
        m_usDefaultText = *m_pDefaultString->GetText();
        m_usDisplayText = m_usDefaultText;
    }
    m_pZeroString = m_pApp ? m_pApp->GetDisplayString(FWideString(kZeroAdjust)) : nullptr;
    if (m_pZeroString && m_pZeroString->HasText(m_usDisplayText) && m_pZeroString->GetText()) {
        m_usDisplayText = *m_pZeroString->GetText();
        priFireText();
    }
    priInvalidate();
}

bool FUiPullDownList::UiRelayMessage(const FWideString& message, void* data)
{
    FIUiMultiLangString* named = nullptr;
    const auto lookUp = [&](const FWideString& name) {
        named = m_pApp ? m_pApp->GetDisplayString(name) : nullptr;
        if (named) {
            FWideString language;
            m_pApp->AddLanguageListener(nullptr, language);
            named->SelectLanguage(language);
        }
        return named;
    };
    if (message == "Post Creation Initialization") {
        priRestore();
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        priSave();
        return true;
    }
    if (message == "RollUp") {
        if (m_bOpen) {
            if (FGenericUiWindow* window = priWindow())
                window->SetPopupObject(m_pFirstChild, false);
            m_bOpen = false;
        }
        return true;
    }
    if (message == "SendText") {
        priFireText();
        return true;
    }
    if (message == "SendID") {
        priFireID(m_pOnSendID);
        return true;
    }
    if (message == "Enable" || message == "Disable" || message == "ToggleEnabled") {
        const bool disabled = m_iButtonState == 3;
        if (message == "Enable" && disabled)
            m_iButtonState = 0;
        else if (message == "Disable" && !disabled)
            m_iButtonState = 3;
        else if (message == "ToggleEnabled")
            m_iButtonState = disabled ? 0 : 3;
        priInvalidate();
        return true;
    }
    if (!data)
        return false;
    const FWideString* strings = static_cast<const FWideString*>(data);
    if (message == "Set Language") {
        if (m_pApp) {
            FWideString language;
            m_pApp->AddLanguageListener(nullptr, language);
            for (FIUiFont* font : {m_pAppFont, m_pInitialFont})
                if (font)
                    font->SelectLanguage(language);
            for (FIUiMultiLangString* string : {m_pDefaultString, m_pCurrentString})
                if (string)
                    string->SelectLanguage(language);
        }
        priSetLanguage();
        return true;
    }
    if (message == "SetText") {
        m_bDefaultShown = false;
        m_pCurrentString = nullptr;
        m_usDisplayText = strings[0];
        if (lookUp(strings[0])) {
            m_pCurrentString = named;
            m_usCurrentName = strings[0];
            if (const FWideString* text = named->GetText())
                m_usDisplayText = *text;
        }
        priFireText();
        priInvalidate();
        return true;
    }
    if (message == "SetDefaultString" || message == "SetTextString") {
        // A name the application does not know changes nothing.
        if (lookUp(strings[0])) {
            m_bDefaultShown = message == "SetDefaultString";
            if (m_bDefaultShown)
                m_pDefaultString = named;
            m_pCurrentString = named;
            m_usCurrentName = strings[0];
            if (const FWideString* text = named->GetText()) {
                m_usDisplayText = *text;
                priFireText();
            } else {
                m_usDisplayText.Clear();
            }
            priInvalidate();
        }
        return true;
    }
    if (message == "NotifyDefaultString") {
        m_pDefaultString = lookUp(strings[0]);
        if (m_pDefaultString && m_pDefaultString->GetText()) {
            m_usDefaultText = *m_pDefaultString->GetText();
            if (m_pCurrentString == m_pDefaultString) {
                m_usDisplayText = m_usDefaultText;
                m_bDefaultShown = true;
                priFireText();
                priInvalidate();
            }
        }
        return true;
    }
    if (message == "SetID") {
        m_usIdentifier = strings[0];
        priFireID(m_pOnSelectID);
        return true;
    }
    if (message == "GetText") {
        *static_cast<FWideString*>(data) = priShownText();
        return true;
    }
    if (message == "GetID") {
        *static_cast<FWideString*>(data) = m_usIdentifier;
        return true;
    }
    if (message == "InitPulldown" || message == "InitPulldownString") {
        if (!m_bRestored || m_usIdentifier.IsEmpty()) {
            const FWideString text = strings[0];
            const FWideString identifier = strings[1];
            m_usDisplayText = text;
            m_usIdentifier = identifier;
            if (message == "InitPulldown") {
                m_pCurrentString = nullptr;
                priInvalidate();
            } else if (lookUp(text)) {
                m_pCurrentString = named;
                m_usCurrentName = text;
                priInvalidate();
            }
        }
        return true;
    }
    if (message == "InitText") {
        if (!m_bRestored) {
            m_usDisplayText = strings[0];
            priFireText();
            priInvalidate();
        }
        return true;
    }
    if (message == "InitID") {
        if (!m_bRestored) {
            m_usIdentifier = strings[0];
            priFireID(m_pOnSelectID);
        }
        return true;
    }
    if (message == "SetEnabled") {
        const bool enable = *static_cast<const bool*>(data);
        const int before = m_iButtonState;
        if (enable && m_iButtonState == 3)
            m_iButtonState = 0;
        else if (!enable && m_iButtonState != 3)
            m_iButtonState = 3;
        priInvalidate(before != m_iButtonState);
        return true;
    }
    return false;
}
