#pragma once

// Renders a file through the parent manager's stages, strip by strip (streamed by the
// parent in one request when it can), and writes the result as a JPEG or TIFF file with a
// thumbnail, the file's properties, the adjustments used and the output colour space's ICC
// profile. The file takes the place of one of the same name only once it is complete: a
// save that fails or is cancelled leaves nothing behind.

#include <cstdint>
#include <memory>
#include <mutex>

#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIPSubManagers.h"
#include "FWideString.h"

class FImageLineWriter;
class FPropList;

class IPSaveManager : public FIPManager
{
public:
    // Output rows rendered per strip, and rows of margin above and below a strip for the
    // filters that need neighbours.
    static constexpr int kStripRows = 100;
    static constexpr int kStripMargin = 2;
    static constexpr int kThumbnailSize = 160;
    // Seconds of work one Idle call may do.
    static constexpr double kIdleSlice = 0.02;

    // The parent answers the properties and processed-image requests; not owned. A parent
    // that streams is asked once for every row, handed to the writer as strips complete.
    explicit IPSaveManager(FIPManager* parent, bool parentStreams = false);
    // A request still current ends as cancelled (3), without a file.
    ~IPSaveManager() override;
    IPSaveManager(const IPSaveManager&) = delete;
    IPSaveManager& operator=(const IPSaveManager&) = delete;

    bool IsBusy() override { return m_pCurReq != nullptr; }
    void Idle() override;
    void Request(FIPManagerRequest* request) override;

    int GetState() const { return m_iState; }

private:
    void priProcessIdle();
    void priRunState();
    void priOpenWriter();
    void priSaveRequestProperties();
    void priSaveWaitProperties();
    void priSaveCreateThumbnail();
    void priSaveWriteProperties();
    void priSaveRequestStrip();
    void priSaveWriteStrip();
    void priSaveRequestStream();
    void priSaveWaitStream();
    void priSaveFinish();
    void priCleanup();
    // Ends the current request with the sub-request's status.
    void priFailWithSubRequest();
    void priFail(int errorCode, const char* text);
    // A cancel of the current request ends it before another sub-request is sent.
    bool priCancelledBeforeSend();
    // Readies the sub-request as a processed request with the save's parameters; false when
    // the save ended instead (busy record or cancel).
    bool priStartImageRequest(const char* busyText);
    bool priFitToImage();
    void priWriteSettings(FPropList& list) const;

    // The writer as the streaming parent's engine thread reaches it: closed before the
    // writer goes, so that a late strip finds no writer instead of a freed one.
    struct RowSink {
        std::mutex lock;
        FImageLineWriter* writer = nullptr;
        int pixelType = 0;
        int32_t rows = 0;
    };

    FIPManager* m_pParent;
    bool m_bParentStreams;
    std::shared_ptr<RowSink> m_pSink;
    int m_iState = 0;
    FIPManagerRequest* m_pCurReq = nullptr;
    FIPManagerRequest m_PropsReq;
    std::unique_ptr<FImageLineWriter> m_pWriter;
    FWideString m_usOutputFile;
    int32_t m_iRowsToWrite = 0;
    int32_t m_iRowsWritten = 0;
    int32_t m_iTopMargin = 0;
    int32_t m_iBottomMargin = 0;
    int32_t m_iStripHeight = 0;
    FPropList* m_pWriteProps = nullptr;
    // The crop as the stages will render it: fitted to the image's aspect ratio.
    FRect m_rFittedCrop;
    // Pixel type of the rows written, and output format asked of the strips.
    int m_iWriterPixelType = 0;
    int m_eStripFormat = kOutputNone;
};

// The text written as "rpSettingMode" for a setting-mode code and custom setting name.
FWideString SettingModeText(int settingMode, const FWideString& settingName);

// Copies what describes the work (file, kind, geometry, adjustments, output settings) from
// one request to another; status, output image, handling manager and the two property lists
// stay as they are.
void CopyRequestParameters(FIPManagerRequest& to, const FIPManagerRequest& from);
