#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FImageFileListEntry.h"
#include "FMemStorageClass.h"
#include "FProbeObject.h"
#include "FUiInfoWindow.h"
#include "RelayEvent.h"
#include "StorageClassRegistry.h"

namespace
{

// Every event of the window goes to one probe; a label request is answered
// with "<n>:" counting the requests, so the chaining shows in the clipboard.
struct InfoRig {
    FUiInfoWindow info{"INFO_WIN_MGR", nullptr};
    FProbeObject probe{"PROBE"};
    int labels = 0;
    std::vector<std::string> log;
    InfoRig()
    {
        for (RelayEvent* event = info.GetFirstEvent(); event; event = event->GetNext())
            event->AddTarget(event->GetName(), &probe);
        probe.SetOnMessage([this](const FProbeRecord& record) {
            std::string line = record.message;
            const bool isLabel = line.rfind("ON_GET_", 0) == 0;
            auto* text = static_cast<FWideString*>(record.pointer);
            if (text && !isLabel && line != "ON_NEW_THUMBNAIL" && line != "ON_NEW_IMAGE" &&
                line.find("INDEX") == std::string::npos && line != "ON_NEW_IMAGE_LOCK" &&
                line != "ON_NEW_IMAGE_MARK" && line != "ON_NEW_IMAGE_XFER")
                line += "=" + Utf8FromWide(*text);
            log.push_back(line);
            if (isLabel && text)
                *text = WideFromUtf8(std::to_string(++labels) + ":");
        });
        int size = 64;
        EXPECT_TRUE(info.UiRelayMessage(FWideString("ThumbnailSize"), &size));
    }
    std::string Clipboard() const { return Utf8FromWide(info.GetClipboardText()); }
    bool Logged(const std::string& line) const
    {
        for (const std::string& l : log)
            if (l == line)
                return true;
        return false;
    }
};

FMemStorageClass& Mem()
{
    static FMemStorageClass* mem = RegisterMemStorageClass(FWideString("mem"));
    return *mem;
}

// An entry as the list builds it, every absent text a single blank.
FImageFileListEntry Entry(const char* url, int cols, int rows)
{
    FImageFileListEntry e;
    e.m_usURL = FWideString(url);
    std::string name = url;
    e.m_usFileName = WideFromUtf8(name.substr(name.rfind('/') + 1));
    e.m_nCols = cols;
    e.m_nRows = rows;
    e.m_nFileSize = 1234567;
    // A thumbnail already made at the window's size is not asked for again.
    e.m_nThumbReqWidth = e.m_nThumbReqHeight = 64;
    for (FWideString* text :
         {&e.m_usDigitizedTime, &e.m_usDigitizedDate, &e.m_usExifTime,     &e.m_usExifDate,
          &e.m_usQuality,       &e.m_usSoftware,      &e.m_usBracket,      &e.m_usTime,
          &e.m_usDate,          &e.m_usAperture,      &e.m_usShutter,      &e.m_usIso,
          &e.m_usResolution,    &e.m_usExposureComp,  &e.m_usProgramMode,  &e.m_usAEMode,
          &e.m_usAFMode,        &e.m_usFocalLength,   &e.m_usWhiteBalance, &e.m_usOrigWhiteBalance,
          &e.m_usFirmware,      &e.m_usDriveMode,     &e.m_usFlash,        &e.m_usCameraSerial,
          &e.m_usSettingMode,   &e.m_usCameraName,    &e.m_usUniqueID})
        *text = FWideString(" ");
    return e;
}

} // namespace

