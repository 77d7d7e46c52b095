// The batch save from the dialog's messages to files on disk: the dialog, the progress
// window and the bridge on the real pool, ticked as the window ticks them. The files are
// checked with the system's own tools and LittleCMS.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DevelopableRaw.h"
#include "EngineTestSupport.h"
#include "FCodePage.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FMemStorageClass.h"
#include "FUiIpObject.h"
#include "FUiProgressWindow.h"
#include "FUiSaveImageWindow.h"
#include "FUiSaveImagesAsWindow.h"
#include "FUiScriptFixture.h"
#include "RawTestFolder.h"
#include "SavedFileChecks.h"
#include "StorageClassRegistry.h"

namespace
{

using savedfile::RedColorantX;
using savedfile::Shell;

class Answers : public FUiObject
{
public:
    Answers() : FUiObject("ANSWERS") {}
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        if (message == "ON_GET_FILETYPE")
            *static_cast<FWideString*>(data) = FWideString(fileType.c_str());
        else if (message == "ON_GET_OUTPUTSIZE")
            *static_cast<FWideString*>(data) = FWideString("Half");
        else if (message == "ON_GET_COLORSPACE")
            *static_cast<FWideString*>(data) = FWideString(colorSpace.c_str());
        else if (message == "ON_GET_JPEG_VALUE")
            *static_cast<double*>(data) = 9.0;
        else if (message == "ON_GET_NATIVE_DST_DIR")
            *static_cast<FWideString*>(data) = WideFromUtf8(destination);
        else if (message == "ON_GET_DST_FILENAME")
            *static_cast<FWideString*>(data) = WideFromUtf8(fileName);
        else if (message == "ON_IMAGE_QUEUE_EMPTY")
            ended = true;
        else if (message == "ON_IMAGE_ERROR")
            ++errors;
        else if (message == "Notice") {
            // A refused save starts no batch: nothing more will come.
            ++notices;
            ended = true;
        } else if (message == "ON_UPDATE_IMAGE" && onWritten)
            onWritten();
        return true;
    }
    std::string fileType, colorSpace, destination, fileName;
    bool ended = false;
    int errors = 0;
    int notices = 0;
    std::function<void()> onWritten;
};

// The dialog, the worker and the bridge wired as the script wires them; a query
// the dialog does not have is skipped. `sender` takes the requests in the worker's place.
void Wire(FUiObject& dialog, FUiProgressWindow& progress, FUiIpObject& bridge, Answers& answers,
          FUiObject* sender = nullptr)
{
    for (const char* event : {"ON_GET_FILETYPE", "ON_GET_OUTPUTSIZE", "ON_GET_COLORSPACE",
                              "ON_GET_JPEG_VALUE", "ON_GET_NATIVE_DST_DIR", "ON_GET_DST_FILENAME"})
        if (RelayEvent* found = dialog.FindEvent(FWideString(event)))
            found->AddTarget(FWideString(event), &answers);
    for (const char* event : {"ON_SHOW_INVALID", "ON_SHOW_INSUFFICIENT", "ON_SHOW_INVALID_READ_ONLY",
                              "ON_SHOW_INVALID_READ_ONLY_FILE", "ON_SHOW_INVALID_CHAR"})
        if (RelayEvent* found = dialog.FindEvent(FWideString(event)))
            found->AddTarget(FWideString("Notice"), &answers);
    dialog.FindEvent(FWideString("ON_START_SAVE_BATCH"))->AddTarget(FWideString("StartOfBatch"), &progress);
    dialog.FindEvent(FWideString("ON_PERFORM_SAVE"))
        ->AddTarget(FWideString("ProcAndSave"), sender ? sender : static_cast<FUiObject*>(&progress));
    progress.FindEvent(FWideString("ON_DO_IMAGE_PROC"))->AddTarget(FWideString("IpRequest"), &bridge);
    for (const char* event : {"ON_IMAGE_QUEUE_EMPTY", "ON_IMAGE_ERROR", "ON_UPDATE_IMAGE"})
        progress.FindEvent(FWideString(event))->AddTarget(FWideString(event), &answers);
}

// Hands the dialog's requests to the worker, changed on the way when asked.
class FForward : public FUiObject
{
public:
    FForward(FUiProgressWindow& progress, std::function<void(FUiIpObjectProcAndSaveReq&)> change)
        : FUiObject("FORWARD"), m_progress(progress), m_change(std::move(change))
    {
    }
    bool UiRelayMessage(const FWideString&, void* data) override
    {
        // The dialog fills the request afresh for each image.
        if (m_change)
            m_change(*static_cast<FUiIpObjectProcAndSaveReq*>(data));
        return m_progress.UiRelayMessage(FWideString("ProcAndSave"), data);
    }

private:
    FUiProgressWindow& m_progress;
    std::function<void(FUiIpObjectProcAndSaveReq&)> m_change;
};

class SaveEndToEndTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        rawtest::EnsureDiskStorageClass();
        EnsureDiskStorageClass();
        m_pRaws = std::make_unique<rawtest::RawTestFolder>();
        for (int i = 0; i < 3; ++i) {
            developtest::DevelopableRawOptions options;
            options.cols = 320;
            options.rows = 240;
            options.seed = 52 + i;
            const FWideString url = m_pRaws->Write("IMG_00" + std::to_string(i) + ".q7f",
                                                   developtest::MakeDevelopableRaw(options));
            auto entry = std::make_unique<FImageFileListEntry>();
            entry->SetURL(url);
            ASSERT_TRUE(entry->GetProps(GetIPManagerPool()));
            ASSERT_TRUE(entry->m_bRaw);
            entry->m_bMarked = i != 1;
            if (!m_entries.empty())
                m_entries.back()->m_pNext = entry.get();
            m_entries.push_back(std::move(entry));
        }
    }
    void TearDown() override
    {
        m_entries.clear();
        m_pRaws.reset();
        FEngineTest::TearDown();
    }

    // `change`, when given, alters each request on its way to the worker.
    void SaveMarked(Answers& answers, const char* mode = "AutoMode",
                    std::function<void(FUiIpObjectProcAndSaveReq&)> change = nullptr)
    {
        FUiSaveImagesAsWindow dialog("SAVE_IMAGES_AS_WIN_MGR");
        FUiProgressWindow progress("PROGRESS_WIN_MGR");
        FUiIpObject bridge("IP_OBJECT2");
        FForward forward(progress, std::move(change));
        Wire(dialog, progress, bridge, answers, &forward);
        dialog.UiRelayMessage(FWideString("ImageFileList"), m_entries[0].get());
        dialog.UiRelayMessage(FWideString("MarkedImages"), nullptr);
        dialog.UiRelayMessage(FWideString(mode), nullptr);
        dialog.UiRelayMessage(FWideString("PerformSave"), nullptr);
        ASSERT_TRUE(TickUntil([&] { return answers.ended; },
                              [&] {
                                  progress.Tick(10);
                                  bridge.Tick(10);
                              },
                              std::chrono::seconds(240)));
    }

    std::unique_ptr<rawtest::RawTestFolder> m_pRaws;
    std::vector<std::unique_ptr<FImageFileListEntry>> m_entries;
};

TEST_F(SaveEndToEndTest, MarkedImagesAreWrittenAtTheChosenSizeWithProfileAndExif)
{
    struct Case {
        const char* fileType;
        const char* colorSpace;
        const char* extension;
        bool adobe;
    };
    const Case cases[] = {{"JPEG_EXIF", "Adobe", ".jpg", true}, {"TIFF16", "PC", ".tif", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileType);
        FScopedTempFolder out;
        Answers answers;
        answers.fileType = c.fileType;
        answers.colorSpace = c.colorSpace;
        answers.destination = out.GetPath();
        SaveMarked(answers);
        EXPECT_EQ(answers.errors, 0);
        const std::string listing = Shell("ls '" + out.GetPath() + "'");
        EXPECT_EQ(listing, std::string("IMG_000") + c.extension + "\nIMG_002" + c.extension + "\n");
        for (const char* name : {"IMG_000", "IMG_002"}) {
            const std::string file = out.Join(std::string(name) + c.extension);
            if (c.extension == std::string(".jpg")) {
                const std::string header = Shell("djpeg -pnm '" + file + "' | head -c 15");
                EXPECT_NE(header.find("160 120"), std::string::npos) << header;
            } else {
                const std::string info = Shell("tiffinfo '" + file + "' 2>/dev/null");
                EXPECT_NE(info.find("Image Width: 160 Image Length: 120"), std::string::npos) << info;
                EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos);
            }
            const double redX = RedColorantX(file);
            if (c.adobe) {
                EXPECT_NEAR(redX, 0.6097, 0.01);
            } else {
                EXPECT_NEAR(redX, 0.4361, 0.01);
            }
            EXPECT_NE(Shell("exiftool -s -ISO '" + file + "'").find("ISO"), std::string::npos)
                << "EXIF present";
        }
    }
}

TEST_F(SaveEndToEndTest, ADestinationThatVanishesMidBatchFailsTheRestAndLeavesNothing)
{
    FScopedTempFolder out;
    const std::string destination = out.Join("gone");
    ASSERT_EQ(Shell("mkdir '" + destination + "' && echo ok"), "ok\n");
    Answers answers;
    answers.fileType = "JPEG_EXIF";
    answers.colorSpace = "PC";
    answers.destination = destination;
    answers.onWritten = [&] { Shell("rm -rf '" + destination + "'"); };
    SaveMarked(answers);
    EXPECT_EQ(answers.errors, 1) << "the second image fails, the batch still ends";
    EXPECT_EQ(Shell("ls -A '" + out.GetPath() + "'"), "") << "nothing was made again, no partial file";
}

