#include "FImageFileListEntry.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "ColorCompensation.h"
#include "FDebugTrace.h"
#include "FEngineAccess.h"
#include "FException.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIStorageClass.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FUiDateText.h"
#include "ImagePropKeys.h"
#include "StorageClassRegistry.h"

namespace
{

const FWideString kBlank(" ");

bool IsBlank(const FWideString& text)
{
    return text == " ";
}

// A text property: " " when absent, the value (also empty) when present.
FWideString Text(const FPropList& props, const char* name, bool* found = nullptr)
{
    return props.GetString(FWideString(name), kBlank, found);
}

bool StartsWith(const FWideString& text, const FWideString& prefix)
{
    if (prefix.GetLength() > text.GetLength())
        return false;
    return FWideString::priCompareUnits(text.GetBuffer(), prefix.GetBuffer(), prefix.GetLength()) == 0;
}

void SkipSpaces(const char*& p)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        ++p;
}

// One number as scanf "%f" reads it, in the C locale whatever the process's: leading blanks,
// a sign, then the longest number; false when no number starts there.
bool ScanFloat(const char* text, float& value)
{
    const char* p = text;
    SkipSpaces(p);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p == '+' || *p == '-')
        return false;
    double parsed = 0.0;
    const auto result = std::from_chars(p, p + std::strlen(p), parsed);
    if (result.ec == std::errc::invalid_argument)
        return false;
    if (result.ec == std::errc::result_out_of_range)
        parsed = HUGE_VAL;
    value = static_cast<float>(negative ? -parsed : parsed);
    return true;
}

// One decimal integer as scanf "%d" reads it, saturated to 32 bits.
bool ScanInt(const char*& p, long& value)
{
    SkipSpaces(p);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9')
        return false;
    long long magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        magnitude = magnitude > 0x7FFFFFFFLL ? magnitude : magnitude * 10 + (*p - '0');
    if (magnitude > 0x7FFFFFFFLL)
        magnitude = 0x7FFFFFFFLL;
    value = static_cast<long>(negative ? -magnitude : magnitude);
    return true;
}

// "%d to %d", as scanf matches it (blanks in the pattern match any run of blanks).
bool ScanRange(const char* text, long& low, long& high)
{
    const char* p = text;
    if (!ScanInt(p, low))
        return false;
    SkipSpaces(p);
    if (p[0] != 't' || p[1] != 'o')
        return false;
    p += 2;
    return ScanInt(p, high);
}

// The exposure text moved to the nearest sixth of a stop; unchanged when it is no number.
void RoundExposureText(FWideString& text)
{
    float value = 0.0f;
    if (!ScanFloat(text.GetNarrow(), value) || !std::isfinite(value))
        return;
    if (value == 0.0f) {
        text = "0";
        return;
    }
    // Kept in doubles: the integer part of an absurd value would not fit an int.
    const double n = std::trunc((double(value) + 10.0) * 6.0 + 0.5);
    text.Format("%+0.1f", n * 0.16666667 - 10.0);
}

int ResolutionCode(const FWideString& text)
{
    if (text.IsEmpty())
        return 0;
    switch (text.GetBuffer()[0]) {
    case u'L':
        return 3;
    case u'M':
        return 2;
    case u'H':
        return 1;
    default:
        return 0;
    }
}

int AEModeCode(const FWideString& text)
{
    if (text == "8")
        return 3;
    if (text == "C")
        return 1;
    if (text == "A")
        return 2;
    return 0;
}

FWideString CameraName(const FWideString& maker, const FWideString& model)
{
    if (IsBlank(maker) && IsBlank(model))
        return kBlank;
    if (StartsWith(model, maker))
        return model;
    if (!IsBlank(maker)) {
        FWideString name(maker);
        name += " ";
        name += model;
        return name;
    }
    return model;
}

void TimeTexts(int seconds, FWideString& time, FWideString& date)
{
    FormatTimeString(time, static_cast<uint32_t>(seconds));
    FormatDateString(date, static_cast<uint32_t>(seconds));
}

