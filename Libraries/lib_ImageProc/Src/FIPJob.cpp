#include "FIPJob.h"

#include <algorithm>

#include "FIPMImage.h"
#include "FPropList.h"

FIPJob FIPJob::Properties(const FWideString& file)
{
    FIPJob job;
    job.kind = kReqProperties;
    job.file = file;
    return job;
}

FIPJob FIPJob::Modify(const FWideString& file, const char* name, const FWideString& value)
{
    FIPJob job;
    job.kind = kReqModify;
    job.file = file;
    job.changes.emplace_back(FWideString(name), value);
    return job;
}

namespace
{

// The adjustments into the record's fields; the colour space stays as it is.
void WriteSettings(const ProcessingSettings& s, FIPManagerRequest& r)
{
    r.m_dExposure = s.Exposure;
    r.m_dShadow = s.Blackness;
    r.m_dContrast = s.Contrast;
    r.m_dHighlight = s.Highlight;
    r.m_dSaturation = s.Saturation;
    r.m_dSharpness = s.Sharpness;
    r.m_dFillLight = s.Retinex;
    r.m_adColorAdjust[0] = s.ColorAdjustR;
    r.m_adColorAdjust[1] = s.ColorAdjustG;
    r.m_adColorAdjust[2] = s.ColorAdjustB;
}

} // namespace

void FillManagerRequest(const FIPJob& job, FIPManagerRequest& r)
{
    r.m_eKind = job.kind;
    r.m_usFileName = job.file;
    r.m_iOutCols = job.outCols;
    r.m_iOutRows = job.outRows;
    r.m_rCrop = job.crop;
    r.m_eOutputFormat = job.outputFormat;
    r.m_usOutputFile = job.outputFile;
    r.m_eFileType = job.fileType;
    r.m_iJPEGQuality = job.quality;
    r.m_bJPEGFlag = job.exif ? 1 : 0;
    r.m_bProfileOptional = job.profileOptional ? 1 : 0;
    std::copy(std::begin(job.version), std::end(job.version), std::begin(r.m_aiVersion));
    r.m_usSoftwareName = job.software;

    WriteSettings(job.settings, r);
    r.m_iColorSpace = job.settings.ColorSpace;
    r.m_iSettingMode = job.settingMode;
    r.m_usSettingName = job.settingName;
    std::copy(std::begin(job.neutral), std::end(job.neutral), std::begin(r.m_adNeutral));
    r.m_usWhiteBalance = job.whiteBalance;
    r.m_ptGray = job.gray;
    r.m_usCamfile = job.camfile;
    r.m_bDumpStages = job.dumpStages ? 1 : 0;

    if (!job.changes.empty()) {
        if (r.m_pImageProps == nullptr)
            r.m_pImageProps = new FPropList(nullptr, "ImageProps");
        for (const auto& [name, value] : job.changes)
            r.m_pImageProps->AddProp(name, value);
    }
    r.m_WriteRows = job.writeRows;
}

FIPJob JobOfRequest(const FIPManagerRequest& r)
{
    FIPJob job;
    job.kind = r.m_eKind;
    job.file = r.m_usFileName;
    job.outCols = r.m_iOutCols;
    job.outRows = r.m_iOutRows;
    job.crop = r.m_rCrop;
    job.outputFormat = r.m_eOutputFormat;
    job.outputFile = r.m_usOutputFile;
    job.fileType = r.m_eFileType;
    job.quality = r.m_iJPEGQuality;
    job.exif = r.m_bJPEGFlag != 0;
    job.profileOptional = r.m_bProfileOptional != 0;
    std::copy(std::begin(r.m_aiVersion), std::end(r.m_aiVersion), std::begin(job.version));
    job.software = r.m_usSoftwareName;
    ReadBackSettings(r, job.settings);
    job.settings.ColorSpace = r.m_iColorSpace;
    job.settingMode = r.m_iSettingMode;
    job.settingName = r.m_usSettingName;
    std::copy(std::begin(r.m_adNeutral), std::end(r.m_adNeutral), std::begin(job.neutral));
    job.whiteBalance = r.m_usWhiteBalance;
    job.gray = r.m_ptGray;
    job.camfile = r.m_usCamfile;
    job.dumpStages = r.m_bDumpStages != 0;
    return job;
}

FIPJob JobOfRecord(const FIPManagerRequest& r)
{
    FIPJob job = JobOfRequest(r);
    if (r.m_eKind == kReqModify && r.m_pImageProps != nullptr)
        for (FPropPair* pair = r.m_pImageProps->GetFirstProp(); pair != nullptr; pair = pair->GetNext())
            job.changes.emplace_back(pair->GetName(), pair->GetValue());
    job.writeRows = r.m_WriteRows;
    return job;
}

void PutResultInRecord(FIPJobResult&& result, FIPManagerRequest& r)
{
    const FIPJob& job = result.job;
    if (result.end == FIPJobEnd::kDone) {
        WriteSettings(job.settings, r);
        r.m_iOutCols = job.outCols;
        r.m_iOutRows = job.outRows;
        std::copy(std::begin(job.neutral), std::end(job.neutral), std::begin(r.m_adNeutral));
    }
    if (result.props) {
        DeletePropList(r.m_pImageProps);
        r.m_pImageProps = result.props->Clone();
    }
    if (result.image) {
        if (r.m_pOutputImage != nullptr)
            r.m_pOutputImage->Release();
        r.m_pOutputImage = result.image.Get();
        r.m_pOutputImage->AddRef();
    }
    r.m_Async.m_usErrorText = result.errorText;
    r.m_Async.m_iErrorCode.store(result.error, std::memory_order_release);
    r.m_Async.SetState(result.state);
}

void ReadBackSettings(const FIPManagerRequest& r, ProcessingSettings& s)
{
    s.Exposure = r.m_dExposure;
    s.Blackness = r.m_dShadow;
    s.Contrast = r.m_dContrast;
    s.Highlight = r.m_dHighlight;
    s.Saturation = r.m_dSaturation;
    s.Sharpness = r.m_dSharpness;
    s.Retinex = r.m_dFillLight;
    s.ColorAdjustR = r.m_adColorAdjust[0];
    s.ColorAdjustG = r.m_adColorAdjust[1];
    s.ColorAdjustB = r.m_adColorAdjust[2];
}

FIPImageRef FIPImageRef::Adopt(FIPMImage* image)
{
    FIPImageRef ref;
    ref.m_pImage = image;
    return ref;
}

FIPImageRef FIPImageRef::Share(FIPMImage* image)
{
    if (image != nullptr)
        image->AddRef();
    return Adopt(image);
}

FIPImageRef::~FIPImageRef()
{
    Reset();
}

FIPImageRef& FIPImageRef::operator=(FIPImageRef&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_pImage = std::exchange(other.m_pImage, nullptr);
    }
    return *this;
}

FIPImageRef::FIPImageRef(const FIPImageRef& other) : m_pImage(other.m_pImage)
{
    if (m_pImage != nullptr)
        m_pImage->AddRef();
}

FIPImageRef& FIPImageRef::operator=(const FIPImageRef& other)
{
    if (this != &other)
        *this = Share(other.m_pImage);
    return *this;
}

void FIPImageRef::Reset()
{
    if (FIPMImage* image = std::exchange(m_pImage, nullptr))
        image->Release();
}
