#pragma once

// One image file of the browser: its URL and kind, the texts the views show, the
// adjustments stored in it, its flags and a shared thumbnail. Everything is learnt from the
// manager pool by blocking requests the entry polls itself, and from the storage layer.

#include <cstdint>

#include "FWideString.h"
#include "ProcessingSettings.h"

class FIPManager;
class FIPManagerRequest;
class FIPMImage;
class FPropList;

class FImageFileListEntry
{
public:
    FImageFileListEntry();
    // Shares the thumbnail (one more reference); the sort key, the pending flag and the
    // neighbours are not copied.
    FImageFileListEntry(const FImageFileListEntry& other);
    FImageFileListEntry& operator=(const FImageFileListEntry&) = delete;
    virtual ~FImageFileListEntry();

    // Answers true when the file name came out empty (so true means failure).
    bool SetURL(const FWideString& url);
    // Attributes and size from storage, then the display fields from a property request.
    // False for a null pool, an empty URL or a file that cannot be opened; a request that
    // fails still answers true, with every text blank.
    bool GetProps(FIPManager* pool);
    // GetProps in three steps, so that a reader can ask the engine for many files at once:
    // the file's own facts (false when it cannot be opened), the request, and its answer.
    bool BeginProps(FIPManager* pool);
    void MakePropsRequest(FIPManagerRequest& request) const;
    void EndProps(const FIPManagerRequest& request);
    // False (old thumbnail kept) unless a display image of that size came back.
    bool GetIFLEThumbnail(FIPManager* pool, int width, int height);
    bool LoadPropsAndThumbnail(FIPManager* pool, int width, int height);
    // Both lift a lock for the write and put it back afterwards.
    bool MarkImage(FIPManager* pool, bool mark);
    // Refused for an entry that never had a thumbnail request.
    bool RotateImage(FIPManager* pool, bool clockwise);
    // Answers whether the storage layer applied it.
    bool SetLock(bool lock);
    // To the trash; refused for a locked entry. The entry stays in its list.
    bool DeleteImage();
    void ReleaseThumbnail();
    void GetInfoLine(FWideString& out, const FWideString& aperturePrefix, const FWideString& shutterSuffix,
                     const FWideString& bulbText, const FWideString& separator) const;
    // Sets m_usSortKey for the list's sort method (1 name .. 5 resolution).
    void GetSortKey(int method);

    // Builds every display field from a property list; false for null (nothing changes).
    bool BuildDisplayProps(const FPropList* props);

    FWideString m_usURL;
    // The last part of the URL with its escapes undone: the name as the file system has it.
    FWideString m_usFileName;
    // After the last dot, without it; empty for a name without a dot.
    FWideString m_usExtension;
    bool m_bCamera = false;
    bool m_bPropsLoaded = false;
    int m_nVisibleIndex = -1;
    int m_nVisibleCount = 0;
    int m_nCaptureTime = 0;
    FWideString m_usSortKey;
    FWideString m_usDigitizedTime, m_usDigitizedDate;
    FWideString m_usExifTime, m_usExifDate;
    FWideString m_usQuality, m_usSoftware, m_usMakerNoteSoftware, m_usBracket;
    FWideString m_usTime, m_usTimeOfDay, m_usDate;
    FWideString m_usAperture, m_usShutter, m_usIso, m_usResolution;
    int m_nColorSpace = 0;
    int m_nResolutionCode = 0;
    int m_nRotation = 0;
    FWideString m_usExposureComp, m_usProgramMode, m_usAEMode;
    int m_nAEModeCode = 0;
    FWideString m_usAFMode, m_usFocalLength, m_usWhiteBalance, m_usOrigWhiteBalance, m_usFirmware,
        m_usDriveMode, m_usFlash, m_usCameraSerial;
    ProcessingSettings m_Settings;
    FWideString m_usSettingMode;
    FWideString m_usCameraName;
    FWideString m_usUniqueID;
    bool m_bPending = false;
    bool m_bMarked = false;
    bool m_bLocked = false;
    bool m_bTransferred = false;
    // The last mark or rotation could not be written to the file.
    bool m_bChangeUnwritten = false;
    bool m_bSelected = false;
    bool m_bRaw = false;
    bool m_bTiff = false;
    bool m_bJpeg = false;
    bool m_bVisible = false;
    // 64-bit, so that files of 2 GiB and more neither wrap nor go negative.
    int64_t m_nFileSize = 0;
    int m_nCols = 0, m_nRows = 0;
    int m_nRawCols = 0, m_nRawRows = 0;
    int m_nThumbReqWidth = 0, m_nThumbReqHeight = 0;
    FIPMImage* m_pThumbnail = nullptr;
    int m_nThumbCols = 0, m_nThumbRows = 0;
    FImageFileListEntry* m_pPrev = nullptr;
    FImageFileListEntry* m_pNext = nullptr;

    // The -999.9 of an adjustment that does not apply (files that are not raw).
    static constexpr double kNoAdjustment = -999.9;

private:
    bool priSetFileKind();
    bool priModify(FIPManager* pool, const char* name, const char* value, const char* caller);
};

// Makes the record a display preview of the file at that size, cropped to (0, 0, width,
// height), colour space 2: the thumbnail request of the entry and of the list's queue.
void SetPreviewRequest(FIPManagerRequest& request, const FWideString& url, int width, int height);

// Sets the entry's thumbnail from a finished preview request's output image: the old one
// released, the new one kept with one more reference. False when there is no pixmap.
bool TakeThumbnail(FImageFileListEntry& entry, FIPMImage* image);