// With a one-blank separator the blanks inside a piece would read as separators.
FWideString Stripped(const FWideString& piece, const FWideString& separator)
{
    if (!(separator == " "))
        return piece;
    FWideString out;
    for (int i = 0; i < piece.GetLength(); ++i)
        if (piece.GetBuffer()[i] != u' ')
            out.Append(piece.GetBuffer()[i]);
    return out;
}

void TraceFailure(const char* caller, const FIPManagerRequest* request, int state)
{
    if (request == nullptr || state != kError)
        return;
    DebugTrace("FImageFileListEntry::%s: IPManager returned %d (%s)\n", caller,
               request->m_Async.GetErrorCode(), request->m_Async.m_usErrorText.GetNarrow());
}

} // namespace

FImageFileListEntry::FImageFileListEntry() = default;

FImageFileListEntry::FImageFileListEntry(const FImageFileListEntry& other)
    : m_usURL(other.m_usURL), m_usFileName(other.m_usFileName), m_usExtension(other.m_usExtension),
      m_bCamera(other.m_bCamera), m_bPropsLoaded(other.m_bPropsLoaded),
      m_nVisibleIndex(other.m_nVisibleIndex), m_nVisibleCount(other.m_nVisibleCount),
      m_nCaptureTime(other.m_nCaptureTime), m_usDigitizedTime(other.m_usDigitizedTime),
      m_usDigitizedDate(other.m_usDigitizedDate), m_usExifTime(other.m_usExifTime),
      m_usExifDate(other.m_usExifDate), m_usQuality(other.m_usQuality), m_usSoftware(other.m_usSoftware),
      m_usMakerNoteSoftware(other.m_usMakerNoteSoftware), m_usBracket(other.m_usBracket),
      m_usTime(other.m_usTime), m_usTimeOfDay(other.m_usTimeOfDay), m_usDate(other.m_usDate),
      m_usAperture(other.m_usAperture), m_usShutter(other.m_usShutter), m_usIso(other.m_usIso),
      m_usResolution(other.m_usResolution), m_nColorSpace(other.m_nColorSpace),
      m_nResolutionCode(other.m_nResolutionCode), m_nRotation(other.m_nRotation),
      m_usExposureComp(other.m_usExposureComp), m_usProgramMode(other.m_usProgramMode),
      m_usAEMode(other.m_usAEMode), m_nAEModeCode(other.m_nAEModeCode), m_usAFMode(other.m_usAFMode),
      m_usFocalLength(other.m_usFocalLength), m_usWhiteBalance(other.m_usWhiteBalance),
      m_usOrigWhiteBalance(other.m_usOrigWhiteBalance), m_usFirmware(other.m_usFirmware),
      m_usDriveMode(other.m_usDriveMode), m_usFlash(other.m_usFlash),
      m_usCameraSerial(other.m_usCameraSerial), m_Settings(other.m_Settings),
      m_usSettingMode(other.m_usSettingMode), m_usCameraName(other.m_usCameraName),
      m_usUniqueID(other.m_usUniqueID), m_bMarked(other.m_bMarked), m_bLocked(other.m_bLocked),
      m_bTransferred(other.m_bTransferred), m_bSelected(other.m_bSelected), m_bRaw(other.m_bRaw),
      m_bTiff(other.m_bTiff), m_bJpeg(other.m_bJpeg), m_bVisible(other.m_bVisible),
      m_nFileSize(other.m_nFileSize), m_nCols(other.m_nCols), m_nRows(other.m_nRows),
      m_nRawCols(other.m_nRawCols), m_nRawRows(other.m_nRawRows), m_nThumbReqWidth(other.m_nThumbReqWidth),
      m_nThumbReqHeight(other.m_nThumbReqHeight), m_pThumbnail(other.m_pThumbnail),
      m_nThumbCols(other.m_nThumbCols), m_nThumbRows(other.m_nThumbRows)
{
    if (m_pThumbnail != nullptr)
        m_pThumbnail->AddRef();
}

FImageFileListEntry::~FImageFileListEntry()
{
    ReleaseThumbnail();
}

bool FImageFileListEntry::SetURL(const FWideString& url)
{
    m_usURL = url;
    return priSetFileKind();
}

