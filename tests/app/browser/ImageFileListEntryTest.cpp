// The image file list entry against raw files of the fixture writer and the real manager
// pool: display fields, blank sentinels, thumbnails, mark, rotate, lock, delete, the info
// line and copies; fakes of the pool only where a request must fail, stall or vanish.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "BrowserFixtures.h"
#include "FEngineAccess.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FScopedTempFolder.h"
#include "FUiDateText.h"

using namespace browsertest;

namespace
{

using EntryTest = BrowserTest;

std::string N(const FWideString& text)
{
    return text.GetNarrow();
}

FImageFileListEntry Built(const Pairs& pairs)
{
    FPropList props(nullptr, "ImageProps");
    for (const auto& [name, value] : pairs)
        props.AddProp(name.c_str(), value.c_str());
    FImageFileListEntry entry;
    EXPECT_TRUE(entry.BuildDisplayProps(&props));
    return entry;
}

// Every row of the property table, one or more cases each, read from a property list.
TEST(EntryDisplayProps, EveryRowOfThePropertyTable)
{
    using Get = std::function<std::string(const FImageFileListEntry&)>;
    auto num = [](auto member) {
        return Get([member](const FImageFileListEntry& e) { return std::to_string(e.*member); });
    };
    auto text = [](FWideString FImageFileListEntry::*member) {
        return Get([member](const FImageFileListEntry& e) { return N(e.*member); });
    };
    auto setting = [](double ProcessingSettings::*field) {
        return Get([field](const FImageFileListEntry& e) { return std::to_string(e.m_Settings.*field); });
    };
    FWideString t;
    FWideString d;
    FormatTimeString(t, 86399 + 86400 * 365);
    FormatDateString(d, 86399 + 86400 * 365);
    struct Case {
        Pairs props;
        Get get;
        std::string expected;
    };
    const Case cases[] = {
        {{{"MARKBITS", "1"}}, num(&FImageFileListEntry::m_bMarked), "1"},
        {{{"MARKBITS", "x"}}, num(&FImageFileListEntry::m_bMarked), "0"},
        {{{"PROCESSABLE", "T"}}, num(&FImageFileListEntry::m_bRaw), "1"},
        {{{"ROTATION", "270"}}, num(&FImageFileListEntry::m_nRotation), "270"},
        {{{"COLS", "3000"}}, num(&FImageFileListEntry::m_nCols), "3000"},
        {{{"ROWS", "2000"}}, num(&FImageFileListEntry::m_nRows), "2000"},
        {{{"Q7FCOLS", "3008"}}, num(&FImageFileListEntry::m_nRawCols), "3008"},
        {{{"Q7FROWS", "2008"}}, num(&FImageFileListEntry::m_nRawRows), "2008"},
        {{{"TIME", "31622399"}}, num(&FImageFileListEntry::m_nCaptureTime), "31622399"},
        {{{"TIME", "31622399"}}, text(&FImageFileListEntry::m_usTimeOfDay), "23:59"},
        {{{"TIME", "31622399"}}, text(&FImageFileListEntry::m_usTime), N(t)},
        {{{"TIME", "31622399"}}, text(&FImageFileListEntry::m_usDate), N(d)},
        {{{"TIME", "-60"}}, text(&FImageFileListEntry::m_usTimeOfDay), "23:59"},
        {{{"TIME", ""}}, text(&FImageFileListEntry::m_usDate), " "},
        {{{"TIME", ""}}, num(&FImageFileListEntry::m_nCaptureTime), "0"},
        {{{"AP_DESC", "5.6"}}, text(&FImageFileListEntry::m_usAperture), "5.6"},
        {{{"SH_DESC", "1/250"}}, text(&FImageFileListEntry::m_usShutter), "1/250"},
        {{{"ISO", "400"}}, text(&FImageFileListEntry::m_usIso), "400"},
        {{{"RESOLUTION", "Large"}}, num(&FImageFileListEntry::m_nResolutionCode), "3"},
        {{{"RESOLUTION", "Medium"}}, num(&FImageFileListEntry::m_nResolutionCode), "2"},
        {{{"RESOLUTION", "medium"}}, num(&FImageFileListEntry::m_nResolutionCode), "0"},
        {{{"RESOLUTION", "High"}}, num(&FImageFileListEntry::m_nResolutionCode), "1"},
        {{{"RESOLUTION", ""}}, num(&FImageFileListEntry::m_nResolutionCode), "0"},
        {{{"RESOLUTION", "Medium"}}, text(&FImageFileListEntry::m_usResolution), "Medium"},
        {{{"CAMMANUF", "Talvo"}, {"CAMMODEL", "Talvo X1"}},
         text(&FImageFileListEntry::m_usCameraName),
         "Talvo X1"},
        {{{"CAMMANUF", "Talvo"}, {"CAMMODEL", "X1"}}, text(&FImageFileListEntry::m_usCameraName), "Talvo X1"},
        {{{"CAMMANUF", "talvo"}, {"CAMMODEL", "Talvo X1"}},
         text(&FImageFileListEntry::m_usCameraName),
         "talvo Talvo X1"},
        {{{"CAMMODEL", "X1"}}, text(&FImageFileListEntry::m_usCameraName), "X1"},
        {{}, text(&FImageFileListEntry::m_usCameraName), " "},
        {{{"rpUniqueID", "00FF"}}, text(&FImageFileListEntry::m_usUniqueID), "00FF"},
        {{{"EXPNET", "0.3"}}, text(&FImageFileListEntry::m_usExposureComp), "+0.3"},
        {{{"EXPNET", "-0.7"}}, text(&FImageFileListEntry::m_usExposureComp), "-0.7"},
        {{{"EXPNET", "0.0"}}, text(&FImageFileListEntry::m_usExposureComp), "0"},
        {{{"EXPNET", "1.9"}}, text(&FImageFileListEntry::m_usExposureComp), "+1.8"},
        {{{"EXPNET", "+1/3"}}, text(&FImageFileListEntry::m_usExposureComp), "+1.0"},
        {{{"EXPNET", "n/a"}}, text(&FImageFileListEntry::m_usExposureComp), "n/a"},
        {{{"EXPNET", "nan"}}, text(&FImageFileListEntry::m_usExposureComp), "nan"},
        {{{"PMODE", "P"}}, text(&FImageFileListEntry::m_usProgramMode), "P"},
        {{{"BRACKET", "3"}}, text(&FImageFileListEntry::m_usBracket), "3"},
        {{{"AEMODE", "8"}}, num(&FImageFileListEntry::m_nAEModeCode), "3"},
        {{{"AEMODE", "C"}}, num(&FImageFileListEntry::m_nAEModeCode), "1"},
        {{{"AEMODE", "A"}}, num(&FImageFileListEntry::m_nAEModeCode), "2"},
        {{{"AEMODE", "a"}}, num(&FImageFileListEntry::m_nAEModeCode), "0"},
        {{{"AEMODE", "88"}}, num(&FImageFileListEntry::m_nAEModeCode), "0"},
        {{{"AFMODE", "AF-S"}}, text(&FImageFileListEntry::m_usAFMode), "AF-S"},
        {{{"FLENGTH", "50"}, {"LENSFRANGE", "18 to 50"}},
         text(&FImageFileListEntry::m_usFocalLength),
         "50 mm (18-50)"},
        {{{"FLENGTH", "50"}, {"LENSFRANGE", "50"}}, text(&FImageFileListEntry::m_usFocalLength), "50 mm"},
        {{{"FLENGTH", "50"}}, text(&FImageFileListEntry::m_usFocalLength), "50 mm"},
        {{{"FLENGTH", "50"}, {"LENSFRANGE", "zoom"}},
         text(&FImageFileListEntry::m_usFocalLength),
         "50 mm (zoom)"},
        {{{"LENSFRANGE", "18 to 50"}}, text(&FImageFileListEntry::m_usFocalLength), " "},
        {{{"WB_DESC", "Daylight"}}, text(&FImageFileListEntry::m_usWhiteBalance), "Daylight"},
        {{{"WB_DESC_ORIG", "Auto"}}, text(&FImageFileListEntry::m_usOrigWhiteBalance), "Auto"},
        {{{"FIRMVERS", "1.02"}}, text(&FImageFileListEntry::m_usFirmware), "1.02"},
        {{{"DRIVE", "Single"}}, text(&FImageFileListEntry::m_usDriveMode), "Single"},
        {{{"FLASH", "Off"}}, text(&FImageFileListEntry::m_usFlash), "Off"},
        {{{"CAMSERIAL", ""}}, text(&FImageFileListEntry::m_usCameraSerial), " "},
        {{{"CAMSERIAL", "123"}}, text(&FImageFileListEntry::m_usCameraSerial), "123"},
        {{{"PROCESSABLE", "1"}, {"rpExposureCompensation", "0.5"}},
         setting(&ProcessingSettings::Exposure),
         "0.500000"},
        {{{"PROCESSABLE", "1"}, {"rpContrast", "-1"}}, setting(&ProcessingSettings::Contrast), "-1.000000"},
        {{{"PROCESSABLE", "1"}, {"rpShadow", "0.25"}}, setting(&ProcessingSettings::Blackness), "0.250000"},
        {{{"PROCESSABLE", "1"}, {"rpHighlight", "2"}}, setting(&ProcessingSettings::Highlight), "2.000000"},
        {{{"PROCESSABLE", "1"}, {"rpSharpness", "1"}}, setting(&ProcessingSettings::Sharpness), "1.000000"},
        {{{"PROCESSABLE", "1"}, {"rpSaturation", "-2"}},
         setting(&ProcessingSettings::Saturation),
         "-2.000000"},
        {{{"PROCESSABLE", "1"}, {"rpFillFlash", "0.75"}}, setting(&ProcessingSettings::Retinex), "0.750000"},
        {{{"PROCESSABLE", "1"}}, setting(&ProcessingSettings::Exposure), "0.000000"},
        {{{"PROCESSABLE", "1"}}, setting(&ProcessingSettings::ColorAdjustG), "1.000000"},
        {{{"PROCESSABLE", "0"}}, setting(&ProcessingSettings::Sharpness), "-999.900000"},
        {{{"PROCESSABLE", "0"}}, setting(&ProcessingSettings::ColorAdjustB), "-999.900000"},
        // 10 ^ (-0.01 * 10)
        {{{"rpColorAdjust", "10C"}}, setting(&ProcessingSettings::ColorAdjustR), "0.794328"},
        {{{"rpColorAdjust", "10C"}}, setting(&ProcessingSettings::ColorAdjustG), "1.000000"},
        {{{"rpSettingMode", "Auto Setting Mode"}}, text(&FImageFileListEntry::m_usSettingMode), "Auto"},
        {{{"rpSettingMode", "Q7F Setting Mode"}}, text(&FImageFileListEntry::m_usSettingMode), "Default"},
        {{{"rpSettingMode", "Default Setting Mode"}}, text(&FImageFileListEntry::m_usSettingMode), "Default"},
        {{{"rpSettingMode", "Custom Setting Mode"}}, text(&FImageFileListEntry::m_usSettingMode), "Custom"},
        {{{"rpSettingMode", "Custom: Portrait"}},
         text(&FImageFileListEntry::m_usSettingMode),
         "Custom: Portrait"},
        {{{"rpColorSpace", "3"}}, num(&FImageFileListEntry::m_nColorSpace), "3"},
        {{}, num(&FImageFileListEntry::m_nColorSpace), "-1"},
        {{{"rpSoftware", "Rawbench"}}, text(&FImageFileListEntry::m_usSoftware), "Rawbench"},
        {{{"rpMNSoftware", "1.0"}}, text(&FImageFileListEntry::m_usMakerNoteSoftware), "1.0"},
        {{{"rpQuality", "Fine"}}, text(&FImageFileListEntry::m_usQuality), "Fine"},
        {{{"EXIF_DATETIME_DIGITIZED", "31622399"}}, text(&FImageFileListEntry::m_usDigitizedDate), N(d)},
        {{{"EXIF_DATETIME_DIGITIZED", "31622399"}}, text(&FImageFileListEntry::m_usDigitizedTime), N(t)},
        {{}, text(&FImageFileListEntry::m_usDigitizedTime), " "},
        {{{"EXIF_DATETIME", "31622399"}}, text(&FImageFileListEntry::m_usExifDate), N(d)},
        {{{"EXIF_DATETIME", ""}}, text(&FImageFileListEntry::m_usExifTime), " "},
    };
    for (const Case& c : cases) {
        const FImageFileListEntry entry = Built(c.props);
        std::string label = c.props.empty() ? "(none)" : c.props[0].first + "=" + c.props[0].second;
        EXPECT_EQ(c.get(entry), c.expected) << label;
    }
    FImageFileListEntry untouched;
    EXPECT_FALSE(untouched.BuildDisplayProps(nullptr));
}

TEST(EntryDisplayProps, BlankSentinelAndAbsurdValues)
{
    // Absent texts read " ", present empty ones "".
    const FImageFileListEntry entry = Built({{"AP_DESC", ""}, {"PMODE", ""}});
    EXPECT_EQ(N(entry.m_usAperture), "");
    EXPECT_EQ(N(entry.m_usProgramMode), "");
    for (const FWideString* blank :
         {&entry.m_usShutter, &entry.m_usIso, &entry.m_usResolution, &entry.m_usTime, &entry.m_usWhiteBalance,
          &entry.m_usSettingMode, &entry.m_usExposureComp})
        EXPECT_EQ(N(*blank), " ");

    // Numbers far outside any camera's range and texts beyond ASCII come out whole.
    const char16_t maker[] = {u'K', 0x00F6, u'n', 0};
    const char16_t model[] = {u'K', 0x00F6, u'n', u' ', 0x6F22, 0};
    FPropList props(nullptr, "ImageProps");
    props.AddProp("EXPNET", "1e300");
    props.AddProp("COLS", "99999999999999");
    props.AddProp("TIME", "-2147483648");
    props.AddProp("LENSFRANGE", "-99999999999 to 99999999999");
    props.AddProp("FLENGTH", "12");
    props.AddProp(FWideString("CAMMANUF"), FWideString(maker));
    props.AddProp(FWideString("CAMMODEL"), FWideString(model));
    props.AddProp(FWideString("RESOLUTION"), FWideString(model + 1));
    props.AddProp("rpColorAdjust", "99999999999999999999C+Q");
    FImageFileListEntry odd;
    ASSERT_TRUE(odd.BuildDisplayProps(&props));
    EXPECT_EQ(N(odd.m_usExposureComp), "1e300");
    EXPECT_EQ(odd.m_nCols, 2147483647);
    EXPECT_EQ(odd.m_usTimeOfDay.GetLength(), 5);
    EXPECT_EQ(N(odd.m_usFocalLength), "12 mm (-2147483647-2147483647)");
    EXPECT_TRUE(odd.m_usCameraName == FWideString(model));
    EXPECT_EQ(odd.m_nResolutionCode, 0);
    EXPECT_GE(odd.m_Settings.ColorAdjustR, 0.0);
}

TEST(EntryFileKind, ExtensionsNamesAndTheNameWithoutADot)
{
    struct Case {
        const char* url;
        const char* name;
        const char* extension;
        bool raw, tiff, jpeg, camera, empty;
    };
    const Case cases[] = {
        {"disk://%002Ftmp/a/IMG_1.Q7F", "IMG_1.Q7F", "Q7F", true, false, false, false, false},
        {"disk://%002Ftmp/a/b.tiff", "b.tiff", "tiff", false, true, false, false, false},
        {"disk://%002Ftmp/a/c.d.JPeG", "c.d.JPeG", "JPeG", false, false, true, false, false},
        {"CAMERA://card/DCIM/x.q7f", "x.q7f", "q7f", true, false, false, true, false},
        {"disk://%002Ftmp/a/xq7f", "xq7f", "", false, false, false, false, false},
        {"disk://%002Ftmp/a/odd%0025name.q7f", "odd%name.q7f", "q7f", true, false, false, false, false},
        {"disk://", "", "", false, false, false, false, true},
        {"", "", "", false, false, false, false, true},
    };
    for (const Case& c : cases) {
        FImageFileListEntry entry;
        EXPECT_EQ(entry.SetURL(c.url), c.empty) << c.url;
        EXPECT_EQ(N(entry.m_usFileName), c.name) << c.url;
        EXPECT_EQ(N(entry.m_usExtension), c.extension) << c.url;
        EXPECT_EQ(entry.m_bRaw, c.raw) << c.url;
        EXPECT_EQ(entry.m_bTiff, c.tiff) << c.url;
        EXPECT_EQ(entry.m_bJpeg, c.jpeg) << c.url;
        EXPECT_EQ(entry.m_bCamera, c.camera) << c.url;
    }
}

TEST_F(EntryTest, PropertiesOfRawAndJpegFilesThroughThePool)
{
    RawOptions o;
    o.markBits = 1;
    o.rotation = 90;
    o.props = {{"TIME", "86399"}, {"EXPNET", "-0.7"},         {"CAMMANUF", "Talvo"}, {"CAMMODEL", "Talvo X1"},
               {"FLENGTH", "50"}, {"LENSFRANGE", "18 to 50"}, {"RESOLUTION", "M"},   {"PMODE", ""}};
    FImageFileListEntry raw;
    raw.SetURL(PutRaw("a.q7f", o));
    ASSERT_TRUE(raw.GetProps(GetIPManagerPool()));
    EXPECT_TRUE(raw.m_bPropsLoaded);
    EXPECT_TRUE(raw.m_bRaw);
    EXPECT_TRUE(raw.m_bMarked);
    EXPECT_TRUE(raw.m_bTransferred);
    EXPECT_FALSE(raw.m_bLocked);
    EXPECT_EQ(raw.m_nRotation, 90);
    EXPECT_EQ(raw.m_nCols, 480);
    EXPECT_EQ(raw.m_nRows, 640);
    EXPECT_EQ(raw.m_nFileSize, int64_t(std::filesystem::file_size(m_pFolder->NativePath("a.q7f"))));
    EXPECT_EQ(N(raw.m_usTimeOfDay), "23:59");
    EXPECT_EQ(N(raw.m_usExposureComp), "-0.7");
    EXPECT_EQ(N(raw.m_usCameraName), "Talvo X1");
    EXPECT_EQ(N(raw.m_usFocalLength), "50 mm (18-50)");
    EXPECT_EQ(raw.m_nResolutionCode, 2);
    EXPECT_EQ(N(raw.m_usProgramMode), "");
    EXPECT_EQ(N(raw.m_usShutter), " ");
    EXPECT_EQ(raw.m_Settings.Exposure, 0.0);
    EXPECT_EQ(raw.m_Settings.ColorAdjustR, 1.0);

    FImageFileListEntry jpeg;
    jpeg.SetURL(m_pFolder->Write("b.jpg", MakeJpeg(40, 30)));
    ASSERT_TRUE(jpeg.GetProps(GetIPManagerPool()));
    EXPECT_FALSE(jpeg.m_bRaw);
    EXPECT_FALSE(jpeg.m_bTransferred);
    EXPECT_EQ(jpeg.m_Settings.Exposure, FImageFileListEntry::kNoAdjustment);
    EXPECT_EQ(jpeg.m_Settings.ColorAdjustG, FImageFileListEntry::kNoAdjustment);
}

// A manager that ends every request at once with a fixed state, or never.
class FixedManager : public FIPManager
{
public:
    explicit FixedManager(int state) : m_iState(state) {}
    bool IsBusy() override { return false; }
    void Idle() override { ++m_iIdles; }
    void Request(FIPManagerRequest* request) override
    {
        if (m_iState == kError)
            request->m_Async.Fail(6, "file not found");
        else if (m_iState >= 0)
            request->m_Async.SetState(m_iState);
    }
    int m_iState;
    int m_iIdles = 0;
};

TEST_F(EntryTest, FailedCancelledStalledAndLostRequestsStillGiveBlankProperties)
{
    const FWideString url = PutRaw("a.q7f", RawOptions{{{"ISO", "100"}}});
    SetEngineWaitLimit(0.05);
    // kError, kCancelled, a manager that never takes the request (stays kInitialized), and
    // one that keeps it in progress for ever.
    for (int state : {int(kError), int(kCancelled), -1, int(kInProgress)}) {
        FixedManager manager(state);
        FImageFileListEntry entry;
        entry.SetURL(url);
        EXPECT_TRUE(entry.GetProps(&manager)) << state;
        EXPECT_EQ(N(entry.m_usIso), " ") << state;
        EXPECT_TRUE(entry.m_bPropsLoaded);
    }
    EXPECT_TRUE(Trace().Contains("FImageFileListEntry::GetProps: IPManager returned 6 (file not found)"));

    // Not a raw file at all, through the real pool.
    FImageFileListEntry garbage;
    garbage.SetURL(m_pFolder->Write("c.q7f", rawtest::Bytes(300, 0x5A)));
    EXPECT_TRUE(garbage.GetProps(GetIPManagerPool()));
    EXPECT_EQ(N(garbage.m_usCameraName), " ");

    // A file that vanished, a null pool and an empty URL answer false.
    FImageFileListEntry gone;
    gone.SetURL(m_pFolder->URL("gone.q7f"));
    EXPECT_FALSE(gone.GetProps(GetIPManagerPool()));
    EXPECT_FALSE(gone.m_bPropsLoaded);
    EXPECT_FALSE(garbage.GetProps(nullptr));
    FImageFileListEntry empty;
    EXPECT_FALSE(empty.GetProps(GetIPManagerPool()));
}

TEST_F(EntryTest, ThumbnailFailureKeepsTheOldOne)
{
    FImageFileListEntry entry;
    entry.SetURL(PutRaw("a.q7f"));
    ASSERT_TRUE(entry.GetIFLEThumbnail(GetIPManagerPool(), 32, 32));
    FIPMImage* first = entry.m_pThumbnail;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(entry.m_nThumbCols, 32);
    EXPECT_EQ(entry.m_nThumbRows, 24);

    // The file shrinks to a header without any image; then it disappears.
    const std::string path = m_pFolder->NativePath("a.q7f");
    std::filesystem::resize_file(path, 200);
    EXPECT_FALSE(entry.GetIFLEThumbnail(GetIPManagerPool(), 16, 16));
    EXPECT_EQ(entry.m_pThumbnail, first);
    EXPECT_EQ(entry.m_nThumbCols, 32);
    EXPECT_EQ(entry.m_nThumbReqWidth, 16);
    std::filesystem::remove(path);
    EXPECT_FALSE(entry.GetIFLEThumbnail(GetIPManagerPool(), 16, 16));
    EXPECT_EQ(entry.m_pThumbnail, first);
    EXPECT_FALSE(entry.GetIFLEThumbnail(GetIPManagerPool(), 0, 16));
    EXPECT_FALSE(entry.GetIFLEThumbnail(nullptr, 16, 16));
    EXPECT_EQ(entry.m_pThumbnail, first);
    EXPECT_FALSE(entry.LoadPropsAndThumbnail(GetIPManagerPool(), 16, 16));
}

TEST_F(EntryTest, CopiesShareTheThumbnail)
{
    auto original = std::make_unique<FImageFileListEntry>();
    original->SetURL(PutRaw("a.q7f"));
    ASSERT_TRUE(original->LoadPropsAndThumbnail(GetIPManagerPool(), 40, 40));
    original->m_usSortKey = "key";
    original->m_bPending = true;
    FImageFileListEntry neighbour;
    original->m_pNext = &neighbour;
    FImageFileListEntry copy(*original);
    EXPECT_EQ(copy.m_pThumbnail, original->m_pThumbnail);
    EXPECT_TRUE(copy.m_usSortKey.IsEmpty());
    EXPECT_FALSE(copy.m_bPending);
    EXPECT_EQ(copy.m_pNext, nullptr);
    EXPECT_TRUE(copy.m_usURL == original->m_usURL);
    original.reset();
    // Still alive: the copy's reference holds it.
    ASSERT_NE(copy.m_pThumbnail->GetPixmap(), nullptr);
    EXPECT_EQ(copy.m_pThumbnail->GetPixmap()->GetCols(), 40);

    FCountingImage counted;
    FImageFileListEntry holder;
    holder.m_pThumbnail = &counted;
    {
        FImageFileListEntry a(holder);
        FImageFileListEntry b(a);
    }
    EXPECT_EQ(counted.m_iAddRefs, 2);
    EXPECT_EQ(counted.m_iReleases, 2);
    holder.m_pThumbnail = nullptr;
}

TEST_F(EntryTest, LockChangesOnlyTheOwnersWriteBit)
{
    FImageFileListEntry entry;
    entry.SetURL(PutRaw("a.q7f"));
    ASSERT_TRUE(entry.GetProps(GetIPManagerPool()));
    const std::string path = m_pFolder->NativePath("a.q7f");
    std::filesystem::permissions(path, std::filesystem::perms(0664));
    EXPECT_TRUE(entry.SetLock(true));
    EXPECT_TRUE(entry.m_bLocked);
    EXPECT_EQ(Permissions(path), 0464);
    EXPECT_TRUE(m_pFolder->Exists("a.q7f"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_pFolder->NativePath("")), {}), 1);
    ASSERT_TRUE(entry.GetProps(GetIPManagerPool()));
    EXPECT_TRUE(entry.m_bLocked);
    EXPECT_TRUE(entry.SetLock(false));
    EXPECT_EQ(Permissions(path), 0664);