TEST(InfoWindowTest, ARawFilesLinesChainTheirLabelsIntoTheClipboardText)
{
    Mem();
    InfoRig rig;
    FImageFileListEntry e = Entry("mem://cards/dcim/IMG_0001.q7f", 2268, 1512);
    e.m_bRaw = true;
    e.m_usDate = FWideString("2026-12-11");
    e.m_usTime = FWideString("04:30:00");
    e.m_usProgramMode = FWideString("A");
    e.m_usExposureComp = FWideString("+0.3");
    e.m_usBracket = FWideString("0.7");
    e.m_usWhiteBalance = FWideString("Daylight");
    e.m_usOrigWhiteBalance = FWideString("Auto");
    e.m_usShutter = FWideString("1/125");
    e.m_usAperture = FWideString("5.6");
    e.m_usAEMode = FWideString("8");
    e.m_nAEModeCode = 3;
    e.m_usCameraName = FWideString("Q7");
    e.m_usCameraSerial = FWideString("0042");
    e.m_Settings.Exposure = 0.5;
    e.m_Settings.Contrast = -999.9;
    e.m_Settings.ColorAdjustR = e.m_Settings.ColorAdjustG = e.m_Settings.ColorAdjustB = -999.9;
    ASSERT_TRUE(rig.info.UiRelayMessage(FWideString("ShowImageInfo"), &e));

    FWideString size;
    size.SetByteSize(1234567);
    FWideString folder;
    ASSERT_TRUE(URLToNativePath(FWideString("mem://cards/dcim/"), folder));
    const std::string expected = "File Name:\tIMG_0001.q7f\r\n"
                                 "1:\tQ7F\r\n"
                                 "2:\t10.3 MP (2268 x 1512 x 3)\r\n"
                                 "3:\t" +
                                 Utf8FromWide(size) +
                                 "\r\n"
                                 "4:\t" +
                                 Utf8FromWide(folder) +
                                 "\r\n"
                                 "5:\t2026-12-11  04:30:00\r\n"
                                 "6:\tA\r\n"
                                 "7:\t+0.3 (AB 0.7)\r\n"
                                 "8:\tUnavailable\r\n"
                                 "9:\tDaylight (ex-Auto)\r\n"
                                 "10:\tUnavailable\r\n"
                                 "11:\t1/125s\r\n"
                                 "12:\tf/5.6\r\n"
                                 "13:\t8\r\n"
                                 "14:\tUnavailable\r\n"
                                 "15:\tUnavailable\r\n"
                                 "16:\tUnavailable\r\n"
                                 "17:\tUnavailable\r\n"
                                 "18:\tQ7 0042\r\n"
                                 "19:\tUnavailable\r\n"
                                 "20:\tUnavailable\r\n"
                                 "Saved Q7F Settings:\t \r\n"
                                 "21:\t+0.5\r\n"
                                 "22:\tUnavailable\r\n"
                                 "23:\t+0.0\r\n"
                                 "24:\t+0.0\r\n"
                                 "25:\t+0.0\r\n"
                                 "26:\t+0.0\r\n"
                                 "27:\t+0.0\r\n"
                                 "28:\tUnavailable\r\n";
    EXPECT_EQ(rig.Clipboard(), expected);

    // Each value is followed by the next line's label request.
    const std::vector<std::string> start(rig.log.begin(), rig.log.begin() + 9);
    EXPECT_EQ(start,
              (std::vector<std::string>{"ON_NEW_WINDOW_TITLE_POSTFIX= - IMG_0001.q7f", "ON_ONE_IMAGE",
                                        "ON_REMOVE_ALL_THUMBNAILS", "ON_NEW_THUMBNAIL", "ON_IS_Q7F_FILE",
                                        "ON_NEW_IMAGE_NAME=IMG_0001.q7f", "ON_GET_IMAGE_TYPE_LABEL",
                                        "ON_NEW_IMAGE_TYPE=Q7F", "ON_GET_IMAGE_RES_LABEL"}));
    EXPECT_TRUE(rig.Logged("ON_SET_PROC_SETTING_SUMMARY=Saved Q7F Settings"));
    EXPECT_TRUE(rig.Logged("ON_COLOR_SPACE=  "));
    EXPECT_FALSE(rig.Logged("ON_GET_COLOR_SPACE_LABEL"));
    EXPECT_EQ(rig.info.GetDisplayState(), 1);
}