bool FImageFileListEntry::priSetFileKind()
{
    m_usFileName.Clear();
    m_usExtension.Clear();
    if (m_usURL.IsEmpty())
        return true;
    m_bCamera =
        m_usURL.GetLength() >= 7 &&
        EqualsNoCase(FWideString(m_usURL.GetBuffer(), m_usURL.GetBuffer() + 6), FWideString("camera:"));
    std::vector<FWideString> parts;
    SplitURL(m_usURL, parts);
    // "scheme://" alone names no file.
    const bool hasScheme = m_usURL.Find(FWideString("://")) != nullptr;
    if (!parts.empty() && (!hasScheme || parts.size() >= 2))
        UnescapeURLChars(parts.back(), m_usFileName);
    // A name without a dot has no extension (never "the name less its first character").
    const char16_t* name = m_usFileName.GetBuffer();
    for (int i = m_usFileName.GetLength() - 1; i >= 0; --i) {
        if (name[i] == u'.') {
            m_usExtension = FWideString(name + i + 1, name + m_usFileName.GetLength() - 1);
            break;
        }
    }
    if (m_usExtension.CompareNoCase("tif") == 0 || m_usExtension.CompareNoCase("tiff") == 0)
        m_bTiff = true;
    else if (m_usExtension.CompareNoCase("jpg") == 0 || m_usExtension.CompareNoCase("jpeg") == 0)
        m_bJpeg = true;
    else if (m_usExtension.CompareNoCase("q7f") == 0)
        m_bRaw = true;
    return m_usFileName.IsEmpty();
}

bool FImageFileListEntry::GetProps(FIPManager* pool)
{
    if (pool == nullptr || m_usURL.IsEmpty())
        return false;
    priSetFileKind();
    FIFile* file = OpenFileURL(m_usURL, kFileRead);
    if (file == nullptr)
        return false;
    try {
        FFileInfo info;
        file->GetInfo(info);
        m_bLocked = (info.m_iFlags & kFileAttrReadOnly) != 0;
        m_nFileSize = static_cast<int64_t>(file->GetSize() & 0x7FFFFFFFFFFFFFFFULL);
        if (m_bTiff || m_bJpeg)
            m_bTransferred = false;
        else if (m_bCamera)
            m_bTransferred = (info.m_iFlags & 2) != 0;
        else
            m_bTransferred = true;
    } catch (...) {
        file->Release();
        throw;
    }
    file->Release();

    auto request = std::make_unique<FIPManagerRequest>();
    request->m_eKind = kReqProperties;
    request->m_usFileName = m_usURL;
    const int state = RunEngineRequest(pool, *request);
    TraceFailure("GetProps", request.get(), state);
    if (request && state == kCompleted && request->m_pImageProps != nullptr) {
        BuildDisplayProps(request->m_pImageProps);
    } else {
        // A failed, cancelled or lost request still gives an entry, with blank texts.
        FPropList none(nullptr, "ImageProps");
        BuildDisplayProps(&none);
    }
    m_bPropsLoaded = true;
    return true;
}

