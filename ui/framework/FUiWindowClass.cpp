#include "FUiWindowClass.h"

#include <algorithm>

#include "FGenericUiWindow.h"
#include "FIUiApp.h"
#include "FPropList.h"

class FUiWindowClass::DynamicRelay : public FIUiRelay
{
public:
    DynamicRelay(FUiWindowClass* owner, const FWideString& suffix) : m_pOwner(owner), m_usSuffix(suffix) {}
    bool InitRelay(FPropList*) override { return false; }
    void GetName(FWideString&) override {}
    void GetFullName(FWideString&) override {}
    bool ConnectRelays() override { return false; }
    FIUiRelay* GetUiRelay(const FWideString&) override { return nullptr; }
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        return m_pOwner->Deliver(m_usSuffix, message, data);
    }
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }
    const FWideString& GetSuffix() const { return m_usSuffix; }

private:
    FUiWindowClass* m_pOwner;
    FWideString m_usSuffix;
};

FUiWindowClass::FUiWindowClass() = default;

FUiWindowClass::~FUiWindowClass()
{
    const std::vector<FIUiWindow*> instances = m_instances;
    m_instances.clear();
    for (FIUiWindow* window : instances)
        delete window;
}

bool FUiWindowClass::Init(FIUiApp* app, FPropList* tag)
{
    m_pApp = app;
    if (!tag)
        return false;
    m_usName = tag->GetString("Name", FWideString(), &m_bNameFound);
    if (!m_bNameFound)
        return false;
    if (app)
        app->GetFullName(m_usFullName);
    m_usFullName += ".";
    m_usFullName += m_usName;
    m_pTag.reset(tag->Clone());
    return true;
}

FIUiWindow* FUiWindowClass::CreateInstance(const FWideString& name, FIUiWindow* parent)
{
    if (!m_pTag || !IsNamed(name))
        return nullptr;
    // A relay loop in a script must not make windows without end.
    if (m_instances.size() >= static_cast<size_t>(kMaxUiScriptWindows))
        return nullptr;
    FIUiWindow* window = CreateUiWindow(m_pApp, m_pTag.get(), this, parent);
    if (!window)
        return nullptr;
    m_instances.insert(m_instances.begin(), window);
    if (auto* generic = dynamic_cast<FGenericUiWindow*>(window))
        generic->ClearQuitOnDestroy();
    window->ConnectRelays();
    window->UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    return window;
}

FIUiRelay* FUiWindowClass::GetDynamicRelay(const FWideString& name)
{
    if (!m_bNameFound || name == m_usName)
        return nullptr;
    FWideString left, rest;
    if (!name.Split(u".", left, rest) || left.IsEmpty() || rest.IsEmpty() || !(left == m_usName))
        return nullptr;
    for (auto& relay : m_relays) {
        if (relay->GetSuffix() == rest)
            return relay.get();
    }
    m_relays.push_back(std::make_unique<DynamicRelay>(this, rest));
    return m_relays.back().get();
}

void FUiWindowClass::BringInstanceToFront(FIUiWindow* window)
{
    auto it = std::find(m_instances.begin(), m_instances.end(), window);
    if (it == m_instances.end() || it == m_instances.begin())
        return;
    m_instances.erase(it);
    m_instances.insert(m_instances.begin(), window);
}

void FUiWindowClass::RemoveInstance(FIUiWindow* window)
{
    auto it = std::find(m_instances.begin(), m_instances.end(), window);
    if (it == m_instances.end())
        return;
    m_instances.erase(it);
    DeleteUiWindowLater(window);
}

bool FUiWindowClass::Deliver(const FWideString& suffix, const FWideString& message, void* data)
{
    if (m_instances.empty())
        return false;
    // Handlers may close instances: work on a copy and skip the ones gone meanwhile.
    const std::vector<FIUiWindow*> snapshot = m_instances;
    auto alive = [this](FIUiWindow* w) {
        return std::find(m_instances.begin(), m_instances.end(), w) != m_instances.end();
    };
    if (suffix == "Top")
        return snapshot.front()->UiRelayMessage(message, data);
    if (suffix == "All") {
        std::vector<FIUiWindow*> order = snapshot;
        if (message == "Show" || message == "Hide")
            std::rotate(order.begin(), order.begin() + 1,
                        order.end()); // the top one last, so it ends in front
        bool all = true;
        for (FIUiWindow* window : order) {
            if (alive(window))
                all = window->UiRelayMessage(message, data) && all;
        }
        return all;
    }
    FWideString which, rest;
    if (!suffix.Split(u".", which, rest) || rest.IsEmpty() || !(which == "Top" || which == "All"))
        return false;
    FWideString target = m_usName;
    target += ".";
    target += rest;
    if (which == "Top") {
        FIUiRelay* object = snapshot.front()->GetUiRelay(target);
        return object ? object->UiRelayMessage(message, data) : true;
    }
    bool all = true;
    for (FIUiWindow* window : snapshot) {
        if (!alive(window))
            continue;
        if (FIUiRelay* object = window->GetUiRelay(target))
            all = object->UiRelayMessage(message, data) && all;
    }
    return all;
}
