#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FIOsUiApp.h"
#include "FOsQuitSignal.h"
#include "FOsSingleInstance.h"
#include "FOsUiAppCommon.h"
#include "FSCDiskWin.h"
#include "FSdlUiWindow.h"

namespace
{

// The language a program family shows by default for the user's language.
const char* UserFamilyLanguage()
{
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = std::getenv(name);
        if (locale && *locale)
            break;
    }
    const std::string primary = locale ? std::string(locale).substr(0, 2) : std::string();
    return FamilyLanguage(primary);
}

class FSdlUiApp;
FSdlUiApp* g_running = nullptr;

class FSdlUiApp : public FOsUiAppBase
{
public:
    explicit FSdlUiApp(FIOsUiAppOwner* owner) : m_pOwner(owner)
    {
        ResetSdlQuit();
        // From the start: a signal while the script loads is acted on once the loop runs.
        InstallOsQuitSignals();
        m_instance.onShow = [this] { m_pOwner->UiRelayMessage(FWideString("ShowMainWindow"), nullptr); };
        m_instance.onOpenPath = [this](const FWideString& path) {
            FWideString copy = path;
            m_pOwner->FireOpenPathEvent(&copy);
        };
        // Mount changes show as an exceptional condition on this file.
        m_iMounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        m_volumes = GetDiskVolumes();
    }
    ~FSdlUiApp() override
    {
        if (g_running == this)
            g_running = nullptr;
        if (m_iMounts >= 0)
            close(m_iMounts);
        CloseSdlDisplay();
    }

    bool Run(bool handOver) override
    {
        if (handOver) {
            const std::string name = Utf8FromWide(m_pOwner->GetAppName());
            if (!m_instance.HandOver(name, BuildOsHandOverRecords(GetOsProgramArgument()))) {
                std::fprintf(stderr, "The running instance of %s did not take what this start handed it.\n",
                             name.c_str());
                return false;
            }
            return true;
        }
        g_running = this;
        SetSdlLoopHook([] {
            if (g_running)
                g_running->priLoopPass();
        });
        while (!SdlQuitRequested())
            SdlPumpEvents(10);
        SetSdlLoopHook(nullptr);
        g_running = nullptr;
        // From here the exit runs on its own; a signal now ends the program at once.
        return true;
    }

    void CopyToClipboard(const FWideString& text, FIOsObject* window) override
    {
        CopyTextToClipboard(text, window);
    }
    void CopyTextToClipboard(const FWideString& text, FIOsObject*) override
    {
        SDL_SetClipboardText(Utf8FromWide(text).c_str());
    }
    void PasteTextFromClipboard(FWideString& text, FIOsObject*) override
    {
        if (!SDL_HasClipboardText())
            return;
        if (char* bytes = SDL_GetClipboardText()) {
            text = WideFromUtf8(bytes);
            SDL_free(bytes);
        }
    }
    void GetOsName(FWideString& name) override { name.Clear(); }
    bool IsMacOS() override { return false; }
    bool IsWindowsOS() override { return true; }

    bool CheckSingleInstance(const FWideString& declaredName, bool oldMutex,
                             const FWideString& familyName) override
    {
        // The running instance is shown by the hand-over, once.
        if (!m_instance.TryLock(Utf8FromWide(declaredName)))
            return true;
        m_instance.Listen(Utf8FromWide(m_pOwner->GetAppName()));
        if (!oldMutex || m_instance.TryLock(Utf8FromWide(familyName)))
            return false;
        if (const char* language = UserFamilyLanguage())
            m_pOwner->SetLanguage(FWideString(language));
        FWideString title, text;
        if (m_pOwner->GetDisplayStringText(FWideString("BrisalOtherAppWinTitle"), title) &&
            m_pOwner->GetDisplayStringText(FWideString("BrisalOtherAppWinText"), text))
            ShowOsMessageBox(title, text);
        return true;
    }

    void OnLanguageChanged(const FWideString&) override {}

    void priLoopPass()
    {
        if (TakeOsQuitSignal())
            m_pOwner->UiRelayMessage(FWideString("QuitRequested"), nullptr);
        m_instance.Poll();
        if (m_iMounts >= 0) {
            pollfd watch{m_iMounts, POLLPRI, 0};
            if (poll(&watch, 1, 0) > 0 && (watch.revents & (POLLPRI | POLLERR))) {
                lseek(m_iMounts, 0, SEEK_SET);
                char sink[4096];
                while (read(m_iMounts, sink, sizeof(sink)) > 0) {
                }
                // Mounts outside the volume list change nothing the user sees.
                std::vector<FWideString> volumes = GetDiskVolumes();
                if (volumes != m_volumes) {
                    m_volumes = std::move(volumes);
                    m_pOwner->FireVolumesChangedEvent();
                }
            }
        }
    }

private:
    FIOsUiAppOwner* m_pOwner;
    FOsSingleInstance m_instance;
    int m_iMounts = -1;
    std::vector<FWideString> m_volumes;
};

} // namespace

FIOsUiApp* CreateSdlUiApp(FIOsUiAppOwner* owner)
{
    std::string error;
    if (!OpenSdlDisplay(error)) {
        std::fprintf(stderr, "Cannot open the display: %s\n", error.c_str());
        return nullptr;
    }
    return new FSdlUiApp(owner);
}