bool FImageFileListEntry::BuildDisplayProps(const FPropList* list)
{
    if (list == nullptr)
        return false;
    const FPropList& props = *list;
    bool found = false;
    m_bMarked = props.GetBool(FWideString("MARKBITS"), false);
    m_bRaw = props.GetBool(FWideString("PROCESSABLE"), false);
    m_nRotation = props.GetInt(FWideString("ROTATION"), 0);
    m_nCols = props.GetInt(FWideString("COLS"), 0);
    m_nRows = props.GetInt(FWideString("ROWS"), 0);
    m_nRawCols = props.GetInt(FWideString("Q7FCOLS"), 0);
    m_nRawRows = props.GetInt(FWideString("Q7FROWS"), 0);

    const int time = props.GetInt(FWideString("TIME"), 0, &found);
    if (found) {
        m_nCaptureTime = time;
        TimeTexts(time, m_usTime, m_usDate);
        // Seconds of the day, kept positive for times before 1970.
        int s = time % 86400;
        if (s < 0)
            s += 86400;
        m_usTimeOfDay.Format("%02d:%02d", s / 3600, (s / 60) % 60);
    } else {
        m_nCaptureTime = 0;
        m_usTime = kBlank;
        m_usTimeOfDay = kBlank;
        m_usDate = kBlank;
    }

    m_usAperture = Text(props, "AP_DESC");
    m_usShutter = Text(props, "SH_DESC");
    m_usIso = Text(props, "ISO");
    m_usResolution = Text(props, "RESOLUTION");
    m_nResolutionCode = ResolutionCode(m_usResolution);
    m_usCameraName = CameraName(Text(props, "CAMMANUF"), Text(props, "CAMMODEL"));
    m_usUniqueID = Text(props, propkey::kUniqueID);
    m_usExposureComp = Text(props, "EXPNET");
    RoundExposureText(m_usExposureComp);
    m_usProgramMode = Text(props, "PMODE");
    m_usBracket = Text(props, "BRACKET");
    m_usAEMode = Text(props, "AEMODE");
    m_nAEModeCode = AEModeCode(m_usAEMode);
    m_usAFMode = Text(props, "AFMODE");

    m_usFocalLength = Text(props, "FLENGTH", &found);
    if (found && !IsBlank(m_usFocalLength)) {
        bool rangeFound = false;
        const FWideString range = Text(props, "LENSFRANGE", &rangeFound);
        if (rangeFound && !(range == m_usFocalLength)) {
            FWideString shown(range);
            long low = 0;
            long high = 0;
            if (ScanRange(range.GetNarrow(), low, high))
                shown.Format("%ld-%ld", low, high);
            m_usFocalLength += " mm (";
            m_usFocalLength += shown;
            m_usFocalLength += ")";
        } else {
            m_usFocalLength += " mm";
        }
    }

    m_usWhiteBalance = Text(props, "WB_DESC");
    m_usOrigWhiteBalance = Text(props, "WB_DESC_ORIG");
    m_usFirmware = Text(props, "FIRMVERS");
    m_usDriveMode = Text(props, "DRIVE");
    m_usFlash = Text(props, "FLASH");
    m_usCameraSerial = Text(props, "CAMSERIAL");
    if (m_usCameraSerial.IsEmpty())
        m_usCameraSerial = kBlank;

    const double none = m_bRaw ? 0.0 : kNoAdjustment;
    m_Settings.Exposure = props.GetFloat(FWideString(propkey::kExposure), none);
    m_Settings.Contrast = props.GetFloat(FWideString(propkey::kContrast), none);
    m_Settings.Blackness = props.GetFloat(FWideString(propkey::kShadow), none);
    m_Settings.Highlight = props.GetFloat(FWideString(propkey::kHighlight), none);
    m_Settings.Sharpness = props.GetFloat(FWideString(propkey::kSharpness), none);
    m_Settings.Saturation = props.GetFloat(FWideString(propkey::kSaturation), none);
    m_Settings.Retinex = props.GetFloat(FWideString(propkey::kFillLight), none);

    const FWideString colorAdjust = Text(props, propkey::kColorAdjust, &found);
    if (found) {
        FDoubleRGB gains;
        CCStringToRGBGains(gains, colorAdjust.GetNarrow());
        m_Settings.ColorAdjustR = gains.r;
        m_Settings.ColorAdjustG = gains.g;
        m_Settings.ColorAdjustB = gains.b;
    } else {
        const double gain = m_bRaw ? 1.0 : kNoAdjustment;
        m_Settings.ColorAdjustR = m_Settings.ColorAdjustG = m_Settings.ColorAdjustB = gain;
    }

    m_usSettingMode = SettingModeShownText(Text(props, propkey::kSettingMode));
    m_nColorSpace = props.GetInt(FWideString(propkey::kColorSpace), -1);
    m_usSoftware = Text(props, propkey::kSoftware);
    m_usMakerNoteSoftware = Text(props, propkey::kMakerNoteSoftware);
    m_usQuality = Text(props, propkey::kQuality);

    const int digitized = props.GetInt(FWideString("EXIF_DATETIME_DIGITIZED"), 0, &found);
    if (found) {
        TimeTexts(digitized, m_usDigitizedTime, m_usDigitizedDate);
    } else {
        m_usDigitizedTime = kBlank;
        m_usDigitizedDate = kBlank;
    }
    const int exif = props.GetInt(FWideString("EXIF_DATETIME"), 0, &found);
    if (found) {
        TimeTexts(exif, m_usExifTime, m_usExifDate);
    } else {
        m_usExifTime = kBlank;
        m_usExifDate = kBlank;
    }
    return true;
}

