#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "FSha256.h"
#include "FUiObject.h"

class FIFile;
class FIFolder;
class FIUiObjectFactory;
class FPropList;

// One file to copy, as the install list describes it.
struct InstallFileRecord {
    FWideString m_destFolderURL;
    FWideString m_destFolderPath;
    FWideString m_installOS;
    FWideString m_fileName;
    FWideString m_destFileName;
    FWideString m_destURL;
    FWideString m_reserved;
    FWideString m_runTime;
    FWideString m_commandLine;
    FWideString m_subPath;
    bool m_bDestNameGiven = false;
    bool m_bUninstall = true;
    bool m_bFolderGroup = false;
    bool m_bTargetExe = false;
    // Not in the list's record: the copy must be startable.
    bool m_bAutoLaunch = false;
};

// Replaces every occurrence of token, leftmost first; replaced text is not searched again.
void ReplaceAllTokens(FWideString& text, const FWideString& token, const FWideString& replacement);

// COPY_CONTROL: reads the install list's file lists and copies the files, one
// piece of one file per tick, into the destination.
class FUiInstallCopyControl : public FUiObject
{
public:
    static constexpr int kChunkSize = 262144;
    // An entry whose start keeps failing is given up after this many tries.
    static constexpr int kMaxStartAttempts = 3;

    explicit FUiInstallCopyControl(const char* typeName);
    ~FUiInstallCopyControl() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Tick(int elapsedMs) override;

    // Test access.
    const std::vector<InstallFileRecord>& GetEntries() const { return m_entries; }
    const std::vector<FWideString>& GetMissingFolders() const { return m_missingFolders; }
    const FWideString& GetContainerURL() const { return m_usContainerURL; }
    const FWideString& GetOsName() const { return m_usOsName; }
    int GetRemaining() const { return m_iRemaining; }
    bool IsCopying() const { return m_pSourceFile != nullptr; }
    // Replaces the operating-system name and the three special folders.
    void SetSystemForTest(const FWideString& osName, const FWideString& systemURL,
                          const FWideString& tempURL);
    // Takes the install list over (tests and fuzzing: no archive needed).
    void SetInstallList(FPropList* root);
    // Reads the file lists of the held install list (what "CopyFiles" does after the style merge).
    void ReadFileList();

private:
    struct ListError {
        FWideString text;
    };

    void priOpenInstallList();
    void priTakeSpecialFolders();
    void priCreateRoots();
    void priExpand(FWideString& text) const;
    void priReadTarget(FPropList* target, FPropList* group, bool folderGroup, bool groupAutoLaunch);
    void priAddEntry(InstallFileRecord& entry);
    FIFolder* priOpenSourceRoot();
    FIFolder* priOpenSourceFolder(const FWideString& subPath);
    void priStartCopy();
    void priStartEntry();
    void priCopyChunk();
    void priFinishEntry();
    void priAdvance();
    void priNoteMissingFolders(const FWideString& destURL);
    void priReleaseCurrent(bool removeTemp);
    void priSendLists();
    void priFinishCopy();
    void priFailCopy(const FWideString& text);
    void priSendError(const FWideString& text);
    void priUninstall(FPropList* root);
    FWideString priSourceName(const InstallFileRecord& entry) const;

    FWideString m_usContainerURL;
    FPropList* m_pInstallList = nullptr;
    FWideString m_usTargetDirectory;
    FWideString m_usLanguage;
    FWideString m_usOsName;
    FWideString m_usSystemURL;
    FWideString m_usTempURL;
    FWideString m_usExtensionsURL;
    bool m_bSourceIsArchive = true;
    FWideString m_usSourceFolderName;
    std::vector<InstallFileRecord> m_entries;
    std::vector<FWideString> m_missingFolders;
    FPropList* m_pFilesRoot = nullptr;
    FPropList* m_pFoldersRoot = nullptr;
    FPropList* m_pLaunchRoot = nullptr;

    int m_iIndex = 0;
    int m_iRemaining = 0;
    int m_iTotal = 0;
    int m_iStartAttempts = 0;
    uint64_t m_iBytesLeft = 0;
    uint64_t m_iBytesDone = 0;
    FSha256 m_digest;
    FIFolder* m_pArchive = nullptr;
    FIFolder* m_pSourceFolder = nullptr;
    FIFile* m_pSourceFile = nullptr;
    FIFolder* m_pDestFolder = nullptr;
    FIFile* m_pTempFile = nullptr;
    FWideString m_usTempName;
    FWideString m_usDestName;
    std::vector<unsigned char> m_buffer;
    bool m_bUpdateMode = false;
    bool m_bSystemForced = false;
};

bool RegisterInstallCopyControl(FIUiObjectFactory* factory);
