#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BrowserFixtures.h"
#include "FCodePage.h"
#include "FIPManager.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FProbeObject.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "FUiCopyCameraWindow.h"
#include "RelayEvent.h"
#include "StorageClassRegistry.h"

using namespace browsertest;

namespace
{

// The URL of a native folder, with its trailing slash.
std::string FolderURL(const std::string& native)
{
    FWideString url;
    NativePathToURL(WideFromUtf8(native), url);
    std::string text = Utf8FromWide(url);
    if (text.back() != '/')
        text += "/";
    return text;
}

struct Sent {
    std::string from, to;
    bool deleteSource;
    bool operator==(const Sent&) const = default;
};

// The dialog's events go to a probe; ON_GET_PATH is answered with `path`, and
// each ON_PERFORM_SAVE is recorded.
struct CopyRig {
    std::unique_ptr<FUiCopyCameraWindow> window;
    FProbeObject probe{"PROBE"};
    std::string path;
    std::vector<Sent> sent;
    std::vector<std::string> texts;
    CopyRig() : window(std::make_unique<FUiCopyCameraWindow>("COPY_CAMERA_WIN_MGR", GetIPManagerPool()))
    {
        FWideString rest;
        if (!FindStorageClass(FWideString("disk"), rest))
            RegisterDiskStorageClass();
        for (RelayEvent* event = window->GetFirstEvent(); event; event = event->GetNext())
            event->AddTarget(event->GetName(), &probe);
        probe.SetOnMessage([this](const FProbeRecord& record) {
            if (record.message == "ON_GET_PATH")
                *static_cast<FWideString*>(record.pointer) = WideFromUtf8(path);
            if (record.message == "ON_PERFORM_SAVE") {
                auto* request = static_cast<FUiIpObjectCopyReq*>(record.pointer);
                sent.push_back({Utf8FromWide(request->m_usFileURL), Utf8FromWide(request->m_usDstURL),
                                request->m_bDeleteSrc});
            }
            if (record.pointer &&
                (record.message.rfind("ON_SIZEOF", 0) == 0 || record.message == "ON_SET_SPACE_FREE" ||
                 record.message == "ON_SINGLE_RESOLUTION"))
                texts.push_back(record.message + "=" +
                                Utf8FromWide(*static_cast<FWideString*>(record.pointer)));
        });
    }
    void Send(const char* message, void* data = nullptr)
    {
        EXPECT_TRUE(window->UiRelayMessage(FWideString(message), data)) << message;
    }
    bool Saw(const std::string& text) const
    {
        const std::string all = probe.GetMessages() + ",";
        return all.find(text + ",") != std::string::npos;
    }
};

// A chain of entries as another list holds them.
struct Chain {
    std::vector<std::unique_ptr<FImageFileListEntry>> entries;
    FImageFileListEntry* Add(const std::string& url, int cols, int rows)
    {
        auto e = std::make_unique<FImageFileListEntry>();
        e->m_usURL = WideFromUtf8(url);
        e->m_usFileName = WideFromUtf8(url.substr(url.rfind('/') + 1));
        e->m_bRaw = url.find(".q7f") != std::string::npos;
        e->m_nCols = cols;
        e->m_nRows = rows;
        e->m_nFileSize = 10000000;
        if (!entries.empty()) {
            entries.back()->m_pNext = e.get();
            e->m_pPrev = entries.back().get();
        }
        entries.push_back(std::move(e));
        return entries.back().get();
    }
    FImageFileListEntry* Head() { return entries.front().get(); }
};

} // namespace

TEST(CopyCameraTest, FreeSpaceTextAndSpaceNeeded)
{
    const struct {
        int64_t bytes;
        const char* text;
    } cases[] = {
        {1610612736, "1.5 GB"}, {524288000, "500 MB"}, {1048576000, "1e+03 MB"}, {0, "0 MB"}, {-1, "0 MB"}};
    for (const auto& c : cases)
        EXPECT_EQ(Utf8FromWide(FormatFreeSpace(c.bytes)), c.text) << c.bytes;
    EXPECT_EQ(DownloadSpaceNeeded(214), 2140000000);
    EXPECT_EQ(DownloadSpaceNeeded(300), 3000000000);
}

