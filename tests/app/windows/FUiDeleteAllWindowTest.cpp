#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BrowserFixtures.h"
#include "FCodePage.h"
#include "FIPManager.h"
#include "FIStorageClass.h"
#include "FImageFileList.h"
#include "FProbeObject.h"
#include "FUiDeleteAllWindow.h"
#include "RelayEvent.h"
#include "StorageClassRegistry.h"

using namespace browsertest;

namespace
{

class DeleteAllTest : public BrowserTest
{
protected:
    void SetUp() override
    {
        BrowserTest::SetUp();
        m_pWindow = std::make_unique<FUiDeleteAllWindow>("DELETE_ALL_WIN_MGR", GetIPManagerPool());
        for (RelayEvent* event = m_pWindow->GetFirstEvent(); event; event = event->GetNext())
            event->AddTarget(event->GetName(), &m_probe);
        m_probe.SetOnMessage([this](const FProbeRecord& record) {
            if (record.message == "ON_DELETING_IMAGE")
                m_deleted.push_back(Utf8FromWide(*static_cast<FWideString*>(record.pointer)));
            if (record.message == "ON_IS_DELETE_ALLOWED") {
                auto* allowed = static_cast<FDeleteAllowedRecord*>(record.pointer);
                if (!m_refuse.empty() && Utf8FromWide(allowed->m_usURL).find(m_refuse) != std::string::npos)
                    allowed->m_bAllowed = false;
            }
        });
    }
    void TearDown() override
    {
        m_pWindow.reset();
        BrowserTest::TearDown();
    }
    // Five raw files, the given ones locked (read-only).
    FWideString Card(std::initializer_list<int> locked)
    {
        FWideString folder;
        for (int i = 1; i <= 5; ++i) {
            const FWideString url = PutRaw("IMG_000" + std::to_string(i) + ".q7f");
            for (int l : locked) {
                if (l == i) {
                    FFileInfo info;
                    info.m_iFlags = kFileAttrReadOnly;
                    SetFileAttributesURL(url, info);
                }
            }
            folder = url;
        }
        std::vector<FWideString> parts;
        SplitURL(folder, parts);
        parts.pop_back();
        JoinURL(parts, folder, true);
        return folder;
    }
    // The message, then the window's ticks until its read or deletion ends; answers the ticks.
    int Send(const char* message, void* data = nullptr)
    {
        EXPECT_FALSE(m_pWindow->UiRelayMessage(FWideString(message), data));
        int ticks = 0;
        for (; m_pWindow->IsReading() || m_pWindow->IsDeleting(); ++ticks)
            m_pWindow->Tick(10);
        return ticks;
    }
    // `count` small raw files "C0000.q7f".., every `lockEvery`-th locked; answers the folder.
    FWideString BigCard(int count, int lockEvery)
    {
        RawOptions o;
        o.previewCols = 0;
        const rawtest::Bytes raw = MakeRaw(o);
        for (int i = 0; i < count; ++i) {
            const FWideString url = m_pFolder->Write(BigName(i), raw);
            if (i % lockEvery == 0) {
                FFileInfo info;
                info.m_iFlags = kFileAttrReadOnly;
                SetFileAttributesURL(url, info);
            }
        }
        return m_pFolder->FolderURL();
    }
    static std::string BigName(int i)
    {
        char name[32];
        std::snprintf(name, sizeof(name), "C%04d.q7f", i);
        return name;
    }
    bool Exists(int i)
    {
        return std::filesystem::exists(m_pFolder->NativePath("IMG_000" + std::to_string(i) + ".q7f"));
    }

    std::unique_ptr<FUiDeleteAllWindow> m_pWindow;
    FProbeObject m_probe{"PROBE"};
    std::vector<std::string> m_deleted;
    std::string m_refuse;
};

} // namespace

