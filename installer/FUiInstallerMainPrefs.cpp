// The application's preference files that the installer seeds.

#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FUiInstallerMain.h"
#include "FXmlParser.h"
#include "FXmlWriter.h"
#include "InstallerPaths.h"
#include "InstallerRecord.h"
#include "StorageClassRegistry.h"

namespace
{

const char* const kLanguageEntry = "BrisalLanguageSelector";

// The tree of a file in the folder, or null when it is missing or does not read.
FPropList* ParseIfPresent(FIFolder* folder, const FWideString& name, bool& present)
{
    present = false;
    FIFile* file = folder->OpenFile(name, kFileRead);
    if (!file)
        return nullptr;
    file->Release();
    present = true;
    try {
        FXmlParser parser;
        return parser.ParseFile(folder, name);
    } catch (const FException& e) {
        DebugTrace("FUiInstallerMain: %s does not read: %s (%s)\n", name.GetNarrow(), e.GetDescription(),
                   e.GetMessage());
        return nullptr;
    }
}

FPropList* FindLanguageEntry(FPropList* root)
{
    for (FPropList* child = root ? root->GetFirstChild() : nullptr; child; child = child->GetNext()) {
        bool found = false;
        if (child->GetString(FWideString("Name"), FWideString(), &found) == kLanguageEntry && found)
            return child;
    }
    return nullptr;
}

FPropList* NewLanguageTree(const FWideString& language)
{
    FPropList* root = new FPropList(nullptr, "STATE");
    FPropList* entry = new FPropList(root, "PERDATA");
    entry->AddProp(FWideString("Name"), FWideString(kLanguageEntry));
    entry->AddProp(FWideString("CurrentLanguage"), language);
    return root;
}

// The file as it was written, so that removal can tell whether it is still ours.
void AddFileRecord(FPropList* list, const FWideString& url)
{
    FPropList* record = new FPropList(list, "FILE");
    record->AddProp(FWideString("FileName"), url);
    AddDigestOfFile(record, url);
}

} // namespace

void FUiInstallerMain::WriteTargetAppFiles()
{
    const FWideString appFolderUrl = m_usTargetExeFolder.IsEmpty() ? m_usDestination : m_usTargetExeFolder;
    const FWideString preferences(kPreferencesFileName);
    if (FIFolder* folder = OpenOrCreateFolder(appFolderUrl)) {
        FPropList* tree = NewLanguageTree(m_usLanguage);
        // Only a file that was written is recorded for removal.
        if (WritePropListXml(tree, folder, preferences))
            AddFileRecord(m_pOwnFiles, ChildUrl(folder->GetURL(), preferences));
        DeletePropList(tree);
        folder->Release();
    }

    // The application's state file keeps everything else it holds; only the language changes.
    const FWideString stateName(kStateFileName);
    if (FIFolder* folder = OpenOrCreateFolder(AppDataFolderUrl())) {
        bool present = false;
        FPropList* tree = ParseIfPresent(folder, stateName, present);
        if (!tree)
            tree = NewLanguageTree(m_usLanguage);
        else if (FPropList* entry = FindLanguageEntry(tree))
            entry->SetString(FWideString("CurrentLanguage"), m_usLanguage);
        else {
            FPropList* added = new FPropList(tree, "PERDATA");
            added->AddProp(FWideString("Name"), FWideString(kLanguageEntry));
            added->AddProp(FWideString("CurrentLanguage"), m_usLanguage);
        }
        // A state file the user had before stays theirs at uninstallation.
        if (WritePropListXml(tree, folder, stateName) && !present)
            AddFileRecord(m_pOwnFiles, ChildUrl(folder->GetURL(), stateName));
        DeletePropList(tree);
        folder->Release();
    }

    if (FIFolder* maker = OpenOrCreateFolder(MakerFolderUrl())) {
        FPropList* root = new FPropList(nullptr, "AUTO_LAUNCH_PREFS");
        if (!m_usAutoLaunchExe.IsEmpty()) {
            FUrlParts parts = UrlParts(m_usAutoLaunchExe);
            if (parts.size() >= 3) {
                FWideString name;
                UnescapeURLChars(parts.back(), name);
                parts.pop_back();
                root->AddProp(FWideString("AutoLaunchApplication_Name"), name);
                root->AddProp(FWideString("AutoLaunchApplication_Path"), JoinParts(parts, true));
            }
        }
        root->AddProp(FWideString("Application_Name"), ChildUrl(appFolderUrl, m_usTargetExeName));
        root->AddProp(FWideString("State"), FWideString("True"));
        WritePropListXml(root, maker, FWideString(kAutoLaunchPrefsName));
        DeletePropList(root);
        maker->Release();
    }
}

void FUiInstallerMain::ReadCurrentLanguage()
{
    FIFolder* folder = OpenExistingFolder(AppDataFolderUrl());
    if (!folder)
        return;
    bool present = false;
    FPropList* tree = ParseIfPresent(folder, FWideString(kStateFileName), present);
    if (FPropList* entry = FindLanguageEntry(tree))
        m_usLanguage = entry->GetString(FWideString("CurrentLanguage"), FWideString("English"));
    DeletePropList(tree);
    folder->Release();
}
