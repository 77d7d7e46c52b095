#include "FUiTextBox.h"

#include <algorithm>

#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFont.h"
#include "FUiTextLayout.h"
#include "FUiTextMeasure.h"
#include "FUiWidgets.h"

namespace
{

class FUiTextBoxCreator final : public FUiWidgetCreator<FUiTextBox>
{
};

} // namespace

bool RegisterUiTextBox(FIUiObjectFactory* factory)
{
    bool all = RegisterUiWidgetCreator<FUiTextBoxCreator>(factory, "TEXT_BOX");
    all = RegisterUiWidgetCreator<FUiTextBoxCreator>(factory, "DYNA_TEXT") && all;
    return all;
}

FUiTextBox::FUiTextBox(const char* typeName) : FUiObject(typeName)
{
    m_pOnPress = AddEvent(FWideString("ON_PRESS"));
    m_pOnGetText = AddEvent(FWideString("ON_GET_TEXT"));
}

FUiTextBox::~FUiTextBox()
{
    ReleaseUiPixmap(m_pTextPixmap);
}

bool FUiTextBox::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!app || !tag)
        return false;
    m_bDynamic = m_typeName == "DYNA_TEXT";
    if (!m_bDynamic)
        m_bPath = tag->GetBool("DirPath", false);
    bool found = false;
    const FWideString fontName = tag->GetString("AppFont", FWideString(), &found);
    if (found) {
        m_pFont = app->GetAppFont(fontName);
        if (m_pFont) {
            FWideString language;
            app->AddLanguageListener(this, language);
        }
    }
    m_inlineFont.Read(tag);
    ReadWidgetFontAttributes(m_attributes, tag);
    bool all = true;
    const int minWidth = tag->GetInt("MinHSize", 0, &found);
    all = all && found;
    m_iHStretch = tag->GetInt("HStretch", 0, &found);
    all = all && found;
    m_iVStretch = tag->GetInt("VStretch", 0, &found);
    all = all && found;
    m_usText = tag->GetString("_Text", FWideString());
    m_bCenterJust = tag->GetBool("_CenterJust", false);
    if (!all)
        return false;

    // Fired before the relays are connected, so only a target found at once could answer.
    FWideString asked;
    if (!m_pOnGetText->Fire(&asked)) {
        m_usText = asked;
        InvalidateWidgetRect(m_pWindow, m_rect, false);
    }

    int lineHeight = 0, average = 0;
    if (m_pFont)
        m_pFont->GetFontMetrics(&m_attributes, lineHeight, average);
    else
        MeasureUiText(m_inlineFont.face.GetBuffer(), m_inlineFont.size, m_inlineFont.bold,
                      m_inlineFont.italic, m_inlineFont.underline, &lineHeight, &average);
    m_iWidth = std::max(minWidth, 0);
    m_iHeight = std::max(lineHeight, 0);
    if (m_bDynamic) {
        priRenderWhole();
        if (m_pTextPixmap) {
            m_iWidth = m_pTextPixmap->GetWidth();
            m_iHeight = m_pTextPixmap->GetHeight();
        }
        SetWidgetLayout(m_hLayout, m_iWidth, m_iHStretch);
        SetWidgetLayout(m_vLayout, m_iHeight, m_iVStretch);
    } else {
        SetWidgetLayout(m_hLayout, m_iWidth, m_iHStretch);
        SetWidgetLayout(m_vLayout, m_iHeight, m_iVStretch);
        if (!m_usText.IsEmpty()) {
            // Measured, not drawn: a text wider than any pixmap still gives its width.
            const FUiMeasureFn measure =
                m_pFont ? MakeFontMeasure(m_pFont, &m_attributes) : MakeInlineFontMeasure(m_inlineFont);
            const int64_t width = MeasureTextPixels(measure, m_usText);
            if (width >= 0) {
                m_hLayout.SetMaxSize(SaturatedSize(width));
                m_vLayout.SetMaxSize(m_iHeight);
            }
        }
    }
    m_rect = FRect(0, 0, m_iWidth, m_iHeight);
    return true;
}

FIUiPixmap* FUiTextBox::priRender(const FWideString& text)
{
    if (text.IsEmpty())
        return nullptr;
    if (m_pFont)
        return m_pFont->RenderText(&m_attributes, text, !m_bEnabled);
    return RenderInlineFontText(m_inlineFont, text, nullptr);
}

void FUiTextBox::priRenderWhole()
{
    ReleaseUiPixmap(m_pTextPixmap);
    m_usShown = m_usText;
    m_pTextPixmap = priRender(m_usText);
}

void FUiTextBox::priFitText()
{
    ReleaseUiPixmap(m_pTextPixmap);
    m_usShown.Clear();
    if (m_usText.IsEmpty())
        return;
    const FUiMeasureFn measure =
        m_pFont ? MakeFontMeasure(m_pFont, &m_attributes) : MakeInlineFontMeasure(m_inlineFont);
    m_usShown = FitTextToWidth(m_usText, m_bPath, m_rect.Width(), measure);
    m_pTextPixmap = priRender(m_usShown);
}

void FUiTextBox::priRerender()
{
    if (m_bDynamic)
        priRenderWhole();
    else
        priFitText();
}

void FUiTextBox::priResizeToPixmap()
{
    m_iWidth = m_pTextPixmap ? m_pTextPixmap->GetWidth() : 0;
    m_iHeight = m_pTextPixmap ? m_pTextPixmap->GetHeight() : 0;
    SetWidgetLayout(m_hLayout, m_iWidth, m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iHeight, m_iVStretch);
    ReLayoutWidgetWindow(m_pWindow, 0, 0);
}

bool FUiTextBox::SetRect(int x, int y, int width, int height)
{
    m_rect = FRect(x, y, x + PlacedWidgetLength(m_hLayout, width), y + PlacedWidgetLength(m_vLayout, height));
    if (!m_bDynamic)
        priFitText();
    return true;
}

void FUiTextBox::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    DrawWidgetTextLine(m_pTextPixmap, m_rect, m_bCenterJust, target, xOffset, yOffset, clip);
}

FIUiObject* FUiTextBox::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

bool FUiTextBox::MouseDown(int, int, bool, bool)
{
    m_pOnPress->Fire(nullptr);
    return true;
}

void FUiTextBox::priSetEnabled(bool enabled)
{
    if (enabled == m_bEnabled)
        return;
    m_bEnabled = enabled;
    priRerender();
    InvalidateWidgetRect(m_pWindow, m_rect, true);
}

bool FUiTextBox::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Set Language") {
        if (!data)
            return false;
        priRerender();
        if (m_bDynamic)
            priResizeToPixmap();
        else
            InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        return true;
    }
    if (message == "SetEnabled") {
        if (!data)
            return false;
        priSetEnabled(*static_cast<const bool*>(data));
        return true;
    }
    if (message == "Enable" || message == "Disable") {
        priSetEnabled(message == "Enable");
        return true;
    }
    if (message == "GetText") {
        if (!data)
            return false;
        *static_cast<FWideString*>(data) = m_usText;
        return true;
    }
    if (message == "SetText") {
        const FWideString text = data ? *static_cast<const FWideString*>(data) : FWideString();
        if (WideTextEquals(text, m_usText))
            return true;
        m_usText = text;
        priRerender();
        if (m_bDynamic) {
            const int width = m_pTextPixmap ? m_pTextPixmap->GetWidth() : 0;
            const int height = m_pTextPixmap ? m_pTextPixmap->GetHeight() : 0;
            if (width != m_iWidth || height != m_iHeight) {
                priResizeToPixmap();
                return true;
            }
        }
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    return false;
}
