#pragma once

#include <memory>
#include <vector>

#include "FIUiRelay.h"

class FIUiApp;
class FIUiWindow;
class FPropList;

// A WINDOWCLASS of the script: makes windows from its tag on demand and keeps
// them newest (or most recently activated) first. "<class>.Top" and
// "<class>.All" relays reach whatever instances exist when a message is sent.
class FUiWindowClass
{
public:
    FUiWindowClass();
    ~FUiWindowClass();
    FUiWindowClass(const FUiWindowClass&) = delete;
    FUiWindowClass& operator=(const FUiWindowClass&) = delete;

    bool Init(FIUiApp* app, FPropList* tag);
    bool IsNamed(const FWideString& name) const { return m_bNameFound && m_usName == name; }
    FIUiWindow* GetTopInstance() const { return m_instances.empty() ? nullptr : m_instances.front(); }
    const std::vector<FIUiWindow*>& GetInstances() const { return m_instances; }
    FIUiWindow* CreateInstance(const FWideString& name, FIUiWindow* parent);
    FIUiRelay* GetDynamicRelay(const FWideString& name);
    void BringInstanceToFront(FIUiWindow* window);
    // Unlinks the window and has it deleted once no handler of it can still be running.
    void RemoveInstance(FIUiWindow* window);

    FUiWindowClass* GetNext() const { return m_pNext; }
    void SetNext(FUiWindowClass* next) { m_pNext = next; }

    bool Deliver(const FWideString& suffix, const FWideString& message, void* data);

private:
    class DynamicRelay;

    FUiWindowClass* m_pNext = nullptr;
    FIUiApp* m_pApp = nullptr;
    bool m_bNameFound = false;
    FWideString m_usName;
    FWideString m_usFullName;
    std::unique_ptr<FPropList> m_pTag;
    std::vector<FIUiWindow*> m_instances;
    std::vector<std::unique_ptr<DynamicRelay>> m_relays;
};