TEST_F(DeleteAllTest, DeletesTheUnlockedImagesAndKeepsTheLockedOnes)
{
    FWideString folder = Card({2, 4});
    Send("DelDir", &folder);
    EXPECT_EQ(m_probe.GetMessages(), "ON_READING_CAMERA_DIR,ON_SOMETHING_TO_DELETE,ON_SOME_FILES_LOCKED");
    m_probe.Clear();
    m_refuse = "IMG_0003";
    Send("OK");
    EXPECT_EQ(m_deleted.size(), 2u);
    EXPECT_NE(m_deleted[0].find("IMG_0001.q7f"), std::string::npos);
    EXPECT_NE(m_deleted[1].find("IMG_0005.q7f"), std::string::npos);
    const std::string messages = m_probe.GetMessages();
    EXPECT_EQ(messages.rfind("ON_BEGIN_DELETE,ON_IS_DELETE_ALLOWED", 0), 0u) << messages;
    EXPECT_EQ(messages.substr(messages.size() - 13), "ON_END_DELETE");
    EXPECT_FALSE(Exists(1));
    EXPECT_TRUE(Exists(2));
    // Refused by the dialog: the file and its entry stay.
    EXPECT_TRUE(Exists(3));
    EXPECT_TRUE(Exists(4));
    EXPECT_FALSE(Exists(5));
    EXPECT_EQ(m_pWindow->GetList().GetCount(), 3);
}

TEST_F(DeleteAllTest, TellsWhenNothingCanBeDeleted)
{
    FWideString folder = Card({1, 2, 3, 4, 5});
    Send("DelDir", &folder);
    EXPECT_EQ(m_probe.GetMessages(), "ON_READING_CAMERA_DIR,ON_NOTHING_UNLOCKED");
    m_probe.Clear();
    Send("OK");
    EXPECT_EQ(m_probe.GetMessages(), "ON_BEGIN_DELETE,ON_END_DELETE");
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(Exists(i));

    m_probe.Clear();
    FWideString empty = folder;
    empty += "empty/";
    std::filesystem::create_directory(m_pFolder->NativePath("empty"));
    Send("DelDir", &empty);
    EXPECT_EQ(m_probe.GetMessages(), "ON_READING_CAMERA_DIR,ON_NOTHING_TO_DELETE");
    m_probe.Clear();
    FWideString gone = folder;
    gone += "gone/";
    Send("DelDir", &gone);
    EXPECT_EQ(m_probe.GetMessages(), "ON_READING_CAMERA_DIR,ON_NOTHING_TO_DELETE");
    m_probe.Clear();
    Send("DelDir");
    Send("Cancel");
    EXPECT_EQ(m_probe.GetMessages(), "");
}

