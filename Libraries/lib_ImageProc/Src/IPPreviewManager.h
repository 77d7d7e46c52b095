#pragma once

// Makes a display-size picture of a file from the images it already carries (a raw
// container's embedded previews, a JPEG or TIFF file read at a reduced scale) without
// developing it, and keeps finished previews in the global cache under a label, so that
// the same preview is delivered again without touching the file.

#include <cstdint>
#include <memory>

#include "FDataRetriever.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIPSubManagers.h"
#include "FRect.h"
#include "FWideString.h"

class FCacheObject;
class FIIPEngine2;
class FIPERequestRotate;
class FImage;
class FPropList;

class IPPreviewManager : public FIPManager
{
public:
    static constexpr double kIdleSlice = 0.01;
    static constexpr unsigned kPreviewPriority = 20;
    // Embedded images of a raw container smaller than this are chroma-filtered.
    static constexpr int64_t kChromaFilterPixels = 250000;

    // Borrows the parent's retriever and engine; the parent answers the properties
    // request. None is owned.
    IPPreviewManager(FIPManager* parent, FIDataRetriever* retriever, FIIPEngine2* engine);
    // A request still current ends as cancelled (3).
    ~IPPreviewManager() override;
    IPPreviewManager(const IPPreviewManager&) = delete;
    IPPreviewManager& operator=(const IPPreviewManager&) = delete;

    bool IsBusy() override { return m_pCurReq != nullptr; }
    void Idle() override;
    void Request(FIPManagerRequest* request) override;

    int GetState() const { return m_iState; }
    // Label of the preview in the cache for the current request (empty between requests).
    const FWideString& GetPreviewLabel() const { return m_usPreviewLabel; }

private:
    struct Candidate {
        int m_iIndex = -1;
        int m_iCols = 0;
        int m_iRows = 0;
        int m_iPixelType = 0;
        int m_iKind = 0;
    };

    void priProcessIdle();
    void priRunState();
    void priPreviewRequestProperties();
    void priPreviewWaitProperties();
    void priHandlePreviewAllocate();
    void priPreviewRequestImageInfo();
    void priPreviewChooseImage();
    void priPreviewLoadImage();
    void priPreviewConvertImage();
    void priPreviewRotate();
    void priPreviewRotateDone();
    void priPreviewResize();
    void priPreviewDeliver();
    void priCleanup();
    void priFail(int errorCode, const char* text);
    void priFailWith(const FAsyncStatus& status);
    void priReleaseImages();
    // Waits for the retriever's answer in place; the loaders answer these at once.
    void priRunRetrieverToEnd();

    FIPManager* m_pParent;
    FIDataRetriever* m_pDataRetriever;
    FIIPEngine2* m_pEngine;
    FDataRetrieverRequest m_DataReq;
    std::unique_ptr<FIPERequestRotate> m_pIPEngineReq;
    int m_iState = 0;
    FIPManagerRequest* m_pCurReq = nullptr;
    FIPManagerRequest m_PropsReq;
    FWideString m_usPreviewLabel;
    FPropList* m_pImageProps = nullptr;
    FCacheObject* m_pCacheObj = nullptr;
    int m_iRotation = 0;
    // Pictures whose EXIF orientation mirrors them ("MIRROR").
    bool m_bMirror = false;
    int m_iImageIndex = 0;
    Candidate m_Large;
    Candidate m_Small;
    Candidate m_Chosen;
    int m_iFittedCols = 0;
    int m_iFittedRows = 0;
    FRect m_rCrop;
    // The requested box, turned back into the stored image's frame.
    int m_iBoxCols = 0;
    int m_iBoxRows = 0;
    FImage* m_pImage = nullptr;
    FImage* m_pRotImage = nullptr;
};
