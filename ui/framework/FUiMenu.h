#pragma once

// The portable menus of a window: one FUiMenu per pull-down of the MENU tag and
// one FUiMenuItem per child of it. Both are relays, so script events send
// commands to items, and items fire script events when chosen.

#include "FIOsUiMenu.h"
#include "FIUiRelay.h"
#include "RelayEvent.h"

class FIUiApp;
class FIUiMultiLangString;
class FIUiWindow;
class FPropList;
class FUiMenu;

class FUiMenuItem : public FIUiRelay
{
public:
    FUiMenuItem(FIUiApp* app, FIUiWindow* window, FUiMenu* menu, int position);
    ~FUiMenuItem() override;
    FUiMenuItem(const FUiMenuItem&) = delete;
    FUiMenuItem& operator=(const FUiMenuItem&) = delete;

    // Reads the item's keys and event tags; registers for language changes.
    void Init(FPropList* tag);

    bool InitRelay(FPropList* tag) override;
    void GetName(FWideString& name) override { name = m_usName; }
    void GetFullName(FWideString& name) override { name = m_usFullName; }
    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }

    int GetPosition() const { return m_iPosition; }
    bool IsEnabled() const { return m_bEnabled; }
    bool IsChecked() const { return m_bChecked; }
    bool IsCheckable() const { return m_bCheckable; }
    FUiMenuItem* GetNext() const { return m_pNext; }
    void SetNext(FUiMenuItem* next) { m_pNext = next; }

private:
    void priSetChecked(bool checked);
    void priUncheckGroup();
    void priRelabel();
    FIOsUiMenu* priOs() const;

    FIUiApp* m_pApp;
    FIUiWindow* m_pWindow;
    FUiMenu* m_pMenu;
    FIUiMultiLangString* m_pDisplayString = nullptr;
    int m_iPosition;
    FUiMenuItem* m_pNext = nullptr;
    FWideString m_usName;
    FWideString m_usFullName;
    FWideString m_usKey;
    bool m_bListening = false;
    bool m_bCheckable = false;
    // Items of one group in a pull-down are ticked one at a time, like radio buttons.
    FWideString m_usGroup;
    bool m_bEnabled = true;
    bool m_bChecked = false;
    RelayEvent m_onSelect{FWideString("ON_SELECT")};
    RelayEvent m_onCheck{FWideString("ON_CHECK")};
    RelayEvent m_onUncheck{FWideString("ON_UNCHECK")};
    RelayEvent m_onCheckState{FWideString("ON_CHECK_STATE")};
};

class FUiMenu : public FIGenericUiMenu, public FIUiRelay
{
public:
    FUiMenu(FIUiApp* app, FIUiWindow* window);
    ~FUiMenu() override;
    FUiMenu(const FUiMenu&) = delete;
    FUiMenu& operator=(const FUiMenu&) = delete;

    // Reads the pull-down tag and makes its items.
    void Init(FPropList* tag);

    bool SelectItem(int position) override;

    bool InitRelay(FPropList* tag) override;
    void GetName(FWideString& name) override { name = m_usName; }
    void GetFullName(FWideString& name) override { name = m_usFullName; }
    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }

    void SetOsMenu(FIOsUiMenu* osMenu) { m_pOsMenu = osMenu; }
    FIOsUiMenu* GetOsMenu() const { return m_pOsMenu; }
    FUiMenu* GetNext() const { return m_pNext; }
    void SetNext(FUiMenu* next) { m_pNext = next; }
    FUiMenuItem* GetFirstItem() const { return m_pFirstItem; }
    FUiMenuItem* FindItem(int position) const;

private:
    FIUiApp* m_pApp;
    FIUiWindow* m_pWindow;
    FWideString m_usName;
    FWideString m_usFullName;
    bool m_bHasName = false;
    bool m_bListening = false;
    FUiMenu* m_pNext = nullptr;
    FIOsUiMenu* m_pOsMenu = nullptr;
    FUiMenuItem* m_pFirstItem = nullptr;
    FIUiMultiLangString* m_pTitle = nullptr;
};