TEST(CopyCameraTest, CountsScopeAndOneRequestPerImageInScope)
{
    FScopedTempFolder destination;
    CopyRig rig;
    rig.path = destination.GetPath();
    Chain chain;
    chain.Add("camera://MyCam/DCIM/IMG_0001.q7f", 2268, 1512)->m_bMarked = true;
    FImageFileListEntry* locked = chain.Add("camera://MyCam/DCIM/IMG_0002.q7f", 1134, 756);
    locked->m_bLocked = true;
    chain.Add("camera://MyCam/DCIM/IMG_0003.q7f", 2268, 1512)->m_bSelected = true;
    chain.Add("camera://MyCam/DCIM/IMG_0004.jpg", 640, 480)->m_bMarked = true;
    rig.Send("ImageFileList", chain.Head());

    FWideString tenMB;
    tenMB.SetByteSize(30000000);
    FWideString twentyMB;
    twentyMB.SetByteSize(20000000);
    FWideString oneMB;
    oneMB.SetByteSize(10000000);
    EXPECT_EQ(rig.texts[0], "ON_SIZEOF_ALL_IMAGES=(3 images, " + Utf8FromWide(tenMB) + ")");
    EXPECT_EQ(rig.texts[1], "ON_SIZEOF_MARKED_IMAGES=(2 images, " + Utf8FromWide(twentyMB) + ")");
    EXPECT_EQ(rig.texts[2], "ON_SIZEOF_SELECTED_IMAGES=(1 image, " + Utf8FromWide(oneMB) + ")");
    EXPECT_TRUE(rig.Saw("ON_SELECT_ALL"));
    EXPECT_TRUE(rig.Saw("ON_MULTIPLE_RESOLUTIONS"));
    EXPECT_EQ(rig.window->GetImagesInScope(), 3);

    rig.probe.Clear();
    rig.texts.clear();
    rig.Send("DownloadMarked");
    EXPECT_EQ(rig.texts, std::vector<std::string>{"ON_SINGLE_RESOLUTION=10.3 MP (2268 x 1512 x 3)"});
    EXPECT_EQ(rig.window->GetImagesInScope(), 1);
    rig.Send("DownloadAll");

    rig.Send("DoDelete");
    rig.probe.Clear();
    rig.Send("PerformDownload");
    const std::string dest = FolderURL(destination.GetPath());
    // A locked image is copied but its source is kept.
    EXPECT_EQ(rig.sent,
              (std::vector<Sent>{{"camera://MyCam/DCIM/IMG_0001.q7f", dest + "IMG_0001.q7f", true},
                                 {"camera://MyCam/DCIM/IMG_0002.q7f", dest + "IMG_0002.q7f", false},
                                 {"camera://MyCam/DCIM/IMG_0003.q7f", dest + "IMG_0003.q7f", true}}));
    const std::string messages = rig.probe.GetMessages();
    EXPECT_EQ(messages.rfind("ON_GET_PATH,ON_START_DOWNLOAD_BATCH,ON_PERFORM_SAVE", 0), 0u) << messages;
    EXPECT_TRUE(rig.Saw("ON_HIDE_COPY_CAMERA"));
}

TEST(CopyCameraTest, AScopeWithoutMatchingImagesIsShownAgain)
{
    CopyRig rig;
    Chain chain;
    chain.Add("camera://MyCam/DCIM/IMG_0001.q7f", 10, 10);
    chain.Add("camera://MyCam/DCIM/IMG_0002.jpg", 10, 10)->m_bMarked = true;
    rig.Send("ImageFileList", chain.Head());
    rig.probe.Clear();
    rig.Send("DownloadMarked");
    rig.Send("DownloadSelected");
    EXPECT_EQ(rig.probe.GetMessages(), "ON_SELECT_ALL,ON_SELECT_ALL");
    EXPECT_EQ(rig.window->GetImagesInScope(), 1);
}

