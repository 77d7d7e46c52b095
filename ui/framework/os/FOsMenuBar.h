#pragma once

// The menu bar a window draws itself: neither the display server nor its
// toolkit has native menus. The model (items, states, accelerator tables,
// command identifiers) and its drawing are the same for every backend.

#include <cstdint>
#include <memory>
#include <vector>

#include "FIOsUiMenu.h"
#include "FRect.h"
#include "FWideString.h"

class FIUiApp;
class FPropList;
class FOsMenuBar;

// One keyboard shortcut of a pull-down entry. Inactive entries never match.
struct FOsAccelerator {
    bool active = false;
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
    uint16_t key = 42;
};

// Reads a key text such as "C-O", "CS-S", "A-X", "Del", "F5" or "]". A text
// that the rules do not read stays active with the code 42, which no key gives.
FOsAccelerator ParseOsAccelerator(const FWideString& keyText);

// The shortcut shown after an item's label: modifier texts from the application
// (or "Ctrl+", "Shift+", "Alt+"), "Del" as the application names it; empty for no key.
FWideString OsMenuShortcutText(FIUiApp* app, const FWideString& keyText);

class FOsMenu : public FIOsUiMenu
{
public:
    struct Item {
        bool shown = false; // separators and labelled items
        bool separator = false;
        FWideString label;
        FWideString shortcut;
        bool enabled = true;
        bool checked = false;
    };

    FOsMenu(FOsMenuBar* bar, FIUiApp* app, FIGenericUiMenu* menu, FPropList* tag, int index);

    void EnableItem(int position) override;
    void DisableItem(int position) override;
    void CheckItem(int position, bool on) override;
    void SetItemLabel(int position, const FWideString& label, const FWideString& keyText) override;
    void SetTitle(const FWideString& text) override;

    // Without a labelled item or separator the pull-down is not in the bar.
    bool IsEmpty() const { return m_bEmpty; }
    int GetIndex() const { return m_iIndex; }
    const FWideString& GetTitle() const { return m_usTitle; }
    const std::vector<Item>& GetItems() const { return m_items; }
    const std::vector<FOsAccelerator>& GetAccelerators() const { return m_accelerators; }
    FIGenericUiMenu* GetMenu() const { return m_pMenu; }

private:
    Item* priItem(int position);

    FOsMenuBar* m_pBar;
    FIUiApp* m_pApp;
    FIGenericUiMenu* m_pMenu;
    int m_iIndex;
    bool m_bEmpty = true;
    FWideString m_usTitle;
    std::vector<Item> m_items;
    std::vector<FOsAccelerator> m_accelerators;
};

class FOsMenuBar
{
public:
    FOsMenuBar();
    ~FOsMenuBar();
    FOsMenuBar(const FOsMenuBar&) = delete;
    FOsMenuBar& operator=(const FOsMenuBar&) = delete;

    // Made for every pull-down tag; owned by the bar.
    FOsMenu* AddMenu(FIUiApp* app, FIGenericUiMenu* menu, FPropList* tag);
    const std::vector<std::unique_ptr<FOsMenu>>& GetMenus() const { return m_menus; }

    // Rows above the client area: 0 without any pull-down in the bar.
    int GetHeight() const;

    // A key press (not a repeat, Delete also on repeat): the first active entry,
    // menus in order and each table from its last entry, whose modifiers match
    // exactly selects its item. True when an entry took the key.
    bool OfferKey(uint16_t code, bool shift, bool ctrl, bool alt);
    // (menu index << 8) | position, both taken modulo 256; unknown menus do nothing.
    bool Command(int identifier);

    // Pointer input in window coordinates, the bar's rows first. True when the
    // bar or its open pull-down took the event.
    bool MouseDown(int x, int y);
    bool MouseMove(int x, int y);
    bool IsOpen() const { return m_iOpen >= 0; }
    void Close();
    // The bar changed its look since the last call.
    bool TakeChanged();
    // The part of the window the bar and the open pull-down cover.
    FRect GetBarRect(int windowWidth) const { return FRect(0, 0, windowWidth, GetHeight()); }
    FRect GetPullDownRect() const;
    // Draws the bar and the open pull-down over a BGRA image of the whole window.
    void Draw(uint32_t* pixels, int width, int height) const;
    void MarkChanged() { m_bChanged = true; }
    // A pull-down wider than the rest of the window is moved left to fit (0: no limit).
    void SetWindowWidth(int width) { m_iWindowWidth = width; }

private:
    struct Geometry;
    void priLayout() const;
    int priTitleAt(int x, int y) const;
    int priItemAt(int x, int y) const;

    std::vector<std::unique_ptr<FOsMenu>> m_menus;
    int m_iOpen = -1;  // index into m_menus
    int m_iHover = -1; // item position in the open pull-down
    bool m_bChanged = false;
    int m_iWindowWidth = 0;
    std::unique_ptr<Geometry> m_geometry;
};