void SetPreviewRequest(FIPManagerRequest& request, const FWideString& url, int width, int height)
{
    request.m_eKind = kReqPreview;
    request.m_usFileName = url;
    request.m_iOutCols = width;
    request.m_iOutRows = height;
    request.m_rCrop.Set(0, 0, width, height);
    request.m_eOutputFormat = kDisplay;
    request.m_iColorSpace = 2;
}

bool TakeThumbnail(FImageFileListEntry& entry, FIPMImage* image)
{
    FPixmap* pixmap = image != nullptr ? image->GetPixmap() : nullptr;
    if (pixmap == nullptr)
        return false;
    image->AddRef();
    entry.ReleaseThumbnail();
    entry.m_pThumbnail = image;
    entry.m_nThumbCols = pixmap->GetCols();
    entry.m_nThumbRows = pixmap->GetRows();
    return true;
}

bool FImageFileListEntry::GetIFLEThumbnail(FIPManager* pool, int width, int height)
{
    if (pool == nullptr || m_usURL.IsEmpty())
        return false;
    m_nThumbReqWidth = width;
    m_nThumbReqHeight = height;
    if (width < 1 || height < 1)
        return false;
    auto request = std::make_unique<FIPManagerRequest>();
    SetPreviewRequest(*request, m_usURL, width, height);
    const int state = RunEngineRequest(pool, *request);
    TraceFailure("GetIFLEThumbnail", request.get(), state);
    if (state != kCompleted || !request)
        return false;
    return TakeThumbnail(*this, request->m_pOutputImage);
}

bool FImageFileListEntry::LoadPropsAndThumbnail(FIPManager* pool, int width, int height)
{
    return GetProps(pool) && GetIFLEThumbnail(pool, width, height);
}

bool FImageFileListEntry::priModify(FIPManager* pool, const char* name, const char* value, const char* caller)
{
    auto request = std::make_unique<FIPManagerRequest>();
    request->m_eKind = kReqModify;
    request->m_usFileName = m_usURL;
    request->m_pImageProps->AddProp(name, value);
    const int state = RunEngineRequest(pool, *request);
    TraceFailure(caller, request.get(), state);
    m_bChangeUnwritten = state != kCompleted;
    return state == kCompleted;
}

bool FImageFileListEntry::MarkImage(FIPManager* pool, bool mark)
{
    m_bChangeUnwritten = false;
    if (pool == nullptr || m_usURL.IsEmpty())
        return false;
    const bool wasLocked = m_bLocked;
    if (wasLocked)
        SetLock(false);
    const bool done = priModify(pool, "MARKBITS", mark ? "1" : "0", "MarkImage");
    if (done)
        m_bMarked = mark;
    SetLock(wasLocked);
    return done;
}

bool FImageFileListEntry::RotateImage(FIPManager* pool, bool clockwise)
{
    m_bChangeUnwritten = false;
    if (pool == nullptr || m_usURL.IsEmpty() || m_nThumbReqWidth < 1 || m_nThumbReqHeight < 1)
        return false;
    const bool wasTransferred = m_bTransferred;
    // Only a raw file is written; a picture's turn is kept apart from it.
    const bool wasLocked = m_bLocked && m_bRaw;
    if (wasLocked)
        SetLock(false);
    bool done = priModify(pool, "ROTATION", clockwise ? "+90" : "-90", "RotateImage");
    if (done) {
        std::swap(m_nCols, m_nRows);
        if (!GetProps(pool))
            done = false;
        if (!GetIFLEThumbnail(pool, m_nThumbReqWidth, m_nThumbReqHeight))
            done = false;
    }
    m_bTransferred = wasTransferred;
    if (m_bRaw)
        SetLock(wasLocked);
    return done;
}

