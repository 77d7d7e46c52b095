// The bridge on the real manager pool: a synthetic raw file developed for display, and
// adjustment settings stored in the file before a save, read back through the bridge.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "DevelopableRaw.h"
#include "EngineTestSupport.h"
#include "FIPMImage.h"
#include "FJPEGLineWriter.h"
#include "FPixmap.h"
#include "FTiffImageReader.h"
#include "FUiIpObject.h"
#include "FUiIpObjectRequest.h"
#include "FakeIpPool.h"
#include "RawTestFolder.h"

namespace
{

const FWideString kIpRequest(u"IpRequest");

class IpObjectPoolTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        rawtest::EnsureDiskStorageClass();
        m_pFolder = std::make_unique<rawtest::RawTestFolder>();
        developtest::DevelopableRawOptions options;
        options.cols = 320;
        options.rows = 240;
        options.seed = 46;
        m_file = m_pFolder->Write("IMG_0046.q7f", developtest::MakeDevelopableRaw(options));
        m_pBridge = std::make_unique<FUiIpObject>("IP_OBJECT2");
    }
    void TearDown() override
    {
        m_pBridge.reset();
        m_pFolder.reset();
        FEngineTest::TearDown();
    }

    // Sends and ticks as the window does; false when the request did not end in time.
    bool Run(FUiIpObjectRequest& request)
    {
        request.m_pReturnRelay = &m_relay;
        m_pBridge->UiRelayMessage(kIpRequest, &request);
        return TickUntil([&] { return m_pBridge->IsIdle(); }, [&] { m_pBridge->Tick(10); },
                         std::chrono::seconds(120));
    }

    std::unique_ptr<rawtest::RawTestFolder> m_pFolder;
    FWideString m_file;
    FRecordingRelay m_relay;
    std::unique_ptr<FUiIpObject> m_pBridge;
};

TEST_F(IpObjectPoolTest, ProcessedImageArrivesWithItsHistogram)
{
    FUiIpObjectProcessedReq processed;
    processed.m_usFileURL = m_file;
    processed.m_nOutCols = 160;
    processed.m_nOutRows = 120;
    processed.m_rCrop = FRect(-10, -10, 4000, 4000);
    processed.m_Settings.Exposure = 0.5;
    int cols = 0;
    int rows = 0;
    uint32_t counted = 0;
    m_relay.SetOnMessage([&](const FIpReplyRecord&, void* data) {
        auto* reply = dynamic_cast<FUiIpObjectProcessedReply*>(static_cast<FUiIpObjectReply*>(data));
        if (!reply || !reply->m_pImage || !reply->m_pImage->GetPixmap())
            return;
        cols = reply->m_pImage->GetPixmap()->GetCols();
        rows = reply->m_pImage->GetPixmap()->GetRows();
        if (FIHistogram* histogram = reply->m_pImage->GetHistogramPtr())
            counted = histogram->GetCount();
    });
    ASSERT_TRUE(Run(processed));
    ASSERT_EQ(processed.m_Async.GetState(), kCompleted) << processed.m_Async.GetErrorCode();
    EXPECT_EQ(m_relay.GetRecords().back().replyClass, "ProcessedReply");
    EXPECT_EQ(cols, 160);
    EXPECT_EQ(rows, 120);
    EXPECT_EQ(counted, 160u * 120u);
}

