#include <gtest/gtest.h>

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "FJPEGImageReader.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FTiffImageReader.h"
#include "FakeParentManager.h"
#include "IPOutputProfiles.h"
#include "IPSaveManager.h"
#include "LoaderTestFiles.h"
#include "RawTestFolder.h"
#include "SavedProfiles.h"

namespace
{

class IPSaveManagerTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        rawtest::EnsureDiskStorageClass();
        m_pFolder = std::make_unique<rawtest::RawTestFolder>();
        m_pManager = std::make_unique<IPSaveManager>(&m_parent);
    }
    void TearDown() override
    {
        m_pManager.reset();
        m_pFolder.reset();
        FEngineTest::TearDown();
    }

    // A save of the whole 640 x 480 image unless changed.
    void Prepare(FIPManagerRequest& req, const std::string& name, int fileType, int format)
    {
        req.Reset();
        req.m_eKind = kReqProcAndSave;
        req.m_usFileName = "ldrmem://any.xxx";
        req.m_usOutputFile = m_pFolder->URL(name);
        req.m_eFileType = fileType;
        req.m_eOutputFormat = format;
        req.m_iOutCols = 640;
        req.m_iOutRows = 480;
        req.m_rCrop = FRect(0, 0, 640, 480);
        req.m_usSoftwareName = "Rawbench";
        req.m_aiVersion[0] = 2;
        req.m_aiVersion[1] = 3;
        req.m_aiVersion[2] = 0;
        req.m_aiVersion[3] = 52;
    }

    bool Run(FIPManagerRequest& req)
    {
        m_pManager->Request(&req);
        return RunSubManager(*m_pManager, m_parent, req);
    }

    std::vector<FSubRequestRecord> Strips() const
    {
        std::vector<FSubRequestRecord> strips;
        for (const FSubRequestRecord& r : m_parent.m_requests)
            if (r.m_eKind == kReqProcessed && r.m_iOutCols != 160)
                strips.push_back(r);
        return strips;
    }

    FFakeParentManager m_parent;
    std::unique_ptr<rawtest::RawTestFolder> m_pFolder;
    std::unique_ptr<IPSaveManager> m_pManager;
};

} // namespace

TEST_F(IPSaveManagerTest, RefusesWhatItCannotSaveBeforeMakingAFile)
{
    struct Case {
        int kind;
        int format;
        int fileType;
        int error;
        const char* text;
    } cases[] = {
        {kReqProcessed, kRGB24, kSaveTIFF, kErrUnsupported, "IPSaveManager can only handle save requests."},
        {kReqProcAndSave, kDisplay, kSaveTIFF, kErrInvalid,
         "IPSaveManager: Cannot save with an output format of kDisplay"},
        {kReqProcAndSave, kOutputNone, kSaveTIFF, kErrInvalid, "IPSaveManager: Unsupported output format."},
        {kReqProcAndSave, kRGB24, kSaveNone, kErrInvalid, "IPSaveManager: Unsupported file type."},
        {kReqProcAndSave, kRGB24, 3, kErrInvalid, "IPSaveManager: Unsupported file type."},
    };
    for (const Case& c : cases) {
        FIPManagerRequest req;
        Prepare(req, "refused.tif", c.fileType, c.format);
        req.m_eKind = c.kind;
        m_pManager->Request(&req);
        EXPECT_EQ(req.m_Async.GetState(), kError);
        EXPECT_EQ(req.m_Async.GetErrorCode(), c.error);
        EXPECT_TRUE(req.m_Async.m_usErrorText == c.text) << c.text;
        EXPECT_FALSE(m_pManager->IsBusy());
    }
    EXPECT_TRUE(m_parent.m_requests.empty());
    EXPECT_FALSE(m_pFolder->Exists("refused.tif"));

    // Busy while a save is running.
    m_parent.m_bDeferred = true;
    FIPManagerRequest first;
    Prepare(first, "first.tif", kSaveTIFF, kRGB24);
    m_pManager->Request(&first);
    FIPManagerRequest second;
    Prepare(second, "second.tif", kSaveTIFF, kRGB24);
    m_pManager->Request(&second);
    EXPECT_EQ(second.m_Async.GetErrorCode(), kErrBusy);
    EXPECT_TRUE(second.m_Async.m_usErrorText == "IPSaveManager is busy.");
    EXPECT_TRUE(RunSubManager(*m_pManager, m_parent, first));
    EXPECT_EQ(first.m_Async.GetState(), kCompleted);
}

