#pragma once

// One piece of image-processing work as a plain value: what to do, on which file, with which
// adjustments, and where the output goes. Windows build one, copy it freely and hand it to the
// engine service; only the service turns it into a manager request record.

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "FIPManagerRequest.h"
#include "FRect.h"
#include "FWideString.h"
#include "ProcessingSettings.h"

class FIPMImage;
class FPixmap;
class FPropList;

struct FIPJob {
    int kind = kReqNone;
    FWideString file;

    // What comes out: an image of this size and format, or a file of this type.
    int outCols = 0;
    int outRows = 0;
    FRect crop;
    int outputFormat = kOutputNone;
    FWideString outputFile;
    int fileType = kSaveNone;
    // For TIFF: bits per pixel (24 or 48).
    int quality = kDefaultJPEGQuality;
    bool exif = false;
    bool profileOptional = true;
    int32_t version[4] = {1, 0, 0, 0};
    FWideString software;

    // How it is developed.
    ProcessingSettings settings;
    int settingMode = 0;
    FWideString settingName;
    double neutral[3] = {-1.0, -1.0, -1.0};
    FWideString whiteBalance;
    FIPMPoint gray;
    FWideString camfile;
    bool dumpStages = false;

    // Header properties that a modify job writes, in order.
    std::vector<std::pair<FWideString, FWideString>> changes;
    // Set on a processed job: the rows go here, on an engine thread, instead of into an image.
    std::function<void(const FPixmap& rows)> writeRows;

    static FIPJob Properties(const FWideString& file);
    static FIPJob Modify(const FWideString& file, const char* name, const FWideString& value);
};

// Fills a fresh or reset manager record from the job; the one place where a job's fields meet
// the record's.
void FillManagerRequest(const FIPJob& job, FIPManagerRequest& request);
// The job a record describes (its header changes and row sink aside): copying a record is
// FillManagerRequest(JobOfRequest(from), to).
FIPJob JobOfRequest(const FIPManagerRequest& request);
// The whole job a record describes, its header changes and row sink included, for callers
// that still describe their work as a record.
FIPJob JobOfRecord(const FIPManagerRequest& request);
// The adjustments a finished automatic or gray-balance request wrote back; the colour space
// is left as it was.
void ReadBackSettings(const FIPManagerRequest& request, ProcessingSettings& settings);

// One reference on a produced image, given back when the holder goes.
class FIPImageRef
{
public:
    FIPImageRef() = default;
    // Takes over a reference the caller holds.
    static FIPImageRef Adopt(FIPMImage* image);
    // Adds a reference of its own.
    static FIPImageRef Share(FIPMImage* image);
    ~FIPImageRef();
    FIPImageRef(FIPImageRef&& other) noexcept : m_pImage(std::exchange(other.m_pImage, nullptr)) {}
    FIPImageRef& operator=(FIPImageRef&& other) noexcept;
    FIPImageRef(const FIPImageRef& other);
    FIPImageRef& operator=(const FIPImageRef& other);

    FIPMImage* Get() const { return m_pImage; }
    explicit operator bool() const { return m_pImage != nullptr; }
    FIPMImage* operator->() const { return m_pImage; }
    void Reset();

private:
    FIPMImage* m_pImage = nullptr;
};

// Why a job ended the way it did.
enum class FIPJobEnd : int {
    kDone = 0,       // the record's own final state says the rest
    kSuperseded = 1, // a newer job of the same requester took its place
    kCancelled = 2,  // its requester cancelled it
    kStopped = 3,    // the engine stopped before it ended
};

// The outcome of one job: delivered exactly once, on the thread that delivers.
struct FIPJobResult {
    uint64_t ticket = 0;
    FIPJobEnd end = FIPJobEnd::kDone;
    int state = kInitialized;
    int error = kErrNone;
    FWideString errorText;
    FIPImageRef image;
    // The record's property node ("ImageProps"), when it has one.
    std::shared_ptr<FPropList> props;
    // The job as the manager left it: automatic settings, neutral, gains.
    FIPJob job;

    bool Completed() const { return end == FIPJobEnd::kDone && state == kCompleted; }
};

// Writes a result back into the record it came from: state, error, properties, image and the
// values the manager left; for callers that still keep their work as a record.
void PutResultInRecord(FIPJobResult&& result, FIPManagerRequest& request);
