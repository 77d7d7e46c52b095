#pragma once

// COPY_CAMERA_WIN_MGR: the camera download dialog. Keeps its own list of the
// images (copies of another list, or a scan of a folder), shows counts, free
// space and resolution, checks the destination and hands one copy request per
// image to the progress window through ON_PERFORM_SAVE.

#include <cstdint>
#include <memory>

#include "FUiIpObjectRequest.h"
#include "FUiObject.h"
#include "FUiPoolHolder.h"
#include "FWideString.h"

class FIPManager;
class FIUiMultiLangString;
class FIUiObjectFactory;
class FImageFileList;
class FImageFileListEntry;

class FUiCopyCameraWindow : public FUiObject
{
public:
    // `pool` (kept, not owned) stands in for the process pool in tests.
    explicit FUiCopyCameraWindow(const char* typeName, FIPManager* pool = nullptr);
    ~FUiCopyCameraWindow() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Tick(int elapsedMs) override;

    const FWideString& GetDestinationURL() const { return m_usDestURL; }
    int GetImagesInScope() const { return m_nInScope; }
    bool IsScanning() const { return m_bScanning; }
    FImageFileList& GetList() { return *m_pList; }

private:
    enum Scope { kScopeAll, kScopeMarked, kScopeSelected };

    bool priInScope(const FImageFileListEntry* entry) const;
    void priReset();
    void priNewList();
    void priCounts();
    void priFreeSpace();
    void priResolutionCheck();
    void priSetDestination(const FWideString& url);
    void priPerformDownload();
    void priSendOne(const FImageFileListEntry* entry);
    FWideString priCountLabel(int count, int64_t bytes) const;
    FPropList* priStateNode() const;

    FIUiMultiLangString* m_pSingular = nullptr;
    FIUiMultiLangString* m_pPlural = nullptr;
    FUiPoolHolder m_pool;
    std::unique_ptr<FImageFileList> m_pList;
    bool m_bScanning = false;
    FWideString m_usDestURL;
    Scope m_eScope = kScopeAll;
    bool m_bDeleteSources = false;
    int m_nInScope = 0;
    FUiIpObjectCopyReq m_Request;
    FWideString m_usSendURL;

    RelayEvent* m_pOnInit = nullptr;
    RelayEvent* m_pOnSelectDir = nullptr;
    RelayEvent* m_pOnSendRelay = nullptr;
    RelayEvent* m_pOnSetPath = nullptr;
    RelayEvent* m_pOnGetPath = nullptr;
    RelayEvent* m_pOnSetDirSelect = nullptr;
    RelayEvent* m_pOnMarkedPresent = nullptr;
    RelayEvent* m_pOnSelectedPresent = nullptr;
    RelayEvent* m_pOnSizeAll = nullptr;
    RelayEvent* m_pOnSizeMarked = nullptr;
    RelayEvent* m_pOnSizeSelected = nullptr;
    RelayEvent* m_pOnStartBatch = nullptr;
    RelayEvent* m_pOnPerformSave = nullptr;
    RelayEvent* m_pOnSpaceFree = nullptr;
    RelayEvent* m_pOnBlankResolution = nullptr;
    RelayEvent* m_pOnSingleResolution = nullptr;
    RelayEvent* m_pOnMultipleResolutions = nullptr;
    RelayEvent* m_pOnSelectAll = nullptr;
    RelayEvent* m_pOnSelectMarked = nullptr;
    RelayEvent* m_pOnSelectSelected = nullptr;
    RelayEvent* m_pOnShowInvalid = nullptr;
    RelayEvent* m_pOnShowInsufficient = nullptr;
    RelayEvent* m_pOnHide = nullptr;
    RelayEvent* m_pOnIsReady = nullptr;
};

// "%.3g GB" above 1024 MB, else "%.3g MB"; nothing free reads 0 MB.
FWideString FormatFreeSpace(int64_t bytes);

// Bytes a download of `images` raw images is expected to need.
inline int64_t DownloadSpaceNeeded(int images)
{
    return static_cast<int64_t>(images) * 10000000;
}

bool RegisterCopyCameraWindowManager(FIUiObjectFactory* factory);
