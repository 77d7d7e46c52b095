#pragma once

// Small stand-ins for the application, a window, a box and a pixmap, enough to
// build object trees by hand for the object-model tests.

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FGenericUiPixmap.h"
#include "FIOsUiPixmap.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FIUiWindow.h"
#include "FPropList.h"
#include "FUiObject.h"
#include "FUiObjectFactory.h"

// A real pixmap of the given size, its pixels uncleared.
class FTestPixmap : public FGenericUiPixmap
{
public:
    FTestPixmap(int w, int h) { SetOsPixmap(CreateOsUiPixmap(this, w, h, false)); }
};

// A container that makes its children from its element through the factory.
class FTestBox : public FUiObject
{
public:
    explicit FTestBox(const char* typeName) : FUiObject(typeName) {}
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override
    {
        if (!FUiObject::InitUiObject(app, window, parent, tag))
            return false;
        for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
            FIUiObject* object = app->GetUiObjectFactory()->CreateUiObject(child->GetName().GetNarrow());
            if (!object)
                continue;
            if (object->InitUiObject(app, window, this, child))
                AppendChild(object);
            else
                delete object;
        }
        return true;
    }
    FIUiRelay* GetUiRelay(const FWideString& name) override { return ContainerGetUiRelay(name); }
};

// Every application operation the object-model tests do not use, answered neutrally.
class FStubUiApp : public FIUiApp
{
public:
    bool InitFromScript(FIFolder*, const FWideString&, bool&) override { return false; }
    bool Run(bool) override { return true; }
    void CutTextToClipboard(const FWideString&, FIUiWindow*) override {}
    void CopyTextToClipboard(const FWideString&, FIUiWindow*) override {}
    void PasteTextFromClipboard(FWideString&, FIUiWindow*) override {}
    void GetOsName(FWideString& name) override { name.Clear(); }
    bool FireOpenPathEvent(void*) override { return true; }
    void SetModalWindow(FIUiWindow*) override {}
    void SetHelpURL(const FWideString&) override {}
    const FWideString& GetHelpURL() override { return m_empty; }
    bool GetShowTheHVBoxes() override { return false; }
    FIUiWindow* FindUiWindow(const FWideString&) override { return nullptr; }
    FPropList* GetPersistentData(const FWideString&) override { return nullptr; }
    FIFile* OpenScriptFile(const FWideString&) override { return nullptr; }
    const std::vector<FWideString>& GetLanguages() override { return m_languages; }
    bool HasLanguageEntry() override { return false; }
    void SetLanguage(const FWideString&) override {}
    void NextLanguage() override {}
    bool IsMacOS() override { return false; }
    bool IsWindowsOS() override { return true; }
    FIUiPixmap* GetDragNoCursor(int&, int&) override { return nullptr; }
    FIUiPixmap* GetDragYesCursor(int&, int&) override { return nullptr; }
    FIUiPixmap* GetWaitCursor(int&, int&) override { return nullptr; }
    const FWideString* GetCtrlMenuText() override { return nullptr; }
    const FWideString* GetShiftMenuText() override { return nullptr; }
    const FWideString* GetAltMenuText() override { return nullptr; }
    const FWideString* GetDelMenuText() override { return nullptr; }
    FPropList* GetScriptRoot() override { return nullptr; }
    void Tick(int) override {}
    void SetVersion(int, int, int, int) override {}
    FUiVersion GetVersion() override { return FUiVersion(); }
    const FWideString& GetAppName() override { return m_empty; }
    int NextSerialNumber() override { return 0; }
    bool FireVolumesChangedEvent() override { return true; }
    bool IsShuttingDown() override { return false; }
    void OnWindowDeleted(FIUiWindow*) override {}

private:
    FWideString m_empty;
    std::vector<FWideString> m_languages;
};

class FTestApp : public FStubUiApp
{
public:
    explicit FTestApp(const char* name) : m_name(name), m_factory(CreateUiObjectFactory()) {}
    ~FTestApp() override
    {
        for (FIUiObject* object : m_objects)
            delete object;
    }