    // A vanished file: the storage layer cannot apply it, and the entry says so.
    std::filesystem::remove(path);
    EXPECT_FALSE(entry.SetLock(true));
    EXPECT_FALSE(entry.m_bLocked);
    FImageFileListEntry empty;
    EXPECT_FALSE(empty.SetLock(true));
}

TEST_F(EntryTest, MarkAndRotateLiftTheLockOnlyForTheWrite)
{
    const std::string path = m_pFolder->NativePath("a.q7f");
    FImageFileListEntry entry;
    entry.SetURL(PutRaw("a.q7f"));
    ASSERT_TRUE(entry.GetProps(GetIPManagerPool()));
    ASSERT_TRUE(entry.SetLock(true));
    const int lockedMode = Permissions(path);

    EXPECT_TRUE(entry.MarkImage(GetIPManagerPool(), true));
    EXPECT_TRUE(entry.m_bMarked);
    EXPECT_TRUE(entry.m_bLocked);
    EXPECT_EQ(Permissions(path), lockedMode);
    FImageFileListEntry reread;
    reread.SetURL(entry.m_usURL);
    ASSERT_TRUE(reread.GetProps(GetIPManagerPool()));
    EXPECT_TRUE(reread.m_bMarked);

    // No thumbnail was ever asked for: refused, and the file keeps every byte.
    const rawtest::Bytes before = m_pFolder->Read("a.q7f");
    EXPECT_FALSE(entry.RotateImage(GetIPManagerPool(), true));
    EXPECT_EQ(m_pFolder->Read("a.q7f"), before);
    EXPECT_EQ(Permissions(path), lockedMode);

    ASSERT_TRUE(entry.GetIFLEThumbnail(GetIPManagerPool(), 32, 32));
    EXPECT_EQ(entry.m_nThumbRows, 24);
    EXPECT_TRUE(entry.RotateImage(GetIPManagerPool(), true));
    EXPECT_EQ(entry.m_nRotation, 90);
    EXPECT_EQ(entry.m_nCols, 480);
    EXPECT_EQ(entry.m_nThumbCols, 24);
    EXPECT_EQ(entry.m_nThumbRows, 32);
    EXPECT_TRUE(entry.m_bLocked);
    EXPECT_TRUE(entry.m_bTransferred);
    EXPECT_EQ(Permissions(path), lockedMode);
    EXPECT_TRUE(entry.RotateImage(GetIPManagerPool(), false));
    EXPECT_EQ(entry.m_nRotation, 0);

    // A failed write leaves the mark as it was and still puts the lock back.
    FixedManager failing(kError);
    EXPECT_FALSE(entry.MarkImage(&failing, false));
    EXPECT_TRUE(entry.m_bMarked);
    EXPECT_EQ(Permissions(path), lockedMode);
    EXPECT_TRUE(Trace().Contains("FImageFileListEntry::MarkImage: IPManager returned 6"));
    EXPECT_FALSE(entry.RotateImage(&failing, true));
    EXPECT_EQ(entry.m_nCols, 640);
    EXPECT_EQ(Permissions(path), lockedMode);
}

