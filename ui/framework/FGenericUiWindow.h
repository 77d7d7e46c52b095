#pragma once

#include <vector>

#include "FIUiWindow.h"
#include "FRect.h"
#include "FUiColor.h"
#include "RelayEvent.h"

class FIUiObject;
class FUiWindowClass;

// The portable window: made from a WINDOW or WINDOWCLASS tag, it owns the
// objects of the tag, resolves the names inside it, carries out the window
// commands and fires the window events.
class FGenericUiWindow : public FIUiWindow
{
public:
    FGenericUiWindow(FIUiApp* app, FUiWindowClass* windowClass);
    ~FGenericUiWindow() override;
    FGenericUiWindow(const FGenericUiWindow&) = delete;
    FGenericUiWindow& operator=(const FGenericUiWindow&) = delete;

    // FIOsObject
    void* GetOsInfo(int) override { return nullptr; }
    bool SetOsInfo(int, void*) override { return false; }

    // FIUiRelay
    bool InitRelay(FPropList* tag) override;
    void GetName(FWideString& name) override { name = m_usName; }
    void GetFullName(FWideString& name) override { name = m_usFullName; }
    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }

    // FIUiWindow
    FIUiWindow* GetPrevWindow() override { return m_pPrevWindow; }
    FIUiWindow* GetNextWindow() override { return m_pNextWindow; }
    void SetTickWindow() override { m_bTickWindow = true; }
    void SetPrevWindow(FIUiWindow* window) override { m_pPrevWindow = window; }
    void SetNextWindow(FIUiWindow* window) override { m_pNextWindow = window; }
    FIUiApp* GetApp() override { return m_pApp; }
    FIUiObjectFactory* GetFactory() override;
    bool InitUiWindow(FPropList* tag, FIUiWindow* parent) override;
    bool SetVisible(bool visible) override;
    bool IsModal() override { return m_bModal; }
    bool IsVisible() override { return m_bVisible; }
    void EnableWindow() override { m_bOsEnabled = true; }
    void DisableWindow() override { m_bOsEnabled = false; }
    int SendToAllObjects(const FWideString& message, void* data) override;
    bool IsNamed(const FWideString& name) override { return m_usName == name; }
    void Activate() override;

    void ClearQuitOnDestroy() { m_bQuitOnDestroy = false; }
    bool IsQuitOnDestroy() const { return m_bQuitOnDestroy; }
    bool IsTickWindow() const { return m_bTickWindow; }
    bool IsOsEnabled() const { return m_bOsEnabled; }
    bool IsDisplayDisabled() const { return m_bDisplayDisabled; }
    bool IsHeldHidden() const { return m_bHeldHidden; }
    void HoldHidden();
    void ReleaseHold();
    FUiWindowClass* GetWindowClass() const { return m_pClass; }
    FIUiObject* GetFirstObject() const { return m_pFirstObject; }
    RelayEvent* FindEvent(const char* name);
    // Closing: the steps of the close commands.
    void Close();
    bool CloseInstance();

private:
    bool priFire(const char* eventName, void* data = nullptr);
    void priAppendObject(FIUiObject* object);
    bool priCloseRequested(bool internal);

    FIUiApp* m_pApp;
    FUiWindowClass* m_pClass;
    FWideString m_usName;
    FWideString m_usFullName;
    bool m_bNameFound = false;
    bool m_bPostInitDone = false;
    bool m_bTickWindow = false;
    bool m_bOsEnabled = true;
    bool m_bChildrenEnabled = true;
    bool m_bDisplayDisabled = false;
    bool m_bVisible = true;
    bool m_bHeldHidden = false;
    bool m_bModal = false;
    bool m_bHideOnClose = false;
    bool m_bMessageOnClose = false;
    bool m_bQuitOnDestroy = true;
    bool m_bSaveState = false;
    bool m_bListening = false;
    FIUiWindow* m_pPrevWindow = nullptr;
    FIUiWindow* m_pNextWindow = nullptr;
    FIUiWindow* m_pParentWindow = nullptr;
    FIUiObject* m_pFirstObject = nullptr;
    FWideString m_usTitle;
    std::vector<RelayEvent*> m_events;
};

// Makes a window from a WINDOW or WINDOWCLASS tag; null when it cannot be initialised.
FIUiWindow* CreateUiWindow(FIUiApp* app, FPropList* tag, FUiWindowClass* windowClass, FIUiWindow* parent);

// Windows closed from inside their own handlers are deleted only once the
// outermost dispatch has returned; these run the waiting deletions.
void DeleteUiWindowLater(FIUiWindow* window);
void RunDeferredUiWindowDeletions();
bool IsUiWindowDeletionPending(FIUiWindow* window);