// A destination that fills up while a file is written: with room again for the next one
// the batch goes on, with the disk full to the end every image fails; either way no
// partial or temporary file stays.
TEST_F(SaveEndToEndTest, AFullDestinationFailsThoseImagesAndLeavesNoPartialFile)
{
    static FMemStorageClass* disk = RegisterMemStorageClass(FWideString("fulldisk"));
    struct Case {
        const char* what;
        bool lasting;
        int errors;
        std::vector<std::string> kept;
    };
    const Case cases[] = {{"full for one write", false, 1, {"IMG_002.jpg"}},
                          {"full from then on", true, 2, {}}};
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = "run" + std::to_string(run++);
        disk->MakeFolder(WideFromUtf8("/" + folder));
        FScopedTempFolder out;
        Answers answers;
        answers.fileType = "JPEG_EXIF";
        answers.colorSpace = "PC";
        answers.destination = out.GetPath();
        disk->SetWriteFailure(0, c.lasting);
        // Into the in-memory disk, whose writes fail as asked.
        SaveMarked(answers, "DefaultMode", [&](FUiIpObjectProcAndSaveReq& request) {
            std::vector<FWideString> parts;
            SplitURL(request.m_usDstURL, parts);
            FWideString native = WideFromUtf8("fulldisk:/" + folder + "/"), path;
            native += parts.back();
            disk->FromNativePath(native, path);
            request.m_usDstURL = FWideString(u"fulldisk://");
            request.m_usDstURL += path;
        });
        disk->SetWriteFailure(-1);
        EXPECT_EQ(answers.notices, 0);
        EXPECT_EQ(answers.errors, c.errors);
        FWideString name;
        FIFolder* written = disk->OpenFolder(WideFromUtf8("/" + folder), name, false);
        ASSERT_NE(written, nullptr);
        std::vector<FWideString> listed;
        written->ListFiles(listed);
        written->Release();
        std::vector<std::string> files;
        for (const FWideString& file : listed)
            files.push_back(Utf8FromWide(file));
        EXPECT_EQ(files, c.kept);
        EXPECT_EQ(Shell("ls -A '" + out.GetPath() + "'"), "");
    }
}

// The single dialog replacing a file the user confirmed: a conversion that fails, or one
// cancelled while it runs, leaves the old file as it was and no new or partial file.
TEST_F(SaveEndToEndTest, ASingleSaveThatFailsOrIsCancelledKeepsTheOldFile)
{
    const FWideString broken = m_pRaws->Write("BROKEN.q7f", rawtest::Bytes(4096, 0x5a));
    struct Case {
        const char* what;
        FWideString source;
        bool cancel;
        int errors;
        bool replaced;
    };
    // The confirmed replacement shows that the chain really reaches the file.
    const Case cases[] = {{"failed", broken, false, 1, false},
                          {"cancelled", m_entries[0]->m_usURL, true, 0, false},
                          {"confirmed", m_entries[0]->m_usURL, false, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FScopedTempFolder out;
        ASSERT_TRUE(out.WriteFile("kept.jpg", "old bytes"));
        Answers answers;
        answers.fileType = "JPEG_EXIF";
        answers.colorSpace = "PC";
        answers.destination = out.GetPath();
        answers.fileName = "kept.jpg";
        FUiSaveImageWindow dialog("SAVE_IMAGE_WIN_MGR");
        FUiProgressWindow progress("PROGRESS_WIN_MGR");
        FUiIpObject bridge("IP_OBJECT2");
        Wire(dialog, progress, bridge, answers);
        FUiSaveImageCmd cmd;
        cmd.m_usSrcURL = c.source;
        cmd.m_nSettingMode = Q7FSettingMode;
        cmd.m_nWidth = 320;
        cmd.m_nHeight = 240;
        dialog.UiRelayMessage(FWideString("SaveCmd"), &cmd);
        dialog.UiRelayMessage(FWideString("PerformSave"), nullptr);
        FWideString overwrite("OverWrite");
        dialog.UiRelayMessage(FWideString("Reply"), &overwrite);
        int ticks = 0;
        ASSERT_TRUE(TickUntil([&] { return answers.ended; },
                              [&] {
                                  progress.Tick(10);
                                  bridge.Tick(10);
                                  if (c.cancel && ++ticks == 2)
                                      progress.UiRelayMessage(FWideString("OKCancel"), nullptr);
                              },
                              std::chrono::seconds(240)));
        std::string bytes;
        ASSERT_TRUE(out.ReadFile("kept.jpg", bytes));
        EXPECT_EQ(bytes == "old bytes", !c.replaced);
        EXPECT_EQ(answers.errors, c.errors);
        EXPECT_EQ(Shell("ls -A '" + out.GetPath() + "'"), "kept.jpg\n") << "no new or partial file";
    }
}

} // namespace