bool FImageFileListEntry::SetLock(bool lock)
{
    if (m_usURL.IsEmpty())
        return false;
    FIFile* file = OpenFileURL(m_usURL, kFileRead);
    if (file == nullptr)
        return false;
    FFileInfo info;
    info.m_iFlags = (lock ? kFileAttrReadOnly : 0) | (m_bTransferred ? 2 : 0);
    bool applied = true;
    try {
        file->SetAttributes(info);
    } catch (const FException& e) {
        DebugTrace("FImageFileListEntry::SetLock: caught FException %s (%s)\n", e.GetDescription(),
                   e.GetMessage());
        applied = false;
    }
    file->Release();
    if (applied)
        m_bLocked = lock;
    return applied;
}

bool FImageFileListEntry::DeleteImage()
{
    if (m_usURL.IsEmpty() || m_bLocked)
        return false;
    try {
        MoveToTrashURL(m_usURL);
    } catch (const FException& e) {
        DebugTrace("FImageFileListEntry::DeleteImage: caught FException %s (%s)\n", e.GetDescription(),
                   e.GetMessage());
        return false;
    }
    return true;
}

void FImageFileListEntry::ReleaseThumbnail()
{
    if (m_pThumbnail == nullptr)
        return;
    m_pThumbnail->Release();
    m_pThumbnail = nullptr;
}

void FImageFileListEntry::GetInfoLine(FWideString& out, const FWideString& aperturePrefix,
                                      const FWideString& shutterSuffix, const FWideString& bulbText,
                                      const FWideString& separator) const
{
    out.Clear();
    auto piece = [&](const FWideString& text) {
        out += text;
        out += separator;
    };
    piece(m_usFileName);
    if (!IsBlank(m_usDate))
        piece(m_usDate);
    if (!IsBlank(m_usTime))
        piece(Stripped(m_usTime, separator));
    if (!IsBlank(m_usAperture)) {
        FWideString text(aperturePrefix);
        text += m_usAperture;
        piece(text);
    }
    if (m_usShutter.Find(FWideString("BULB")) != nullptr) {
        piece(bulbText);
    } else if (!IsBlank(m_usShutter)) {
        FWideString text(m_usShutter);
        text += shutterSuffix;
        piece(text);
    }
    if (!IsBlank(m_usIso)) {
        FWideString text("ISO");
        if (!(separator == " "))
            text += " ";
        text += m_usIso;
        piece(text);
    }
    if (!IsBlank(m_usProgramMode)) {
        FWideString text(m_usProgramMode);
        if (!IsBlank(m_usExposureComp) && !(m_usExposureComp == "0")) {
            text += "(";
            text += m_usExposureComp;
            text += ")";
        }
        piece(text);
    }
    if (!IsBlank(m_usFocalLength))
        piece(Stripped(m_usFocalLength, separator));
    if (!IsBlank(m_usResolution))
        piece(m_usResolution);
    FWideString size;
    size.SetByteSize(m_nFileSize);
    out += Stripped(size, separator);
}

void FImageFileListEntry::GetSortKey(int method)
{
    FWideString key;
    switch (method) {
    case 1:
        break;
    case 2:
        key.Format("%.12d", m_nCaptureTime);
        break;
    case 3:
        key.Format("%.12lld", static_cast<long long>(m_nFileSize));
        break;
    case 4:
        if (m_bRaw) {
            key = "AAAA";
        } else {
            for (int i = 0; i < m_usExtension.GetLength(); ++i) {
                char16_t unit = m_usExtension.GetBuffer()[i];
                if (unit >= u'a' && unit <= u'z')
                    unit = char16_t(unit - u'a' + u'A');
                key.Append(unit);
            }
        }
        break;
    case 5:
        // The product in 64 bits: two large sides must not wrap to a negative count.
        key.Format("%.12lld%.12d", static_cast<long long>(m_nRows) * m_nCols, m_nRows);
        break;
    default:
        m_usSortKey.Clear();
        return;
    }
    key += m_usFileName;
    m_usSortKey = key;
}
