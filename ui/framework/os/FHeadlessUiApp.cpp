#include <algorithm>
#include <cstdio>

#include "FCodePage.h"
#include "FHeadlessDesktop.h"
#include "FIOsUiApp.h"
#include "FOsBackend.h"
#include "FOsUiAppCommon.h"
#include "FSdlUiWindow.h"

namespace
{

FWideString g_programArgument;

bool Holds(const FHeadlessDesktop& desktop, const std::string& name)
{
    return std::find(desktop.heldNames.begin(), desktop.heldNames.end(), name) != desktop.heldNames.end();
}

class FHeadlessUiApp : public FOsUiAppBase
{
public:
    explicit FHeadlessUiApp(FIOsUiAppOwner* owner) : m_pOwner(owner)
    {
        GetHeadlessDesktop().onQuitSignal = [owner] {
            owner->UiRelayMessage(FWideString("QuitRequested"), nullptr);
        };
    }
    ~FHeadlessUiApp() override { GetHeadlessDesktop().onQuitSignal = nullptr; }

    bool Run(bool handOver) override
    {
        if (!handOver) {
            // Tests drive the loop themselves; what is queued already runs now.
            HeadlessPumpUntilIdle();
            return true;
        }
        auto& records = GetHeadlessDesktop().handOver;
        records.push_back({0x1094, 0});
        const FWideString& argument = GetOsProgramArgument();
        if (!argument.IsEmpty()) {
            records.push_back({0x1091, 0});
            for (int i = 0; i < argument.GetLength(); ++i) {
                const char16_t unit = argument.GetBuffer()[i];
                if (unit != u'"')
                    records.push_back({0x1092, unit});
            }
            records.push_back({0x1092, 0});
            records.push_back({0x1093, 0});
        }
        return true;
    }

    void CopyToClipboard(const FWideString& text, FIOsObject* window) override
    {
        CopyTextToClipboard(text, window);
    }
    void CopyTextToClipboard(const FWideString& text, FIOsObject*) override
    {
        GetHeadlessDesktop().clipboard = text;
        GetHeadlessDesktop().clipboardHasText = true;
    }
    void PasteTextFromClipboard(FWideString& text, FIOsObject*) override
    {
        if (GetHeadlessDesktop().clipboardHasText)
            text = GetHeadlessDesktop().clipboard;
    }
    void GetOsName(FWideString& name) override { name.Clear(); }
    bool IsMacOS() override { return false; }
    // So that the script's sections and fonts for this platform family apply.
    bool IsWindowsOS() override { return true; }

    bool CheckSingleInstance(const FWideString& declaredName, bool oldMutex,
                             const FWideString& familyName) override
    {
        FHeadlessDesktop& desktop = GetHeadlessDesktop();
        const std::string declared = Utf8FromWide(declaredName);
        // The running instance is shown by Run's hand-over, once.
        if (Holds(desktop, declared))
            return true;
        desktop.heldNames.push_back(declared);
        if (!oldMutex)
            return false;
        const std::string family = Utf8FromWide(familyName);
        if (!Holds(desktop, family)) {
            desktop.heldNames.push_back(family);
            return false;
        }
        if (const char* language = FamilyLanguage(desktop.systemLanguage); language && m_pOwner)
            m_pOwner->SetLanguage(FWideString(language));
        FWideString title, text;
        if (m_pOwner && m_pOwner->GetDisplayStringText(FWideString("BrisalOtherAppWinTitle"), title) &&
            m_pOwner->GetDisplayStringText(FWideString("BrisalOtherAppWinText"), text))
            ShowOsMessageBox(title, text);
        return true;
    }

    void OnLanguageChanged(const FWideString& language) override
    {
        GetHeadlessDesktop().languageHooks.push_back(Utf8FromWide(language));
    }

private:
    FIOsUiAppOwner* m_pOwner;
};

} // namespace

FIOsUiApp* CreateOsUiApp(FIOsUiAppOwner* owner)
{
    if (GetOsBackend() == EOsBackend::kDisplay)
        return CreateSdlUiApp(owner);
    return new FHeadlessUiApp(owner);
}

void DeleteOsUiApp(FIOsUiApp*& app)
{
    delete app;
    app = nullptr;
}

bool OpenOsDisplay(std::string& error)
{
    return GetOsBackend() == EOsBackend::kHeadless || OpenSdlDisplay(error);
}

void ShowOsMessageBox(const FWideString& title, const FWideString& text)
{
    if (GetOsBackend() == EOsBackend::kHeadless) {
        GetHeadlessDesktop().messageBoxes.push_back({Utf8FromWide(title), Utf8FromWide(text)});
        return;
    }
    // Without a display the box's text still reaches the user.
    if (!ShowSdlMessageBox(Utf8FromWide(title), Utf8FromWide(text)))
        std::fprintf(stderr, "%s: %s\n", Utf8FromWide(title).c_str(), Utf8FromWide(text).c_str());
}

void SetOsProgramArgument(const FWideString& argument)
{
    g_programArgument = argument;
}

const FWideString& GetOsProgramArgument()
{
    return g_programArgument;
}
