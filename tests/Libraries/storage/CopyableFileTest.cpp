#include "FCopyableFile.h"
#include "FException.h"
#include "FMemStorageClass.h"
#include "StorageClassRegistry.h"
#include "StorageTestSupport.h"

namespace
{

class CopyableFile : public ::testing::Test
{
protected:
    std::string URL(const char* path) const { return U8(m_name) + "://" + path; }
    FCopyableFile* OpenSource(const char* path)
    {
        FIFile* file = OpenFileURL(W(URL(path)), kFileRead);
        auto* copyable = dynamic_cast<FCopyableFile*>(file);
        if (!copyable && file)
            file->Release();
        return copyable;
    }

    FWideString m_name = UniqueSchemeName("copy");
    FMemStorageClass* m_pStorage = RegisterMemStorageClass(m_name);
};

TEST_F(CopyableFile, OrderOfCallsIsChecked)
{
    m_pStorage->PutFile(u"src", "abc");
    Released<FCopyableFile> file(OpenSource("src"));
    ASSERT_TRUE(file);
    try {
        file->CopyChunk(1);
        ADD_FAILURE() << "no exception";
    } catch (const FException& e) {
        EXPECT_STREQ(e.GetMessage(), "Destination file not opened!");
    }
    EXPECT_THROW(file->EndCopy(), FException);

    int total = -1;
    ASSERT_TRUE(file->BeginCopy(W(URL("new/dir/dst")), &total, 2));
    EXPECT_EQ(total, 3);
    try {
        file->BeginCopy(W(URL("other")), nullptr, 2);
        ADD_FAILURE() << "no exception";
    } catch (const FException& e) {
        EXPECT_STREQ(e.GetMessage(), "Copy in Progress!");
    }
    EXPECT_EQ(file->CopyChunk(100), 2);
    EXPECT_EQ(file->CopyChunk(2), 1);
    EXPECT_EQ(file->CopyChunk(2), 0);
    file->EndCopy();
    std::string bytes;
    ASSERT_TRUE(m_pStorage->GetFileBytes(u"new/dir/dst", bytes));
    EXPECT_EQ(bytes, "abc");
    EXPECT_THROW(file->EndCopy(), FException);
}

TEST_F(CopyableFile, DefaultChunkAndFailedDestinations)
{
    m_pStorage->PutFile(u"src", std::string(10000, 'z'));
    m_pStorage->PutFile(u"blocker", "file standing where a folder should be");
    Released<FCopyableFile> file(OpenSource("src"));
    ASSERT_TRUE(file);

    int total = -1;
    EXPECT_FALSE(file->BeginCopy(W(URL("blocker/dst")), &total, 0));
    EXPECT_EQ(total, 0);
    EXPECT_FALSE(file->BeginCopy(u"nosuchscheme://x/y", &total, 0));
    // A failed attempt leaves nothing behind that blocks the next one.
    ASSERT_TRUE(file->BeginCopy(W(URL("dst")), &total, 0));
    EXPECT_EQ(total, 10000);
    EXPECT_EQ(file->CopyChunk(1 << 20), kDefaultCopyChunkSize);
    // Ended short of the size, the copy is a failure and makes no file.
    EXPECT_THROW(file->EndCopy(), FExceptionFileRead);
    std::string bytes;
    EXPECT_FALSE(m_pStorage->GetFileBytes(u"dst", bytes));
}

TEST_F(CopyableFile, ReadAndWriteFailuresPassThrough)
{
    m_pStorage->PutFile(u"src", std::string(100, 'q'));
    m_pStorage->PutFile(u"dst", "the earlier download");
    Released<FCopyableFile> file(OpenSource("src"));
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->BeginCopy(W(URL("dst")), nullptr, 64));
    m_pStorage->SetWriteFault(32);
    EXPECT_THROW(file->CopyChunk(64), FExceptionFileWrite);
    m_pStorage->SetWriteFault(-1);
    m_pStorage->SetReadFault(80);
    EXPECT_THROW(file->CopyChunk(64), FExceptionFileRead);
    m_pStorage->SetReadFault(-1);
    EXPECT_THROW(file->EndCopy(), FExceptionFileRead);
    // The failed copy left the earlier file as it was and nothing beside it.
    std::string bytes;
    ASSERT_TRUE(m_pStorage->GetFileBytes(u"dst", bytes));
    EXPECT_EQ(bytes, "the earlier download");
    FWideString name;
    Released<FIFolder> folder(OpenFolderURL(W(URL("")), name, false));
    ASSERT_TRUE(folder);
    std::vector<FWideString> files;
    folder->ListFiles(files);
    EXPECT_EQ(U8(files), (std::vector<std::string>{"dst", "src"}));

    // Complete, it replaces the earlier file.
    ASSERT_TRUE(file->BeginCopy(W(URL("dst")), nullptr, 64));
    while (file->CopyChunk(64) > 0) {
    }
    file->EndCopy();
    ASSERT_TRUE(m_pStorage->GetFileBytes(u"dst", bytes));
    EXPECT_EQ(bytes, std::string(100, 'q'));
}

TEST_F(CopyableFile, MemoryClassKeepsFilesApart)
{
    m_pStorage->PutFile(u"d/a", "1");
    FWideString name;
    Released<FIFolder> folder(OpenFolderURL(W(URL("d")), name, false));
    ASSERT_TRUE(folder);
    {
        Released<FIFile> created(folder->OpenFile(u"b#c", kFileWrite));
        ASSERT_TRUE(created);
        created->Write("22", 2);
        EXPECT_EQ(U8(created->GetURL()), URL("d/b%0023c"));
    }
    std::vector<FWideString> files;
    folder->ListFiles(files);
    EXPECT_EQ(U8(files), (std::vector<std::string>{"a", "b#c"}));
    EXPECT_EQ(GetFileSizeURL(W(URL("d/b%0023c"))), 2);
    folder->Rename(u"a", u"b#c");
    EXPECT_EQ(GetFileSizeURL(W(URL("d/b%0023c"))), 2);
    DeleteFileURL(W(URL("d/b%0023c")));
    bool isFolder = false;
    EXPECT_FALSE(ExistsURL(W(URL("d/b%0023c")), isFolder));
    MoveToTrashURL(W(URL("d/a")));
    EXPECT_EQ(m_pStorage->GetTrashed().size(), 1u);
    EXPECT_THROW(MoveToTrashURL(W(URL("d/a"))), FExceptionFileIO);
}

} // namespace