    void* GetOsInfo(int) override { return nullptr; }
    bool SetOsInfo(int, void*) override { return false; }
    bool InitRelay(FPropList*) override { return true; }
    void GetName(FWideString& name) override { name = m_name.c_str(); }
    void GetFullName(FWideString& name) override { name = m_name.c_str(); }
    bool ConnectRelays() override
    {
        bool all = true;
        for (FIUiObject* object : m_objects)
            all = object->ConnectRelays() && all;
        return all;
    }
    FIUiRelay* GetUiRelay(const FWideString& name) override
    {
        if (name.IsEmpty() || name == m_name.c_str())
            return this;
        for (FIUiObject* object : m_objects) {
            if (FIUiRelay* found = object->GetUiRelay(name))
                return found;
        }
        for (FIUiRelay* window : m_windows) {
            if (FIUiRelay* found = window->GetUiRelay(name))
                return found;
        }
        return nullptr;
    }
    bool UiRelayMessage(const FWideString& message, void*) override
    {
        m_messages.push_back(Utf8FromWide(message));
        return true;
    }
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return true; }

    FIUiObjectFactory* GetUiObjectFactory() override { return m_factory.get(); }
    FIUiPixmap* LoadUiPixmap(const FWideString& fileName) override
    {
        if (!m_loadable.count(Utf8FromWide(fileName)))
            return nullptr;
        return new FTestPixmap(12, 7);
    }
    bool AddLanguageListener(FIUiRelay* relay, FWideString& current) override
    {
        current = "English";
        if (!relay)
            return false;
        if (std::find(m_listeners.begin(), m_listeners.end(), relay) == m_listeners.end())
            m_listeners.push_back(relay);
        return true;
    }
    bool RemoveLanguageListener(FIUiRelay* relay) override
    {
        if (!relay)
            return true;
        auto it = std::find(m_listeners.begin(), m_listeners.end(), relay);
        if (it == m_listeners.end())
            return false;
        m_listeners.erase(it);
        return true;
    }
    void BroadcastLanguage(const char* language)
    {
        FWideString name(language);
        const std::vector<FIUiRelay*> snapshot = m_listeners;
        for (FIUiRelay* listener : snapshot)
            listener->UiRelayMessage(FWideString("Set Language"), &name);
    }

    // Makes a top-level object from an element; kept when InitUiObject succeeds.
    FIUiObject* AddTopLevel(FPropList* element)
    {
        FIUiObject* object = m_factory->CreateUiObject(element->GetName().GetNarrow());
        if (!object)
            return nullptr;
        if (!object->InitUiObject(this, nullptr, nullptr, element)) {
            delete object;
            return nullptr;
        }
        m_objects.push_back(object);
        return object;
    }

    std::string m_name;
    std::unique_ptr<FIUiObjectFactory> m_factory;
    std::vector<FIUiObject*> m_objects;
    std::vector<FIUiRelay*> m_windows;
    std::vector<FIUiRelay*> m_listeners;
    std::set<std::string> m_loadable;
    std::vector<std::string> m_messages;
};

// A window holding one root object made from its element's first child.
class FTestWindow : public FIUiWindow
{
public:
    FIUiWindow* GetPrevWindow() override { return nullptr; }
    FIUiWindow* GetNextWindow() override { return nullptr; }
    void SetTickWindow() override {}
    void SetPrevWindow(FIUiWindow*) override {}
    void SetNextWindow(FIUiWindow*) override {}
    bool InitUiWindow(FPropList*, FIUiWindow*) override { return true; }
    bool SetVisible(bool) override { return true; }
    bool IsModal() override { return false; }
    bool IsVisible() override { return true; }
    void EnableWindow() override {}
    void DisableWindow() override {}
    int SendToAllObjects(const FWideString&, void*) override { return 0; }
    bool IsNamed(const FWideString& name) override { return name == m_name.c_str(); }
    void Activate() override {}

    FTestWindow(FTestApp* app, const char* name) : m_pApp(app), m_name(name)
    {
        app->m_windows.push_back(this);
    }
    ~FTestWindow() override
    {
        auto& windows = m_pApp->m_windows;
        windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
        delete m_pRoot;
    }

    void* GetOsInfo(int) override { return nullptr; }
    bool SetOsInfo(int, void*) override { return false; }
    bool InitRelay(FPropList*) override { return true; }
    void GetName(FWideString& name) override { name = m_name.c_str(); }
    void GetFullName(FWideString& name) override
    {
        name = m_pApp->m_name.c_str();
        name += ".";
        name += m_name.c_str();
    }
    bool ConnectRelays() override { return m_pRoot ? m_pRoot->ConnectRelays() : true; }
    FIUiRelay* GetUiRelay(const FWideString& name) override
    {
        if (name == m_name.c_str())
            return this;
        FWideString left, rest;
        if (!name.Split(u".", left, rest) || !(left == m_name.c_str()) || !m_pRoot)
            return nullptr;
        return m_pRoot->GetUiRelay(rest);
    }
    bool UiRelayMessage(const FWideString& message, void*) override
    {
        m_messages.push_back(Utf8FromWide(message));
        return true;
    }
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return true; }
    FIUiApp* GetApp() override { return m_pApp; }
    FIUiObjectFactory* GetFactory() override { return m_pApp->GetUiObjectFactory(); }

    bool Build(FPropList* element)
    {
        FPropList* child = element->GetFirstChild();
        m_pRoot =
            child ? m_pApp->GetUiObjectFactory()->CreateUiObject(child->GetName().GetNarrow()) : nullptr;
        if (!m_pRoot)
            return false;
        if (!m_pRoot->InitUiObject(m_pApp, this, nullptr, child)) {
            delete m_pRoot;
            m_pRoot = nullptr;
            return false;
        }
        return true;
    }

    FTestApp* m_pApp;
    std::string m_name;
    FIUiObject* m_pRoot = nullptr;
    std::vector<std::string> m_messages;
};