TEST_F(IPSaveManagerTest, StripsOfAHundredRowsWithTwoRowsOfMargin)
{
    struct Case {
        int rows;
        FRect crop;
        std::vector<std::pair<int, int>> strips; // crop top and bottom of each strip request
    };
    std::vector<std::pair<int, int>> twelve;
    for (int i = 0; i < 12; ++i)
        twelve.push_back({i == 0 ? 0 : 100 * i - 2, i == 11 ? 1200 : 100 * i + 102});
    const Case cases[] = {
        {1200, FRect(0, 0, 64, 1200), twelve},
        {1200, FRect(0, 50, 64, 300), {{48, 152}, {148, 252}, {248, 300}}},
        {1200, FRect(3, 1, 64, 102), {{1, 101}, {99, 102}}},
        {1200, FRect(0, 1197, 64, 1200), {{1195, 1200}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.crop.top);
        m_parent.m_requests.clear();
        m_parent.m_props = {{"COLS", "64"}, {"ROWS", std::to_string(c.rows)}};
        FIPManagerRequest req;
        Prepare(req, "strips.tif", kSaveTIFF, kRGB24);
        req.m_iOutCols = 64;
        req.m_iOutRows = c.rows;
        req.m_rCrop = c.crop;
        ASSERT_TRUE(Run(req));
        ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
        const auto strips = Strips();
        ASSERT_EQ(strips.size(), c.strips.size());
        for (size_t i = 0; i < strips.size(); ++i) {
            EXPECT_EQ(strips[i].m_rCrop.top, c.strips[i].first) << i;
            EXPECT_EQ(strips[i].m_rCrop.bottom, c.strips[i].second) << i;
            EXPECT_EQ(strips[i].m_rCrop.left, c.crop.left);
            EXPECT_EQ(strips[i].m_rCrop.right, c.crop.right);
            EXPECT_EQ(strips[i].m_eOutputFormat, kRGB24);
        }
        // The thumbnail is asked first, as sRGB 24-bit at 160 x 160.
        ASSERT_GE(m_parent.m_requests.size(), 2u);
        EXPECT_EQ(m_parent.m_requests[0].m_eKind, kReqProperties);
        const FSubRequestRecord& thumb = m_parent.m_requests[1];
        EXPECT_EQ(thumb.m_eKind, kReqProcessed);
        EXPECT_EQ(thumb.m_iOutCols, 160);
        EXPECT_EQ(thumb.m_iColorSpace, 2);
        EXPECT_EQ(thumb.m_eOutputFormat, kRGB24);
    }
}

TEST_F(IPSaveManagerTest, TiffRowsEqualTheImageTheStripsWereCutFrom)
{
    for (int format : {kRGB24, kRGB48}) {
        SCOPED_TRACE(format);
        m_parent.m_props = {{"COLS", "300"}, {"ROWS", "250"}, {"CAMMODEL", "Test"}};
        FIPManagerRequest req;
        Prepare(req, "rows.tif", kSaveTIFF, format);
        req.m_iOutCols = 300;
        req.m_iOutRows = 250;
        req.m_rCrop = FRect(10, 20, 290, 245);
        std::vector<double> progress;
        m_pManager->Request(&req);
        ASSERT_TRUE(TickUntil([&] { return !req.m_Async.IsInProgress(); },
                              [&] {
                                  m_parent.Idle();
                                  m_pManager->Idle();
                                  progress.push_back(req.m_Async.GetProgress());
                              }));
        ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_DOUBLE_EQ(req.m_Async.GetProgress(), 1.0);

        FTiffImageReader reader(req.m_usOutputFile);
        int cols = 0, rows = 0, type = 0;
        reader.GetDimensions(cols, rows, type);
        ASSERT_EQ(cols, 280);
        ASSERT_EQ(rows, 225);
        const int expectedType = format == kRGB48 ? FPixmap::PIXEL_48_RGB : FPixmap::PIXEL_24_RGB;
        ASSERT_EQ(type, expectedType);
        loadertest::OwnedPixmap image(type, cols, rows);
        reader.ReadImage(*image.m_pPixmap);
        int mismatches = 0;
        for (int y = 0; y < rows; ++y) {
            const uint8_t* row = image.m_pPixmap->GetRowAddress(y);
            for (int x = 0; x < cols; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int got =
                        format == kRGB48 ? reinterpret_cast<const uint16_t*>(row)[3 * x + c] : row[3 * x + c];
                    const int want = format == kRGB48 ? FFakeParentManager::Value16(10 + x, 20 + y, c)
                                                      : FFakeParentManager::Value8(10 + x, 20 + y, c);
                    mismatches += got != want;
                }
        }
        EXPECT_EQ(mismatches, 0);
        FPropList props(nullptr, "Props");
        reader.GetProperties(&props);
        EXPECT_TRUE(props.GetString("rpSoftware", "") == "Rawbench 2.3.0.0052");
    }
}

TEST_F(IPSaveManagerTest, ProfilesFollowFileTypeAndColourSpace)
{
    struct Case {
        int fileType;
        int space;
        bool optional;
        bool profile; // expected in the file
        int state;
    } cases[] = {
        {kSaveJPEG, 2, true, false, kCompleted}, {kSaveTIFF, 2, true, true, kCompleted},
        {kSaveJPEG, 3, true, true, kCompleted},  {kSaveTIFF, 11, true, true, kCompleted},
        {kSaveTIFF, 5, true, false, kCompleted}, {kSaveTIFF, 5, false, false, kError},
        {kSaveJPEG, 5, false, false, kError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.fileType) + " space " + std::to_string(c.space));
        const std::string name =
            "profile" + std::to_string(&c - cases) + (c.fileType == kSaveJPEG ? ".jpg" : ".tif");
        FIPManagerRequest req;
        Prepare(req, name, c.fileType, kRGB24);
        req.m_iColorSpace = c.space;
        req.m_bProfileOptional = c.optional ? 1 : 0;
        ASSERT_TRUE(Run(req));
        ASSERT_EQ(req.m_Async.GetState(), c.state) << req.m_Async.m_usErrorText.GetNarrow();
        if (c.state == kError) {
            EXPECT_EQ(req.m_Async.GetErrorCode(), kErrNoProfile);
            EXPECT_TRUE(req.m_Async.m_usErrorText ==
                        "IPSaveManager::priSaveWriteProperties: Color profile missing.");
            EXPECT_FALSE(m_pFolder->Exists(name));
            continue;
        }
        const std::string path = m_pFolder->NativePath(name);
        const std::vector<uint8_t> profile =
            c.fileType == kSaveJPEG ? JpegProfile(ReadAll(path)) : TiffProfile(path);
        if (c.profile)
            EXPECT_EQ(profile, GetOutputProfile(c.space));
        else
            EXPECT_TRUE(profile.empty());
    }
}

