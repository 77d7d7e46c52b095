#pragma once

// SAVE_IMAGES_AS_WIN_MGR: the batch save dialog. Counts the images of the chosen scope,
// asks the dialog's widgets for type, size, colour space, quality and destination, checks
// the destination and its free space, and hands one save request per image to the
// progress window with ON_PERFORM_SAVE.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "FUiIpObjectRequest.h"
#include "FUiObject.h"
#include "ProcessingSettings.h"

class FIFolder;
class FIPManager;
class FIUiMultiLangString;
class FIUiObjectFactory;
class FImageFileListEntry;

// The tables the single save dialog shares. A name of none of them changes nothing.
bool ApplySaveFileType(const FWideString& name, FUiIpObjectProcAndSaveReq& request, double& bytesPerPixel);
double OutputScaleOf(const FWideString& name);
// x + 0.5 with the fraction dropped.
int RoundHalfUp(double value);
// The source's file name (unescaped) without its extension, with ".jpg" or ".tif".
FWideString SavedFileName(const FWideString& sourceURL, bool jpeg);
// The application's version and name, as a saved file records them.
void StampSaveRequest(FIUiApp* app, FUiIpObjectProcAndSaveReq& request);
// The folder a save dialog proposes: the last one saved into, else the user's pictures
// folder, which need not exist yet; empty when neither is known.
FWideString ProposedSaveFolder(FIUiApp* app);
void RememberSaveFolder(FIUiApp* app, const FWideString& nativeFolder);
// The pictures folder is made when a save goes there for the first time.
void MakePicturesFolderFor(const FWideString& folderURL);
// A destination folder that does not open: its volume is removable or a CD-ROM drive.
bool OnRemovableVolume(
    const FWideString& folderURL,
    const std::function<FIFolder*(const FWideString& url, FWideString& fileName)>& openFolder);

class FUiSaveImagesAsWindow : public FUiObject
{
public:
    // `pool` (kept, not owned) stands in for the process-wide pool; null takes the pool.
    explicit FUiSaveImagesAsWindow(const char* typeName, FIPManager* pool = nullptr);
    ~FUiSaveImagesAsWindow() override;
    FUiSaveImagesAsWindow(const FUiSaveImagesAsWindow&) = delete;
    FUiSaveImagesAsWindow& operator=(const FUiSaveImagesAsWindow&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    // Opens a destination folder (without creating it); the storage registry's by default.
    using FFolderOpener = std::function<FIFolder*(const FWideString& url, FWideString& fileName)>;
    void SetFolderOpener(FFolderOpener opener) { m_openFolder = std::move(opener); }

    int GetSettingMode() const { return m_nMode; }
    int GetImagesInScope() const { return m_nInScope; }
    int64_t GetCommonPixelCount() const { return m_nCommonPixels; }
    // Bytes the images in scope need at the given scale and bytes per pixel.
    int64_t EstimateBytes(double scale, double bytesPerPixel) const;

private:
    enum class EScope { kAll, kMarked, kSelected };

    bool priInScope(const FImageFileListEntry& entry) const;
    void priCountImages();
    void priCheckResolutions();
    void priCanSaveUpdate();
    void priOkUpdate();
    void priTwoUpdates();
    void priScopeMessage(EScope scope);
    void priSizeMenuItem(const FWideString* pair, bool withSize);
    void priPerformSave();
    void priStartSaveBatch(const FWideString& folderURL);
    void priProposeFolder();
    FWideString priLabel(int count, int64_t bytes) const;
    void priFire(const char* eventName, void* data);
    void priFireText(const char* eventName, const FWideString& text);
    void priFireBool(const char* eventName, bool value);

    FFolderOpener m_openFolder;
    FIPManager* m_pPool = nullptr;
    bool m_bHoldsPool = false;
    FIUiMultiLangString* m_pSingular = nullptr;
    FIUiMultiLangString* m_pPlural = nullptr;
    std::vector<std::unique_ptr<FImageFileListEntry>> m_Entries;
    ProcessingSettings m_Chosen;
    int m_nMode = AutoSettingMode;
    FWideString m_usCustomName;
    double m_dScale = 1.0;
    double m_dJpegValue = 10.0;
    FWideString m_usNativeDir; // the destination as the user gave it
    // Until the dialog names a type the save is a JPEG with EXIF.
    double m_dBytesPerPixel = 0.33;
    int m_nInScope = 0;
    int64_t m_nCommonPixels = 0;
    FUiIpObjectProcAndSaveReq m_Request;
    bool m_bStoreSettings = false;
    EScope m_eScope = EScope::kAll;
    int m_nRawCount = 0;
    int m_nMarkedCount = 0;
    int m_nSelectedCount = 0;
};

// Registers "SAVE_IMAGES_AS_WIN_MGR".
bool RegisterSaveImagesAsWindowCreator(FIUiObjectFactory* factory);