// A card of thousands of images is read and deleted over many ticks, never in the message
// that asked; the dialog hears the outcome only once the whole card is read, and the
// deletion takes exactly the unlocked images it listed, reporting each once.
TEST_F(DeleteAllTest, AFullCardIsReadAndDeletedInSlices)
{
    constexpr int kCount = 3000;
    constexpr int kLockEvery = 100;
    FWideString folder = BigCard(kCount, kLockEvery);
    std::vector<std::string> progress;
    m_probe.SetOnMessage([&](const FProbeRecord& record) {
        if (record.message == "ON_DELETING_IMAGE")
            m_deleted.push_back(Utf8FromWide(*static_cast<FWideString*>(record.pointer)));
        if (record.message == "ON_DELETE_PROGRESS")
            progress.push_back(Utf8FromWide(*static_cast<FWideString*>(record.pointer)));
    });

    EXPECT_FALSE(m_pWindow->UiRelayMessage(FWideString("DelDir"), &folder));
    ASSERT_TRUE(m_pWindow->IsReading());
    EXPECT_EQ(m_probe.GetMessages(), "ON_READING_CAMERA_DIR");
    // Pressed before the card is read, OK has nothing to act on.
    EXPECT_FALSE(m_pWindow->UiRelayMessage(FWideString("OK"), nullptr));
    EXPECT_EQ(m_probe.GetMessages(), "ON_READING_CAMERA_DIR");
    int ticks = 0;
    for (; m_pWindow->IsReading(); ++ticks) {
        EXPECT_EQ(m_pWindow->GetList().GetCount(), 0);
        m_pWindow->Tick(10);
    }
    EXPECT_GT(ticks, 1);
    EXPECT_EQ(m_probe.GetMessages(), "ON_READING_CAMERA_DIR,ON_SOMETHING_TO_DELETE,ON_SOME_FILES_LOCKED");
    EXPECT_EQ(m_pWindow->GetList().GetCount(), kCount);

    m_probe.Clear();
    EXPECT_FALSE(m_pWindow->UiRelayMessage(FWideString("OK"), nullptr));
    ASSERT_TRUE(m_pWindow->IsDeleting());
    // Another folder offered meanwhile leaves the deletion's list alone.
    FWideString other = folder;
    other += "other/";
    EXPECT_FALSE(m_pWindow->UiRelayMessage(FWideString("DelDir"), &other));
    EXPECT_FALSE(m_pWindow->IsReading());
    EXPECT_GT(Send("Nothing"), 1);
    constexpr int kUnlocked = kCount - kCount / kLockEvery;
    ASSERT_EQ(int(m_deleted.size()), kUnlocked);
    EXPECT_EQ(int(std::set<std::string>(m_deleted.begin(), m_deleted.end()).size()), kUnlocked);
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(std::filesystem::exists(m_pFolder->NativePath(BigName(i))), i % kLockEvery == 0) << i;
    EXPECT_EQ(m_pWindow->GetList().GetCount(), kCount / kLockEvery);
    ASSERT_GT(progress.size(), 1u);
    EXPECT_EQ(progress.back(), std::to_string(kUnlocked) + " / " + std::to_string(kUnlocked));
    const std::string messages = m_probe.GetMessages();
    EXPECT_EQ(messages.find("ON_READING_CAMERA_DIR"), std::string::npos);
    EXPECT_EQ(messages.substr(messages.size() - 13), "ON_END_DELETE");
}

// Cancel drops a read under way, and stops a deletion: what was deleted was reported, the
// rest stays on the card and in the list.
TEST_F(DeleteAllTest, CancelStopsAReadOrADeletion)
{
    constexpr int kCount = 2000;
    FWideString folder = BigCard(kCount, kCount);
    EXPECT_FALSE(m_pWindow->UiRelayMessage(FWideString("DelDir"), &folder));
    ASSERT_TRUE(m_pWindow->IsReading());
    Send("Cancel");
    EXPECT_FALSE(m_pWindow->IsReading());
    EXPECT_EQ(m_probe.GetMessages(), "ON_READING_CAMERA_DIR");
    Send("OK");
    EXPECT_EQ(m_probe.GetMessages(), "ON_READING_CAMERA_DIR,ON_BEGIN_DELETE,ON_END_DELETE");
    EXPECT_TRUE(m_deleted.empty());

    Send("DelDir", &folder);
    m_probe.Clear();
    EXPECT_FALSE(m_pWindow->UiRelayMessage(FWideString("OK"), nullptr));
    ASSERT_TRUE(m_pWindow->IsDeleting());
    Send("Cancel");
    EXPECT_FALSE(m_pWindow->IsDeleting());
    const std::string messages = m_probe.GetMessages();
    EXPECT_EQ(messages.substr(messages.size() - 13), "ON_END_DELETE");
    ASSERT_LT(int(m_deleted.size()), kCount - 1);
    const std::set<std::string> deleted(m_deleted.begin(), m_deleted.end());
    int kept = 0;
    for (int i = 0; i < kCount; ++i) {
        const bool there = std::filesystem::exists(m_pFolder->NativePath(BigName(i)));
        kept += there ? 1 : 0;
        const bool reported = std::any_of(deleted.begin(), deleted.end(), [&](const std::string& url) {
            return url.size() >= 9 && url.compare(url.size() - 9, 9, BigName(i)) == 0;
        });
        EXPECT_NE(there, reported) << i;
    }
    EXPECT_EQ(m_pWindow->GetList().GetCount(), kept);
}