TEST_F(IPSaveManagerTest, SettingsAreWrittenWithTheFile)
{
    FIPManagerRequest req;
    Prepare(req, "settings.jpg", kSaveJPEG, kRGB24);
    req.m_iSettingMode = kSettingModeCustom;
    req.m_usSettingName = "Portrait";
    req.m_dExposure = 0.5;
    req.m_iJPEGQuality = 7;
    req.m_bJPEGFlag = 1;
    ASSERT_TRUE(Run(req));
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
    const std::string bytes = ReadAll(m_pFolder->NativePath("settings.jpg"));
    EXPECT_NE(bytes.find("Custom: Portrait"), std::string::npos);
    EXPECT_NE(bytes.find("Rawbench 2.3.0.0052"), std::string::npos);
    FJPEGImageReader reader(req.m_usOutputFile);
    int cols = 0, rows = 0, type = 0;
    reader.GetDimensions(cols, rows, type);
    EXPECT_EQ(cols, 640);
    EXPECT_EQ(rows, 480);
}

TEST_F(IPSaveManagerTest, SettingModeTexts)
{
    struct Case {
        int mode;
        FWideString name;
        const char* text;
    } cases[] = {
        {kSettingModeAutomatic, "x", "Auto Setting Mode"},
        {kSettingModeCustom, "Portrait", "Custom: Portrait"},
        {kSettingModeCustom, "", "Custom Setting Mode"},
        {kSettingModeCustom, "Why?", "Custom Setting Mode"},
        {kSettingModeCustom, u"Caf\u00e9", "Custom Setting Mode"},
        {kSettingModeCustom, "a\x7f", "Custom Setting Mode"},
        {kSettingModeAsShot, "", "Q7F Setting Mode"},
        {0, "", "Unknown Setting Mode"},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(SettingModeText(c.mode, c.name) == c.text) << c.text;
}

TEST_F(IPSaveManagerTest, OutputSizeIsFittedToTheImageBeforeTheFileIsSized)
{
    // A 2:1 image asked at 1000 x 1000 is rendered 1000 x 500: the file gets those rows.
    m_parent.m_props = {{"COLS", "3000"}, {"ROWS", "1500"}};
    FIPManagerRequest req;
    Prepare(req, "fitted.tif", kSaveTIFF, kRGB24);
    req.m_iOutCols = 1000;
    req.m_iOutRows = 1000;
    req.m_rCrop = FRect(0, 0, 1000, 1000);
    ASSERT_TRUE(Run(req));
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
    FTiffImageReader reader(req.m_usOutputFile);
    int cols = 0, rows = 0, type = 0;
    reader.GetDimensions(cols, rows, type);
    EXPECT_EQ(cols, 1000);
    EXPECT_EQ(rows, 500);
    EXPECT_EQ(Strips().back().m_rCrop.bottom, 500);

    // A crop outside the fitted image, or an image of unknown size, is refused.
    for (auto props : {std::vector<std::pair<std::string, std::string>>{{"COLS", "3000"}, {"ROWS", "1500"}},
                       std::vector<std::pair<std::string, std::string>>{}}) {
        m_parent.m_props = props;
        FIPManagerRequest bad;
        Prepare(bad, "bad.tif", kSaveTIFF, kRGB24);
        bad.m_iOutCols = 1000;
        bad.m_iOutRows = 1000;
        bad.m_rCrop = FRect(0, 600, 1000, 1000);
        ASSERT_TRUE(Run(bad));
        EXPECT_EQ(bad.m_Async.GetErrorCode(), kErrInvalid);
        EXPECT_FALSE(m_pFolder->Exists("bad.tif"));
    }
}

TEST_F(IPSaveManagerTest, FailedOrCancelledSaveLeavesNoFileAndKeepsTheOldOne)
{
    struct Case {
        const char* what;
        int failAfter;     // processed answers before one fails
        int failState;     // of the failing answer
        int cancelAtStrip; // cancel by the requester after this many strips (-1: never)
        bool shortStrip;
        int state;
        int error;
    } cases[] = {
        {"thumbnail fails", 0, kError, -1, false, kError, kErrFileIO},
        {"third strip fails", 3, kError, -1, false, kError, kErrFileIO},
        {"strip cancelled by the parent", 2, kCancelled, -1, false, kCancelled, kErrFileIO},
        {"cancelled by the requester", -1, kError, 2, false, kCancelled, kErrNone},
        {"strip of the wrong size", -1, kError, -1, true, kError, kErrException},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_pFolder->Write("old.tif", rawtest::Bytes{'o', 'l', 'd'});
        std::remove(m_pFolder->NativePath("new.jpg").c_str());
        for (const char* name : {"old.tif", "new.jpg"}) {
            m_parent = FFakeParentManager();
            m_parent.m_iFailAfter = c.failAfter;
            m_parent.m_iFailState = c.failState;
            m_parent.m_bShortStrips = c.shortStrip;
            m_parent.m_bDeferred = c.cancelAtStrip >= 0;
            FIPManagerRequest req;
            Prepare(req, name, std::string(name) == "old.tif" ? kSaveTIFF : kSaveJPEG, kRGB24);
            m_pManager->Request(&req);
            ASSERT_TRUE(TickUntil([&] { return !req.m_Async.IsInProgress(); },
                                  [&] {
                                      if (c.cancelAtStrip >= 0 && int(Strips().size()) >= c.cancelAtStrip)
                                          req.m_Async.RequestCancel();
                                      m_parent.Idle();
                                      m_pManager->Idle();
                                  }));
            EXPECT_EQ(req.m_Async.GetState(), c.state) << name;
            if (c.state == kError) {
                EXPECT_EQ(req.m_Async.GetErrorCode(), c.error) << name;
            }
            EXPECT_FALSE(m_pManager->IsBusy());
        }
        const rawtest::Bytes old = m_pFolder->Read("old.tif");
        EXPECT_EQ(std::string(old.begin(), old.end()), "old");
        EXPECT_FALSE(m_pFolder->Exists("new.jpg"));
    }
}

TEST_F(IPSaveManagerTest, DestroyedWhileSavingEndsCancelledWithoutAFile)
{
    m_parent.m_bDeferred = true;
    FIPManagerRequest req;
    Prepare(req, "destroyed.tif", kSaveTIFF, kRGB48);
    m_pManager->Request(&req);
    for (int i = 0; i < 6; ++i) {
        m_parent.Idle();
        m_pManager->Idle();
    }
    ASSERT_TRUE(req.m_Async.IsInProgress());
    m_pManager.reset();
    EXPECT_EQ(req.m_Async.GetState(), kCancelled);
    EXPECT_FALSE(m_pFolder->Exists("destroyed.tif"));
}

// A parent that streams is asked once for the fitted crop and its rows make the file; rows
// that fall short of the image, or a failed stream, leave no file.
TEST_F(IPSaveManagerTest, StreamingParentIsAskedOnceAndItsRowsMakeTheFile)
{
    m_pManager = std::make_unique<IPSaveManager>(&m_parent, true);
    m_parent.m_props = {{"COLS", "300"}, {"ROWS", "250"}};
    FIPManagerRequest req;
    Prepare(req, "streamed.tif", kSaveTIFF, kRGB48);
    req.m_iOutCols = 300;
    req.m_iOutRows = 250;
    req.m_rCrop = FRect(10, 20, 290, 245);
    ASSERT_TRUE(Run(req));
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
    const std::vector<FSubRequestRecord> strips = Strips();
    ASSERT_EQ(strips.size(), 1u);
    EXPECT_EQ(strips[0].m_rCrop, FRect(10, 20, 290, 245));
    FTiffImageReader reader(req.m_usOutputFile);
    int cols = 0, rows = 0, type = 0;
    reader.GetDimensions(cols, rows, type);
    ASSERT_EQ(cols, 280);
    ASSERT_EQ(rows, 225);
    loadertest::OwnedPixmap image(type, cols, rows);
    reader.ReadImage(*image.m_pPixmap);
    int mismatches = 0;
    for (int y = 0; y < rows; ++y) {
        const auto* row = reinterpret_cast<const uint16_t*>(image.m_pPixmap->GetRowAddress(y));
        for (int x = 0; x < cols; ++x)
            for (int c = 0; c < 3; ++c)
                mismatches += row[3 * x + c] != FFakeParentManager::Value16(10 + x, 20 + y, c);
    }
    EXPECT_EQ(mismatches, 0);

    struct Fault {
        bool shortStrips;
        int failAfter;
    } faults[] = {{true, -1}, {false, 1}};
    for (const Fault& fault : faults) {
        m_parent.m_bShortStrips = fault.shortStrips;
        m_parent.m_iFailAfter = fault.failAfter;
        FIPManagerRequest bad;
        Prepare(bad, "bad.tif", kSaveTIFF, kRGB24);
        bad.m_iOutCols = 300;
        bad.m_iOutRows = 250;
        bad.m_rCrop = FRect(0, 0, 300, 250);
        ASSERT_TRUE(Run(bad));
        EXPECT_EQ(bad.m_Async.GetState(), kError);
        EXPECT_FALSE(m_pFolder->Exists("bad.tif"));
    }
}
