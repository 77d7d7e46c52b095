#pragma once

#include <vector>

#include "FUiObject.h"
#include "FUiWidgetFrame.h"

class FIUiPixmap;

// The most items a TEXTLIST keeps; further ITEM tags are ignored.
inline constexpr int kMaxTextListItems = 64;

// TEXTLIST: up to 64 item texts stepped through, one up or down, on two
// message names the script chooses.
class FUiTextList : public FUiObject
{
public:
    explicit FUiTextList(const char* typeName);
    ~FUiTextList() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;

    unsigned GetIndex() const { return m_uIndex; }
    int GetCount() const { return int(m_items.size()); }
    FIUiPixmap* GetTextPixmap() const { return m_pTextPixmap; }

private:
    void priChange();

    FUiInlineFont m_inlineFont;
    unsigned m_uIndex = 0;
    FWideString m_usIncMsg;
    FWideString m_usDecMsg;
    std::vector<FWideString> m_items;
    FIUiPixmap* m_pTextPixmap = nullptr;
};
