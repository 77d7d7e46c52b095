#pragma once

#include "FUiObject.h"
#include "FUiWidgetFrame.h"
#include "FontAttributes.h"

class FIUiFont;
class FIUiPixmap;

// TEXT_BOX and DYNA_TEXT: a run-time text in an application or inline font. A
// TEXT_BOX fits the text into its width ("..." at the end, or leading folders
// of a path replaced by "..."); a DYNA_TEXT shows it whole and sizes itself to it.
class FUiTextBox : public FUiObject
{
public:
    explicit FUiTextBox(const char* typeName);
    ~FUiTextBox() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;

    const FWideString& GetText() const { return m_usText; }
    // What the pixmap shows: the text, a shortened form of it or "##".
    const FWideString& GetShownText() const { return m_usShown; }
    FIUiPixmap* GetTextPixmap() const { return m_pTextPixmap; }
    bool IsDynamic() const { return m_bDynamic; }
    bool IsEnabled() const { return m_bEnabled; }

private:
    FIUiPixmap* priRender(const FWideString& text);
    void priRenderWhole();
    void priFitText();
    void priRerender();
    void priResizeToPixmap();
    void priSetEnabled(bool enabled);

    bool m_bDynamic = false;
    bool m_bPath = false;
    bool m_bEnabled = true;
    int m_iWidth = 0;
    int m_iHeight = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    FWideString m_usText;
    FWideString m_usShown;
    FIUiFont* m_pFont = nullptr;
    FUiInlineFont m_inlineFont;
    FontAttributes m_attributes;
    bool m_bCenterJust = false;
    FIUiPixmap* m_pTextPixmap = nullptr;
    RelayEvent* m_pOnPress = nullptr;
    RelayEvent* m_pOnGetText = nullptr;
};
