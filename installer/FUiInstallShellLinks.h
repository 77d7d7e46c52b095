#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FUiObject.h"

class FIUiObjectFactory;
class FPropList;

// One shortcut or shortcut folder the install list asks for.
struct ShortcutRecord {
    FWideString target;
    FWideString linkPath; // native
    FWideString description;
    FWideString arguments;
    // Optional keys of the desktop entry; a MIME type lets the entry take files (%F).
    FWideString icon;
    FWideString categories;
    FWideString mimeType;
    FWideString comment;
    bool folder = false;
    bool created = false;
    // What was written, for the uninstall record.
    std::string sha;
    uint64_t size = 0;
};

// SHELL_LINK: makes the install list's shortcuts as desktop entries in the
// user's desktop, applications and autostart folders, reports them for the
// uninstall record, starts the launch list's programs of each stage (without a
// shell) and at uninstallation removes the recorded entries.
class FUiInstallShellLinks : public FUiObject
{
public:
    explicit FUiInstallShellLinks(const char* typeName);
    ~FUiInstallShellLinks() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    const std::vector<ShortcutRecord>& GetShortcuts() const { return m_links; }
    // The wait between two programs started in one stage; tests record it instead.
    static void SetPause(std::function<void(int ms)> pause);
    // The desktop entry's Exec value for a program and its arguments.
    static std::string ExecLine(const FWideString& target, const FWideString& arguments);
    // The whole desktop entry of a shortcut.
    static std::string EntryText(const ShortcutRecord& record);
    // A description usable as a file name: no "/", no control characters, not "." or "..", no leading ".".
    static bool IsUsableName(const FWideString& description);

private:
    void priReadInstallList(const FWideString* pair);
    void priExpand(FWideString& text) const;
    void priCreateLinks();
    bool priWriteEntry(ShortcutRecord& record);
    void priStartStage();
    void priUninstall(FPropList* tree);
    bool priIsInShortcutFolder(const FWideString& url) const;

    FWideString m_usOsName;
    FPropList* m_pInstallList = nullptr;
    std::vector<ShortcutRecord> m_links;
    FWideString m_usTargetDirectory;
    FWideString m_usTargetExeName;
    FWideString m_usDesktopURL;
    FWideString m_usProgramsURL;
    FWideString m_usTempURL;
    FWideString m_usStartupURL;
    FWideString m_usSystemURL;
    FWideString m_usStage;
    FPropList* m_pLaunchTree = nullptr;
    FPropList* m_pUninstallList = nullptr;
};

bool RegisterInstallShellLinks(FIUiObjectFactory* factory);
