// Rewriting a raw container's header through the loader: what each change stores,
// what is refused, and that a write failing anywhere leaves the original usable.

#include "LoaderTestFiles.h"
#include "LoaderTestSupport.h"

#include "BribHeaderEdits.h"
#include "ColorCompensation.h"
#include "FBribImageReader.h"
#include "FBribImageWriter.h"
#include "FPropList.h"
#include "StorageClassRegistry.h"

#include <atomic>
#include <cstring>
#include <thread>

using namespace loadertest;

namespace
{

float SlotValue(const FBribImageReader& reader, int slot)
{
    const uint32_t bits = reader.GetExtDataValue(slot);
    float value = 0;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

class RawModifyTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        m_pLoader.reset(CreateBRIbLoader());
    }

    // Applies the changes (name, value) to the file and returns the request's outcome.
    FLoaderRequest& Modify(const FWideString& url,
                           const std::vector<std::pair<const char*, std::string>>& changes)
    {
        auto list = std::make_unique<FPropList>(nullptr, "changes");
        for (const auto& [name, value] : changes)
            list->AddProp(name, value.c_str());
        return Modify(url, std::move(list));
    }

    FLoaderRequest& Modify(const FWideString& url, std::unique_ptr<FPropList> changes)
    {
        m_changes = std::move(changes);
        m_request = std::make_unique<FLoaderRequest>();
        m_request->m_usFileURL = url;
        m_request->m_eType = kLoaderModify;
        m_request->SetList(m_changes.get());
        EXPECT_TRUE(RunLoader(*m_pLoader, *m_request));
        return *m_request;
    }

    LoaderPtr m_pLoader;
    std::unique_ptr<FPropList> m_changes;
    std::unique_ptr<FLoaderRequest> m_request;
};

TEST(RotationChange, SignedTextsTurnAndEveryResultIsWithinATurn)
{
    struct Case {
        const char* m_pszText;
        unsigned m_uCurrent;
        unsigned m_uExpected;
    };
    const Case cases[] = {
        {"+90", 270, 0},  {"-90", 0, 270},          {"450", 0, 90},
        {"90", 270, 90},  {"-450", 90, 0},          {"-720", 0, 0},
        {"725", 10, 5},   {"+360", 45, 45},         {"-99999999999999", 0, 81},
        {"junk", 180, 0}, {"+0", 4294967295u, 255},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveRotationChange(c.m_pszText, c.m_uCurrent), c.m_uExpected)
            << c.m_pszText << " on " << c.m_uCurrent;
}

TEST_F(RawModifyTest, HeaderFieldsAreRewritten)
{
    RawOptions options;
    options.rotation = 270;
    const FWideString url = PutFile("m.bri", MakeRaw(options));
    auto changes = std::make_unique<FPropList>(nullptr, "changes");
    changes->AddProp(FWideString("ROTATION"), FWideString("+90"));
    changes->AddProp(FWideString("MARKBITS"), FWideString("6"));
    changes->AddProp(FWideString("WB_DESC"), FWideString(u"Tungsten\u00e9"));
    changes->AddProp(FWideString("rpSharpness"), FWideString("1.5"));
    changes->AddProp(FWideString("rpColorAdjust"), FWideString("10C+20Y"));
    const FLoaderRequest& req = Modify(url, std::move(changes));
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << ErrorText(req.m_Async);
    FBribImageReader reader(url.GetBuffer());
    EXPECT_EQ(reader.GetRotation(), 0u);
    EXPECT_EQ(reader.GetMarkBits(), 6u);
    // Units the header cannot hold become question marks.
    EXPECT_STREQ(reader.GetWBLabel(), "Tungsten?");
    EXPECT_EQ(reader.GetExtDataType(0), 6);
    EXPECT_FLOAT_EQ(SlotValue(reader, 0), 1.5f);
    FDoubleRGB gains;
    CCStringToRGBGains(gains, "10C+20Y");
    EXPECT_EQ(reader.GetExtDataType(1), 7);
    EXPECT_FLOAT_EQ(SlotValue(reader, 1), float(gains.r));
    EXPECT_EQ(reader.GetExtDataType(3), 9);
    EXPECT_FLOAT_EQ(SlotValue(reader, 3), float(gains.b));
}