TEST(InfoWindowTest, ASmallCameraJpegWithoutAProcessingRecord)
{
    InfoRig rig;
    FImageFileListEntry e = Entry("camera://MyCam/DCIM/IMG_0002.JPG", 600, 400);
    e.m_bJpeg = true;
    e.m_bCamera = true;
    e.m_usQuality = FWideString("24");
    e.m_nColorSpace = 2;
    ASSERT_TRUE(rig.info.UiRelayMessage(FWideString("ShowImageInfo"), &e));
    const std::string text = rig.Clipboard();
    EXPECT_NE(text.find("2:\t0.24 MP (600 x 400)\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("4:\tCAMERA\r\n"), std::string::npos) << text;
    // 21 lines and nothing of the processing section.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
    EXPECT_TRUE(rig.Logged("ON_IS_NOT_Q7F_FILE"));
    EXPECT_TRUE(rig.Logged("ON_SET_PROC_SETTING_SUMMARY=Processing Information Unavailable"));
    EXPECT_TRUE(rig.Logged("ON_COLOR_SPACE=sRGB"));
    EXPECT_TRUE(rig.Logged("ON_QUALITY=8 bit"));
    EXPECT_TRUE(rig.Logged("ON_Q7F_ADJ_MODE_SETTING=Unavailable"));
}

TEST(InfoWindowTest, AConvertedFileListsItsProcessingLines)
{
    InfoRig rig;
    FImageFileListEntry e = Entry("camera://MyCam/out/IMG_0003.tif", 3000, 2000);
    e.m_bTiff = true;
    e.m_usDate = FWideString("2026-12-01");
    e.m_usTime = FWideString("10:00:00");
    e.m_usDigitizedDate = FWideString("2026-12-01");
    e.m_usDigitizedTime = FWideString("10:00:00");
    e.m_usDate = FWideString("2026-12-02");
    e.m_usSettingMode = FWideString("Custom Portrait");
    e.m_usQuality = FWideString("48");
    e.m_nColorSpace = 8;
    ASSERT_TRUE(rig.info.UiRelayMessage(FWideString("ShowImageInfo"), &e));
    const std::string text = rig.Clipboard();
    EXPECT_NE(text.find("2:\t6.0 MP (3000 x 2000)\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\t2026-12-01  10:00:00\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tColorMatch RGB\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\t16 bit\r\n"), std::string::npos) << text;
    // Without the custom word in the script the named mode stays as stored.
    EXPECT_NE(text.find("\tCustom Portrait\r\n"), std::string::npos) << text;
}

TEST(InfoWindowTest, StateEventsFireOnlyOnAChange)
{
    InfoRig rig;
    FImageFileListEntry e = Entry("camera://MyCam/DCIM/IMG_0004.JPG", 10, 10);
    EXPECT_TRUE(rig.info.UiRelayMessage(FWideString("MultipleImages"), nullptr));
    EXPECT_EQ(rig.info.GetDisplayState(), 3);
    EXPECT_TRUE(rig.info.UiRelayMessage(FWideString("ObeyMultiImagesMsgs"), nullptr));
    rig.info.UiRelayMessage(FWideString("MultipleImages"), nullptr);
    rig.info.UiRelayMessage(FWideString("MultipleImages"), nullptr);
    rig.info.UiRelayMessage(FWideString("NoImage"), nullptr);
    rig.info.UiRelayMessage(FWideString("NoImage"), nullptr);
    EXPECT_EQ(rig.log, (std::vector<std::string>{"ON_NEW_WINDOW_TITLE_POSTFIX=", "ON_MULTI_IMAGES",
                                                 "ON_NEW_WINDOW_TITLE_POSTFIX=", "ON_NO_IMAGES",
                                                 "ON_NEW_WINDOW_TITLE_POSTFIX="}));
    EXPECT_EQ(rig.info.GetDisplayState(), 0);

    // "UpdateImage" follows the shown image whatever the letter case of its URL.
    rig.info.UiRelayMessage(FWideString("ShowImageInfo"), &e);
    FImageFileListEntry other = Entry("camera://mycam/dcim/img_0004.jpg", 20, 10);
    rig.log.clear();
    EXPECT_TRUE(rig.info.UiRelayMessage(FWideString("UpdateImage"), &other));
    EXPECT_TRUE(rig.Logged("ON_NEW_IMAGE_RES=0.00 MP (20 x 10)"));
    FImageFileListEntry unrelated = Entry("camera://MyCam/DCIM/IMG_0005.JPG", 30, 10);
    rig.log.clear();
    EXPECT_TRUE(rig.info.UiRelayMessage(FWideString("UpdateImage"), &unrelated));
    EXPECT_TRUE(rig.log.empty());
}

TEST(InfoWindowTest, RefusesAnImageBeforeItsThumbnailSizeAndUnknownMessages)
{
    FUiInfoWindow info("INFO_WIN_MGR", nullptr);
    FImageFileListEntry e = Entry("camera://MyCam/DCIM/IMG_0006.JPG", 10, 10);
    EXPECT_FALSE(info.UiRelayMessage(FWideString("ShowImageInfo"), &e));
    EXPECT_FALSE(info.UiRelayMessage(FWideString("ShowImageInfo"), nullptr));
    EXPECT_FALSE(info.UiRelayMessage(FWideString("ThumbnailSize"), nullptr));
    EXPECT_FALSE(info.UiRelayMessage(FWideString("showimageinfo"), &e));
    EXPECT_EQ(info.GetDisplayState(), 3);
    EXPECT_TRUE(info.GetClipboardText().IsEmpty());
}
