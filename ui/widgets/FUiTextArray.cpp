#include "FUiTextArray.h"

#include <algorithm>
#include <cstdio>

#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FUiTextLayout.h"
#include "FUiWidgets.h"

namespace
{

class FUiTextArrayCreator final : public FUiWidgetCreator<FUiTextArray>
{
};

} // namespace

bool RegisterUiTextArray(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiTextArrayCreator>(factory, "TEXTARRAY");
}

FUiTextArray::FUiTextArray(const char* typeName) : FUiObject(typeName)
{
    m_pOnPress = AddEvent(FWideString("ON_PRESS"));
}

FUiTextArray::~FUiTextArray()
{
    ReleaseUiPixmap(m_pTextPixmap);
}

bool FUiTextArray::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!app || !tag)
        return false;
    FWideString language;
    app->AddLanguageListener(this, language);
    bool found = false;
    const FWideString fontName = tag->GetString("AppFont", FWideString(), &found);
    if (found)
        m_pFont = app->GetAppFont(fontName);
    m_inlineFont.Read(tag);
    ReadWidgetFontAttributes(m_attributes, tag);
    const int count = tag->GetInt("NumStrings", 0, &found);
    if (!found || count < 1 || count > kMaxTextArrayStrings)
        return false;
    m_bVisible = tag->GetBool("_Visible", true);
    m_bCenterJust = tag->GetBool("_CenterJust", true);
    m_bRightJust = tag->GetBool("_RightJust", true);
    m_texts.clear();
    for (int i = 1; i <= count; ++i) {
        char key[24];
        std::snprintf(key, sizeof key, "Text%d", i);
        // A missing text shows its own key name.
        m_texts.push_back(tag->GetString(FWideString(key), FWideString(key)));
    }
    priMeasureAll();
    m_iIndex = 0;
    m_pTextPixmap = priRenderString(0);
    SetWidgetLayout(m_hLayout, m_iLargestWidth, 0);
    SetWidgetLayout(m_vLayout, m_iLargestHeight, 0);
    m_rect = FRect(0, 0, m_hLayout.GetMinSize(), m_vLayout.GetMinSize());
    return true;
}

FIUiPixmap* FUiTextArray::priRenderString(int index)
{
    if (index < 0 || index >= int(m_texts.size()))
        return nullptr;
    const FWideString& text = m_texts[size_t(index)];
    if (FIUiMultiLangString* ds = m_pApp ? m_pApp->GetDisplayString(text) : nullptr) {
        FWideString language;
        m_pApp->AddLanguageListener(nullptr, language);
        ds->SelectLanguage(language);
        return ds->Render(nullptr, false, &m_attributes);
    }
    if (m_pFont)
        return m_pFont->RenderText(nullptr, text, false);
    return RenderInlineFontText(m_inlineFont, text, nullptr);
}

void FUiTextArray::priMeasureAll()
{
    m_iLargestWidth = 0;
    m_iLargestHeight = 0;
    for (int i = 0; i < int(m_texts.size()); ++i) {
        FIUiPixmap* pixmap = priRenderString(i);
        if (!pixmap)
            continue;
        m_iLargestWidth = std::max(m_iLargestWidth, pixmap->GetWidth());
        m_iLargestHeight = std::max(m_iLargestHeight, pixmap->GetHeight());
        ReleaseUiPixmap(pixmap);
    }
}

bool FUiTextArray::ReInitLayout()
{
    FUiObject::ReInitLayout();
    priMeasureAll();
    SetWidgetLayout(m_hLayout, m_iLargestWidth, 0);
    SetWidgetLayout(m_vLayout, m_iLargestHeight, 0);
    m_rect.SetWidth(m_hLayout.GetMinSize());
    m_rect.SetHeight(m_vLayout.GetMinSize());
    return true;
}

bool FUiTextArray::SetRect(int x, int y, int, int)
{
    m_rect = OffsetWidgetRect(FRect(0, 0, m_hLayout.GetMinSize(), m_vLayout.GetMinSize()), x, y);
    return true;
}

void FUiTextArray::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_pTextPixmap)
        m_pTextPixmap = priRenderString(m_iIndex);
    if (!m_bVisible || !m_pTextPixmap)
        return;
    const int textWidth = m_pTextPixmap->GetWidth();
    int left = m_rect.left;
    if (m_bCenterJust)
        left += (m_rect.Width() - textWidth) / 2;
    else if (m_bRightJust)
        left = m_rect.right - textWidth;
    const FRect destination(left, m_rect.top, left + textWidth, m_rect.top + m_pTextPixmap->GetHeight());
    DrawWidgetPicture(m_pTextPixmap, target, OffsetWidgetRect(destination, xOffset, yOffset), clip);
}

FIUiObject* FUiTextArray::HitTest(int x, int y)
{
    return m_bVisible && WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

bool FUiTextArray::MouseDown(int, int, bool, bool)
{
    m_pOnPress->Fire(nullptr);
    return true;
}

void FUiTextArray::priSelect(int64_t index)
{
    const int clamped = int(std::clamp<int64_t>(index, 0, int64_t(m_texts.size()) - 1));
    if (clamped == m_iIndex)
        return;
    m_iIndex = clamped;
    ReleaseUiPixmap(m_pTextPixmap);
    m_pTextPixmap = priRenderString(m_iIndex);
    InvalidateWidgetRect(m_pWindow, m_rect, true);
}

bool FUiTextArray::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Set Language") {
        if (!data)
            return false;
        ReleaseUiPixmap(m_pTextPixmap);
        InvalidateWidgetRect(m_pWindow, m_rect, true);
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        return true;
    }
    bool changed = false;
    if (HandleWidgetVisibility(message, data, m_bVisible, changed)) {
        if (changed)
            InvalidateWidgetRect(m_pWindow, m_rect, true);
        return true;
    }
    if (message == "StringNum") {
        if (!data)
            return false;
        priSelect(*static_cast<const int*>(data));
        return true;
    }
    if (message == "StrStringNum") {
        if (!data)
            return false;
        priSelect(ParseDecimalSaturated(*static_cast<const FWideString*>(data)));
        return true;
    }
    if (message == "BoolString") {
        if (!data || m_texts.size() != 2)
            return false;
        priSelect(*static_cast<const bool*>(data) ? 1 : 0);
        return true;
    }
    return false;
}