TEST(CopyCameraTest, BadDestinationsAndNamesSendNothing)
{
    FScopedTempFolder temp;
    CopyRig rig;
    Chain chain;
    chain.Add("camera://MyCam/DCIM/IMG_0001.q7f", 10, 10);
    chain.Add("camera://MyCam/DCIM/..\\x.q7f", 10, 10);
    rig.Send("ImageFileList", chain.Head());

    const struct {
        std::string path;
        const char* notice;
    } cases[] = {
        {"", "ON_SHOW_INVALID"},
        {temp.Join("missing"), "ON_SHOW_INVALID"},
        {temp.Join("file.txt"), "ON_SHOW_INVALID"},
    };
    ASSERT_TRUE(temp.WriteFile("file.txt", "x"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        rig.path = c.path;
        rig.probe.Clear();
        rig.Send("PerformDownload");
        EXPECT_EQ(rig.probe.GetMessages(), std::string("ON_GET_PATH,") + c.notice);
        EXPECT_TRUE(rig.sent.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(temp.Join("missing")));

    // A name that climbs out of the destination is passed over.
    rig.path = temp.GetPath();
    rig.Send("PerformDownload");
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.sent[0].to, FolderURL(temp.GetPath()) + "IMG_0001.q7f");
}

// The documents folder is the default destination, yet a start does not make it: the
// first download into it does. Another missing folder is still refused, and not made.
TEST(CopyCameraTest, TheMissingDocumentsFolderIsMadeByTheFirstDownload)
{
    FScopedTempFolder home;
    FScopedEnv homeEnv("HOME", home.GetPath());
    FScopedEnv config("XDG_CONFIG_HOME", home.Join("config"));
    CopyRig rig;
    Chain chain;
    chain.Add("camera://MyCam/DCIM/IMG_0001.q7f", 10, 10);
    rig.Send("ImageFileList", chain.Head());

    rig.path = home.Join("Other");
    rig.Send("PerformDownload");
    EXPECT_TRUE(rig.sent.empty());
    EXPECT_FALSE(std::filesystem::exists(home.Join("Other")));

    rig.path = home.Join("Documents");
    ASSERT_FALSE(std::filesystem::exists(rig.path));
    rig.Send("PerformDownload");
    EXPECT_TRUE(std::filesystem::is_directory(rig.path));
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.sent[0].to, FolderURL(rig.path) + "IMG_0001.q7f");
}

class CopyCameraScanTest : public BrowserTest
{
};

TEST_F(CopyCameraScanTest, ReadyOnTheFirstTickAfterTheScan)
{
    FWideString url;
    for (const char* name : {"IMG_0001.q7f", "IMG_0002.q7f", "IMG_0003.q7f"})
        url = PutRaw(name);
    std::vector<FWideString> parts;
    SplitURL(url, parts);
    parts.pop_back();
    FWideString folder;
    JoinURL(parts, folder, true);

    CopyRig rig;
    rig.probe.SetDataKind("ON_IS_READY", EProbeData::kBool);
    rig.Send("DownloadDir", &folder);
    EXPECT_EQ(rig.probe.GetMessages(), "ON_IS_READY,ON_SIZEOF_ALL_IMAGES,ON_SIZEOF_MARKED_IMAGES,ON_SIZEOF_"
                                       "SELECTED_IMAGES,ON_BLANK_RESOLUTION");
    EXPECT_EQ(rig.probe.GetRecords()[0].data, "false");
    // Messages that need the list wait while the scan owns it.
    rig.Send("PerformDownload");
    EXPECT_TRUE(rig.sent.empty());
    for (int i = 0; i < 2000 && !rig.window->GetList().IsScanDone(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    rig.probe.Clear();
    rig.texts.clear();
    rig.window->Tick(10);
    ASSERT_FALSE(rig.probe.GetRecords().empty());
    EXPECT_EQ(rig.probe.GetRecords()[0].message, "ON_IS_READY");
    EXPECT_EQ(rig.probe.GetRecords()[0].data, "true");
    EXPECT_NE(rig.texts[0].find("(3 images, "), std::string::npos) << rig.texts[0];
    EXPECT_EQ(rig.window->GetImagesInScope(), 3);
    rig.probe.Clear();
    rig.window->Tick(10);
    EXPECT_EQ(rig.probe.GetMessages(), "");

    // A new folder while a scan runs replaces it; nothing of the old one is used.
    rig.Send("DownloadDir", &folder);
    rig.Send("DownloadDir", &folder);
    for (int i = 0; i < 2000 && rig.window->IsScanning(); ++i) {
        rig.window->Tick(10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(rig.window->GetList().GetCount(), 3);
}
