#pragma once

#include <string>

#include "FIUiObject.h"
#include "FUiScriptedProps.h"
#include "RelayEvent.h"

// Base of every scripted object: the default behaviour of every operation,
// the object tree, the declared events and the declared script properties.
class FUiObject : public FIUiObject, public FUiScriptedProps
{
public:
    explicit FUiObject(const char* typeName);
    // Deletes the events and the children, and leaves the language listeners:
    // an object that fails after registering must not stay reachable.
    ~FUiObject() override;

    // FIUiRelay
    bool InitRelay(FPropList* tag) override;
    void GetName(FWideString& name) override { name = m_usName; }
    void GetFullName(FWideString& name) override { name = m_usFullName; }
    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool AddEventTarget(const FWideString& eventName, const FWideString& message, FIUiRelay* target) override;

    // FIUiObject
    FIUiObject* GetNext() override { return m_pNext; }
    FIUiObject* GetPrev() override { return m_pPrev; }
    FIUiObject* GetFirstChild() override { return m_pFirstChild; }
    FIUiObject* GetParent() override { return m_pParent; }
    void SetNext(FIUiObject* next) override { m_pNext = next; }
    void SetPrev(FIUiObject* prev) override { m_pPrev = prev; }
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool IsHBox() override { return false; }
    bool IsVBox() override { return false; }
    FLayoutObject* GetLayoutObject(bool horizontal) override { return horizontal ? &m_hLayout : &m_vLayout; }
    bool SetRect(int x, int y, int width, int height) override;
    bool ReInitLayout() override;
    FRect GetRect() override { return m_rect; }
    void Display(FIUiPixmap*, int, int, const FRect&) override {}
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int, int) override { return nullptr; }
    void MouseDoubleClick(int, int, bool, bool) override {}
    bool GetDragData(int, int, bool, bool, FWideString&) override { return false; }
    bool CanDrop(int, int) override { return false; }
    bool Drop(int, int, bool, bool, const FWideString&) override { return false; }
    bool MouseDown(int, int, bool, bool) override { return false; }
    void MouseUp(int, int, bool, bool) override {}
    void MouseEnter(int, int) override {}
    void MouseLeave(int, int) override {}
    void MouseMove(int, int) override {}
    void MouseWheel(int x, int y, int flag, int notches) override;
    void KeyEvent(uint16_t, bool, bool) override {}
    void Copy(FWideString& text) override;
    void Cut(FWideString& text) override;
    void Paste(const FWideString& text) override;
    void KeyboardFocusLost() override {}
    void PopupClosed() override {}
    void PopupOpened() override {}
    void DebugDump() override;

    // A new event with no relays, appended to the object's events.
    RelayEvent* AddEvent(const FWideString& eventName);
    RelayEvent* FindEvent(const FWideString& eventName) const;
    RelayEvent* GetFirstEvent() const { return m_pFirstEvent; }
    // The attribute names a PNG of the script folder; null without the attribute
    // (found false) or when the file does not load (found cleared).
    FIUiPixmap* LoadPixmapFromTag(FPropList* tag, const char* attribute, bool* found);

    // Appends a child that this object then owns.
    void AppendChild(FIUiObject* child);

    const std::string& GetTypeName() const { return m_typeName; }
    bool IsNameGiven() const { return m_bNameGiven; }
    FIUiApp* GetApp() const { return m_pApp; }
    FIUiWindow* GetWindow() const { return m_pWindow; }

protected:
    void priGetOwnerName(FWideString& name) override { name = m_usFullName; }
    // Containers: name lookup that walks down through children, unnamed levels transparent.
    FIUiRelay* ContainerGetUiRelay(const FWideString& name);

    std::string m_typeName;
    bool m_bNameGiven = false;
    FWideString m_usName;
    FWideString m_usFullName;
    FIUiApp* m_pApp = nullptr;
    FIUiWindow* m_pWindow = nullptr;
    FRect m_rect;
    FIUiObject* m_pParent = nullptr;
    FIUiObject* m_pFirstChild = nullptr;
    FIUiObject* m_pNext = nullptr;
    FIUiObject* m_pPrev = nullptr;
    FLayoutObject m_hLayout;
    FLayoutObject m_vLayout;
    RelayEvent* m_pFirstEvent = nullptr;
};

// Deletes every object of a sibling chain, each with its subtree, and clears the holder.
void DeleteUiObjectChain(FIUiObject*& first);
// Appends an object at the end of a sibling chain that starts at `first`.
void AppendUiObject(FIUiObject*& first, FIUiObject* object);

// For objects without a picture: reads the tag with the base start-up (so an object's own
// InitUiObject may call it), ignores the result and takes no room.
bool InitNonVisualUiObject(FUiObject* object, FIUiApp* app, FIUiWindow* window, FIUiObject* parent,
                           FPropList* tag);