TEST_F(RawModifyTest, SlotOfTheSameTypeIsReusedAndLaterDuplicatesFreed)
{
    RawOptions options;
    options.slots = {{5, 2, 0.1f}, {9, 2, 0.2f}, {10, 4, 3.0f}};
    const FWideString url = PutFile("dup.bri", MakeRaw(options));
    ASSERT_EQ(Modify(url, {{"rpContrast", "0.25"}, {"rpShadow", "-2"}}).m_Async.GetState(), kCompleted);
    FBribImageReader reader(url.GetBuffer());
    EXPECT_EQ(reader.GetExtDataType(5), 2);
    EXPECT_FLOAT_EQ(SlotValue(reader, 5), 0.25f);
    EXPECT_EQ(reader.GetExtDataType(9), 0);
    EXPECT_EQ(reader.GetExtDataType(10), 4);
    // A new type takes the first free slot.
    EXPECT_EQ(reader.GetExtDataType(0), 3);
    EXPECT_FLOAT_EQ(SlotValue(reader, 0), -2.0f);
    EXPECT_TRUE(Trace().Contains("Setting slot 0 to type 3\n"));
}

TEST_F(RawModifyTest, RefusedFieldsReportTheirNameAndKeepWhatWasWrittenBefore)
{
    RawOptions full;
    for (int slot = 0; slot < 32; ++slot)
        full.slots.emplace_back(slot, uint8_t(20), 1.0f);
    RawOptions older;
    older.version = rawtest::kVersion20;
    struct Case {
        const char* m_pszName;
        RawOptions m_options;
        std::vector<std::pair<const char*, std::string>> m_changes;
        const char* m_pszItem;
    };
    const Case cases[] = {
        {"older.bri", older, {{"ROTATION", "90"}, {"rpExposureCompensation", "1"}}, "EXPOSURE"},
        {"full.bri", full, {{"ROTATION", "90"}, {"rpFillFlash", "1"}}, "FILLFLASH"},
        {"full2.bri", full, {{"ROTATION", "90"}, {"rpColorAdjust", "0"}}, "COLOR ADJ RED"},
        {"label.bri", {}, {{"ROTATION", "90"}, {"WB_DESC", std::string(32, 'L')}}, "WHITE BALANCE"},
        {"older2.bri", older, {{"WB_DESC", "Flash"}}, "WHITE BALANCE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        const FWideString url = PutFile(c.m_pszName, MakeRaw(c.m_options));
        const FLoaderRequest& req = Modify(url, c.m_changes);
        EXPECT_EQ(req.m_Async.GetErrorCode(), kErrHeaderNotWritten);
        EXPECT_EQ(ErrorText(req.m_Async), std::string("BRIbLoader::ModifyProperties: Error setting ") +
                                              c.m_pszItem + " in file " + url.GetNarrow());
        FBribImageReader reader(url.GetBuffer());
        // The label is applied first, the rotation after it.
        EXPECT_EQ(reader.GetRotation(), std::string(c.m_pszItem) == "WHITE BALANCE" ? 0u : 90u);
    }
    EXPECT_TRUE(Trace().Contains("BRIbLoader::priSetBRIbExtData: no free slots left!\n"));
    // Thirty-one characters still fit.
    const FWideString url = PutFile("fits.bri", MakeRaw({}));
    EXPECT_EQ(Modify(url, {{"WB_DESC", std::string(31, 'L')}}).m_Async.GetState(), kCompleted);
}

TEST_F(RawModifyTest, ListWithoutChangesNeverOpensTheFile)
{
    const FLoaderRequest& req = Modify(MemURL("absent.bri"), {{"ISO", "100"}});
    EXPECT_EQ(req.m_Async.GetState(), kCompleted);
    const FLoaderRequest& notRaw = Modify(PutFile("text.bri", rawtest::Bytes(300, 'x')), {{"MARKBITS", "1"}});
    EXPECT_EQ(notRaw.m_Async.GetErrorCode(), kErrReaderFailed);
    EXPECT_EQ(ErrorText(notRaw.m_Async).rfind("BRIbLoader: This file is not a brib", 0), 0u);
}

// Every write of a modification fails in turn, storing half its bytes as a full disk
// would: the file keeps its length, opens, decodes the same preview, and each field
// holds its old or its new value.
TEST_F(RawModifyTest, FailedWriteAtEachStepLeavesTheOriginalUsable)
{
    RawOptions options;
    options.label = "Daylight";
    options.slots = {{0, 2, 0.5f}, {4, 2, 0.7f}};
    const rawtest::Bytes original = MakeRaw(options);
    const std::vector<std::pair<const char*, std::string>> changes = {{"WB_DESC", "Tungsten"},
                                                                      {"MARKBITS", "5"},
                                                                      {"ROTATION", "+90"},
                                                                      {"rpContrast", "1.5"},
                                                                      {"rpColorAdjust", "10C"}};
    FBribImageReader before(PutFile("before.bri", original).GetBuffer());
    OwnedPixmap expected(FPixmap::PIXEL_24_RGB, 16, 8);
    ASSERT_TRUE(before.GetImage(0, *expected.m_pPixmap, nullptr, nullptr));

    // A single failed write, and a disk that stays full from that write on (the writer
    // cannot roll back itself then; the next open does).
    for (bool lasting : {false, true}) {
        bool completed = false;
        for (int failAt = 0; !completed && failAt < 200; ++failAt) {
            SCOPED_TRACE("write " + std::to_string(failAt) + (lasting ? " lasting" : " once"));
            const std::string name = "safe" + std::to_string(failAt) + (lasting ? "l" : "") + ".bri";
            const FWideString url = PutFile(name, original);
            MemStorage().SetWriteFailure(failAt, lasting);
            const int state = Modify(url, changes).m_Async.GetState();
            MemStorage().SetWriteFailure(-1);
            completed = state == kCompleted;
            if (!completed) {
                EXPECT_EQ(state, kError);
                EXPECT_EQ(m_request->m_Async.GetErrorCode(), kErrException);
                EXPECT_EQ(ErrorText(m_request->m_Async).rfind("BRIbLoader: File write failed", 0), 0u)
                    << ErrorText(m_request->m_Async);
            }
            EXPECT_EQ(GetFile(name).size(), original.size());

            FBribImageReader reader(url.GetBuffer());
            const std::string label = reader.GetWBLabel();
            EXPECT_TRUE(label == "Daylight" || label == "Tungsten") << label;
            EXPECT_TRUE(reader.GetMarkBits() == 0 || reader.GetMarkBits() == 5);
            EXPECT_TRUE(reader.GetRotation() == 0 || reader.GetRotation() == 90);
            EXPECT_TRUE(reader.GetExtDataType(0) == 2);
            EXPECT_TRUE(SlotValue(reader, 0) == 0.5f || SlotValue(reader, 0) == 1.5f);
            EXPECT_TRUE(reader.GetExtDataType(4) == 2 || reader.GetExtDataType(4) == 0);
            EXPECT_EQ(SlotValue(reader, 4), 0.7f);
            for (int slot : {1, 2, 3}) {
                EXPECT_TRUE(reader.GetExtDataType(slot) == 0 || reader.GetExtDataType(slot) == 6 + slot);
            }
            OwnedPixmap decoded(FPixmap::PIXEL_24_RGB, 16, 8);
            ASSERT_TRUE(reader.GetImage(0, *decoded.m_pPixmap, nullptr, nullptr));
            EXPECT_EQ(decoded.m_bytes, expected.m_bytes);
            if (completed) {
                EXPECT_EQ(label, "Tungsten");
                EXPECT_EQ(reader.GetRotation(), 90u);
                EXPECT_EQ(SlotValue(reader, 0), 1.5f);
                EXPECT_GT(failAt, 5);
            }
            bool isFolder = false;
            EXPECT_FALSE(ExistsURL(BribUndoURL(url), isFolder));
        }
        EXPECT_TRUE(completed);
    }
}

} // namespace

namespace
{

// One thread rewrites the header while another opens the file for its properties: an
// open must never roll back a field update that is still going on.
TEST_F(RawModifyTest, PropertiesReadDuringModificationsNeverUndoThem)
{
    const FWideString url = PutFile("busy.bri", MakeRaw({}));
    constexpr int kTurns = 401;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        LoaderPtr other(CreateBRIbLoader());
        while (!done.load()) {
            FPropList list(nullptr, "props");
            FLoaderRequest req;
            req.m_usFileURL = url;
            req.m_eType = kLoaderProperties;
            req.SetList(&list);
            other->Request(&req);
        }
    });
    int failures = 0;
    for (int turn = 0; turn < kTurns; ++turn) {
        if (Modify(url, {{"ROTATION", "+90"}}).m_Async.GetState() != kCompleted)
            ++failures;
    }
    done = true;
    reader.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(FBribImageReader(url.GetBuffer()).GetRotation(), unsigned(kTurns * 90 % 360));
}

} // namespace
