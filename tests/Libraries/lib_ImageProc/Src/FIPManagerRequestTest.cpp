#include <gtest/gtest.h>

#include <thread>

#include "EngineTestSupport.h"
#include "FIPManagerRequest.h"
#include "FPropList.h"

namespace
{

using RequestRecordTest = FEngineTest;

TEST_F(RequestRecordTest, ResetRestoresDefaultsAndKeepsSenderFields)
{
    FIPManagerRequest request;
    EXPECT_EQ(request.m_Async.GetProgress(), 0.0);
    ASSERT_NE(request.m_pImageProps, nullptr);
    ASSERT_NE(request.m_pIPManagerData, nullptr);
    EXPECT_EQ(request.m_pImageProps->GetName(), "ImageProps");
    EXPECT_EQ(request.m_pIPManagerData->GetName(), "IPManagerData");

    request.m_usFileName = "mem://a.bri";
    request.m_eKind = kReqProcessed;
    request.m_aiVersion[0] = 2;
    request.m_aiVersion[3] = 3152;
    request.m_usSoftwareName = "Rawbench";
    request.m_iSettingMode = kSettingModeCustom;
    request.m_usSettingName = "Mine";
    request.m_ptGray = {12, 34};
    request.m_iOutCols = 640;
    request.m_rCrop.Set(1, 2, 3, 4);
    request.m_dExposure = 0.5;
    request.m_dFillLight = 0.2;
    request.m_adNeutral[1] = 0.7;
    request.m_adColorAdjust[2] = 1.5;
    request.m_iColorSpace = 5;
    request.m_iJPEGQuality = 90;
    request.m_bProfileOptional = 0;
    request.m_usCamfile = "mem://c.cam";
    request.m_pImageProps->AddProp("COLS", "10");
    request.m_Async.Fail(kErrFileIO, "broken");
    request.m_Async.RequestCancel();

    request.Reset();
    EXPECT_EQ(request.m_Async.GetProgress(), -1.0);
    EXPECT_EQ(request.m_Async.GetState(), kInitialized);
    EXPECT_EQ(request.m_Async.GetErrorCode(), kErrNone);
    EXPECT_TRUE(request.m_Async.m_usErrorText.IsEmpty());
    EXPECT_FALSE(request.m_Async.IsCancelRequested());
    EXPECT_TRUE(request.m_usFileName.IsEmpty());
    EXPECT_EQ(request.m_eKind, kReqNone);
    EXPECT_EQ(request.m_iOutCols, 0);
    EXPECT_EQ(request.m_rCrop, FRect());
    EXPECT_EQ(request.m_dExposure, 0.0);
    EXPECT_EQ(request.m_dFillLight, 0.0);
    EXPECT_EQ(request.m_adNeutral[1], -1.0);
    EXPECT_EQ(request.m_adColorAdjust[2], 0.0);
    EXPECT_EQ(request.m_iColorSpace, kDefaultColorSpace);
    EXPECT_EQ(request.m_iJPEGQuality, kDefaultJPEGQuality);
    EXPECT_EQ(request.m_bProfileOptional, 1);
    EXPECT_TRUE(request.m_usCamfile.IsEmpty());
    ASSERT_NE(request.m_pImageProps, nullptr);
    EXPECT_EQ(request.m_pImageProps->GetPropCount(), 0);

    EXPECT_EQ(request.m_aiVersion[0], 2);
    EXPECT_EQ(request.m_aiVersion[3], 3152);
    EXPECT_EQ(request.m_usSoftwareName, "Rawbench");
    EXPECT_EQ(request.m_iSettingMode, kSettingModeCustom);
    EXPECT_EQ(request.m_usSettingName, "Mine");
    EXPECT_EQ(request.m_ptGray.x, 12);
    EXPECT_EQ(request.m_ptGray.y, 34);

    int32_t version[4] = {9, 9, 9, 9};
    FIPManagerRequest::InitParamBlock(version);
    EXPECT_EQ(version[0], 1);
    EXPECT_EQ(version[3], 0);
}

TEST_F(RequestRecordTest, ListsAreRenewedOnlyWhenTheyExisted)
{
    FIPManagerRequest request;
    DeletePropList(request.m_pImageProps);
    request.Reset();
    EXPECT_EQ(request.m_pImageProps, nullptr);
    EXPECT_NE(request.m_pIPManagerData, nullptr);
}

TEST_F(RequestRecordTest, OutputImageIsReleasedExactlyOnce)
{
    FCountingImage image;
    {
        FIPManagerRequest request;
        request.m_pOutputImage = &image;
        image.AddRef(); // the browser's reference
        request.Reset();
        EXPECT_EQ(request.m_pOutputImage, nullptr);
        EXPECT_EQ(image.m_iReleases, 1);
        request.Reset();
        EXPECT_EQ(image.m_iReleases, 1);

        request.m_pOutputImage = &image;
        image.AddRef();
    }
    // The destructor gave back the second reference; the browser still holds one.
    EXPECT_EQ(image.m_iReleases, 2);
    EXPECT_EQ(image.m_iDeletes, 0);
    EXPECT_EQ(image.Release(), 0u);
    EXPECT_EQ(image.m_iDeletes, 1);
}

TEST_F(RequestRecordTest, StatusCopyTakesEveryField)
{
    FAsyncStatus from;
    from.SetProgress(0.25);
    from.RequestCancel();
    from.Fail(kErrMissingImage, "no dark frame");
    FAsyncStatus to;
    to = from;
    EXPECT_EQ(to.GetProgress(), 0.25);
    EXPECT_EQ(to.GetState(), kError);
    EXPECT_EQ(to.GetErrorCode(), kErrMissingImage);
    EXPECT_EQ(to.m_usErrorText, "no dark frame");
    EXPECT_TRUE(to.IsCancelRequested());
    FAsyncStatus copy(to);
    EXPECT_EQ(copy.m_usErrorText, "no dark frame");
    EXPECT_TRUE(copy.IsCancelRequested());
}

// A worker answers through the status block while this thread polls it: everything written
// before the final state must be seen once the state is seen (checked under the thread
// sanitizer as well).
TEST_F(RequestRecordTest, FinalStatePublishesTheAnswer)
{
    for (int round = 0; round < 50; ++round) {
        FAsyncStatus status;
        status.SetState(kInProgress);
        std::thread worker([&status, round] {
            while (!status.IsCancelRequested())
                std::this_thread::yield();
            status.SetProgress(0.5);
            if (round % 2 == 0)
                status.Fail(kErrException, "FIPEngine2: worker failed");
            else
                status.Cancel();
        });
        status.RequestCancel();
        const bool finished = TickUntil([&] { return status.IsFinal(); }, [] { std::this_thread::yield(); },
                                        std::chrono::seconds(10));
        worker.join();
        ASSERT_TRUE(finished);
        EXPECT_EQ(status.GetProgress(), 0.5);
        if (round % 2 == 0) {
            EXPECT_EQ(status.GetErrorCode(), kErrException);
            EXPECT_EQ(status.m_usErrorText, "FIPEngine2: worker failed");
        } else {
            EXPECT_EQ(status.GetState(), kCancelled);
        }
    }
}

} // namespace