TEST_F(IpObjectPoolTest, StoredSettingsAreReadBackAfterTheSave)
{
    FUiIpObjectProcAndSaveReq save;
    save.m_usFileURL = m_file;
    save.m_usDstURL = m_pFolder->URL("IMG_0046.jpg");
    save.m_bJpeg = 1;
    save.m_nJpegQuality = 90;
    save.m_nOutCols = 320;
    save.m_nOutRows = 240;
    save.m_rCrop = FRect(0, 0, 320, 240);
    save.m_bStoreSettings = true;
    save.m_nSettingMode = 969421;
    save.m_Settings.Exposure = 0.5;
    save.m_Settings.Contrast = 0.25;
    save.m_Settings.Sharpness = -0.75;
    ASSERT_TRUE(Run(save));
    ASSERT_EQ(save.m_Async.GetState(), kCompleted) << save.m_Async.GetErrorCode();
    EXPECT_EQ(m_relay.GetRecords().back().replyClass, "ProcAndSaveReply");
    EXPECT_TRUE(m_pFolder->Exists("IMG_0046.jpg"));

    FUiIpObjectPropsReq props;
    props.m_usFileURL = m_file;
    ASSERT_TRUE(Run(props));
    ASSERT_EQ(props.m_Async.GetState(), kCompleted);
    const FIpReplyRecord& reply = m_relay.GetRecords().back();
    EXPECT_EQ(reply.propsNode, "ImageProps");
    auto value = [&](const std::string& name) {
        for (const auto& [key, text] : reply.props) {
            if (key == name)
                return text;
        }
        return std::string("(none)");
    };
    EXPECT_EQ(value("rpExposureCompensation"), "0.5000");
    EXPECT_EQ(value("rpContrast"), "0.2500");
    EXPECT_EQ(value("rpSharpness"), "-0.7500");
}

// A JPEG from another camera: shown and saved through the bridge like a raw file, with the
// adjustments a picture's entry carries (none apply) and an automatic pass first.
TEST_F(IpObjectPoolTest, APictureFromAnotherCameraIsShownAndSaved)
{
    const FWideString picture = m_pFolder->URL("DSC_0001.jpg");
    {
        FJPEGLineWriter writer(picture, 11, false);
        writer.SetDimensions(400, 300, FPixmap::PIXEL_24_RGB);
        std::vector<uint8_t> row(400 * 3);
        for (int y = 0; y < 300; ++y) {
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = uint8_t(i / 5 + size_t(y) / 2);
            writer.WriteLine(row.data(), FPixmap::PIXEL_24_RGB);
        }
        writer.Finish();
    }
    FUiIpObjectProcessedReq processed;
    processed.m_usFileURL = picture;
    processed.m_nOutCols = 200;
    processed.m_nOutRows = 150;
    processed.m_rCrop = FRect(0, 0, 200, 150);
    int cols = 0;
    m_relay.SetOnMessage([&](const FIpReplyRecord&, void* data) {
        auto* reply = dynamic_cast<FUiIpObjectProcessedReply*>(static_cast<FUiIpObjectReply*>(data));
        if (reply && reply->m_pImage && reply->m_pImage->GetPixmap())
            cols = reply->m_pImage->GetPixmap()->GetCols();
    });
    ASSERT_TRUE(Run(processed));
    ASSERT_EQ(processed.m_Async.GetState(), kCompleted) << processed.m_Async.GetErrorCode();
    EXPECT_EQ(cols, 200);

    FUiIpObjectProcAndSaveReq save;
    save.m_usFileURL = picture;
    save.m_usDstURL = m_pFolder->URL("DSC_0001.tif");
    save.m_nTiffBits = 16;
    save.m_nOutCols = 400;
    save.m_nOutRows = 300;
    save.m_rCrop = FRect(0, 0, 400, 300);
    save.m_nSettingMode = 962000;
    save.m_Settings.Exposure = save.m_Settings.Contrast = -999.9;
    save.m_Settings.ColorAdjustR = save.m_Settings.ColorAdjustG = save.m_Settings.ColorAdjustB = -999.9;
    // With the automatic pass first, and straight with the entry's own (absent) values.
    for (bool automatic : {true, false}) {
        save.m_bAutoSetFirst = automatic;
        save.m_bSecondPass = false;
        ASSERT_TRUE(Run(save));
        ASSERT_EQ(save.m_Async.GetState(), kCompleted) << save.m_Async.GetErrorCode();
        FTiffImageReader reader(save.m_usDstURL);
        int savedCols = 0, savedRows = 0, type = 0;
        reader.GetDimensions(savedCols, savedRows, type);
        EXPECT_EQ(savedCols, 400);
        EXPECT_EQ(savedRows, 300);
        EXPECT_EQ(type, FPixmap::PIXEL_48_RGB);
    }
}

} // namespace
