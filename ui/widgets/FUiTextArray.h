#pragma once

#include <vector>

#include "FUiObject.h"
#include "FUiWidgetFrame.h"
#include "FontAttributes.h"

class FIUiFont;
class FIUiPixmap;

// The most texts a TEXTARRAY may declare: each is rendered at start to size the widget.
inline constexpr int kMaxTextArrayStrings = 4096;

// TEXTARRAY: a fixed set of texts (literals or display-string names) showing one,
// chosen by index, by a decimal string or by a boolean; as large as its largest text.
class FUiTextArray : public FUiObject
{
public:
    explicit FUiTextArray(const char* typeName);
    ~FUiTextArray() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    bool ReInitLayout() override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;

    int GetIndex() const { return m_iIndex; }
    int GetCount() const { return int(m_texts.size()); }
    const FWideString& GetTextAt(int index) const { return m_texts[size_t(index)]; }
    bool IsVisible() const { return m_bVisible; }
    FIUiPixmap* GetTextPixmap() const { return m_pTextPixmap; }

private:
    FIUiPixmap* priRenderString(int index);
    void priMeasureAll();
    void priSelect(int64_t index);

    FIUiFont* m_pFont = nullptr;
    FUiInlineFont m_inlineFont;
    FontAttributes m_attributes;
    std::vector<FWideString> m_texts;
    int m_iIndex = 0;
    FIUiPixmap* m_pTextPixmap = nullptr;
    int m_iLargestWidth = 0;
    int m_iLargestHeight = 0;
    bool m_bVisible = true;
    bool m_bCenterJust = true;
    bool m_bRightJust = true;
    RelayEvent* m_pOnPress = nullptr;
};
