#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
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
    void Send(const char* message, void* data = nullptr)
    {
        EXPECT_FALSE(m_pWindow->UiRelayMessage(FWideString(message), data));
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