TEST_F(EntryTest, DeleteRefusesLockedEntriesAndTrashesOthers)
{
    FScopedEnv dataHome("XDG_DATA_HOME", m_pFolder->NativePath("data"));
    FImageFileListEntry entry;
    entry.SetURL(PutRaw("a.q7f"));
    ASSERT_TRUE(entry.GetProps(GetIPManagerPool()));
    ASSERT_TRUE(entry.SetLock(true));
    EXPECT_FALSE(entry.DeleteImage());
    EXPECT_TRUE(m_pFolder->Exists("a.q7f"));
    ASSERT_TRUE(entry.SetLock(false));
    EXPECT_TRUE(entry.DeleteImage());
    EXPECT_FALSE(m_pFolder->Exists("a.q7f"));
    EXPECT_TRUE(std::filesystem::exists(m_pFolder->NativePath("data/Trash/files/a.q7f")));
    // Already gone: the storage layer's error is caught and reported.
    EXPECT_FALSE(entry.DeleteImage());
    EXPECT_TRUE(Trace().Contains("FImageFileListEntry::DeleteImage: caught FException"));
}

TEST(EntryInfoLine, PiecesInOrderWithSeparatorsStripped)
{
    FImageFileListEntry e = Built({{"TIME", "45296"},
                                   {"AP_DESC", "5.6"},
                                   {"SH_DESC", "1/250"},
                                   {"ISO", "200"},
                                   {"PMODE", "P"},
                                   {"EXPNET", "0.3"},
                                   {"FLENGTH", "50"},
                                   {"RESOLUTION", "Large"}});
    e.SetURL("disk://f/IMG 1.q7f");
    e.m_nFileSize = 5 * 1024 * 1024;
    e.m_usTime = "12:34 PM";
    e.m_usDate = "01/01/70";
    struct Case {
        const char* separator;
        const char* shutter;
        const char* exposure;
        const char* expected;
    };
    const Case cases[] = {
        {" | ", "1/250", "+0.3",
         "IMG 1.q7f | 01/01/70 | 12:34 PM | f/5.6 | 1/250s | ISO 200 | P(+0.3) | 50 mm | Large | 5.00 MB"},
        {" ", "1/250", "+0.3", "IMG 1.q7f 01/01/70 12:34PM f/5.6 1/250s ISO200 P(+0.3) 50mm Large 5.00MB"},
        {"  ", "BULB 30", "0",
         "IMG 1.q7f  01/01/70  12:34 PM  f/5.6  Bulb  ISO 200  P  50 mm  Large  5.00 MB"},
    };
    for (const Case& c : cases) {
        e.m_usShutter = c.shutter;
        e.m_usExposureComp = c.exposure;
        FWideString line;
        e.GetInfoLine(line, "f/", "s", "Bulb", c.separator);
        EXPECT_EQ(N(line), c.expected);
    }

    // Nothing known but the name and the size.
    FImageFileListEntry bare = Built({});
    bare.SetURL("disk://f/x.jpg");
    bare.m_nFileSize = 100;
    FWideString line;
    bare.GetInfoLine(line, "f/", "s", "Bulb", "  ");
    EXPECT_EQ(N(line), "x.jpg  100 B");
}

} // namespace
