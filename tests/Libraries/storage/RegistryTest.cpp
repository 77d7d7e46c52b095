#include "FDebugTrace.h"
#include "FException.h"
#include "FMemStorageClass.h"
#include "FNullFolder.h"
#include "FSCEnumFolder.h"
#include "StorageClassRegistry.h"
#include "StorageTestSupport.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <thread>

namespace
{

// A class that answers one special path kind.
class AnsweringClass : public FMemStorageClass
{
public:
    AnsweringClass(const FWideString& name, int kind, const char16_t* url)
        : FMemStorageClass(name), m_iKind(kind), m_url(url)
    {
    }
    bool GetSpecialPath(int kind, FWideString& url) override
    {
        if (kind != m_iKind)
            return false;
        url = m_url;
        return true;
    }

private:
    int m_iKind;
    FWideString m_url;
};

// A file that claims a size no test could write.
class HugeFile : public FIFile
{
public:
    explicit HugeFile(uint64_t size) : m_iSize(size) {}
    void Seek(uint64_t) override {}
    uint64_t Tell() override { return 0; }
    bool ReadLine(FWideString&) override { return false; }
    int Read(void*, int) override { throw FExceptionEOF(); }
    int ReadSome(void*, int) override { return 0; }
    void Write(const void*, int) override {}
    void Flush() override {}
    void SetSize(uint64_t) override {}
    uint64_t GetSize() override { return m_iSize; }
    FWideString GetURL() override { return FWideString(); }
    void GetInfo(FFileInfo&) override {}
    void SetAttributes(const FFileInfo&) override {}

private:
    uint64_t m_iSize;
};

class HugeFileClass : public FMemStorageClass
{
public:
    explicit HugeFileClass(const FWideString& name) : FMemStorageClass(name) {}
    FIFile* OpenFile(const FWideString& path, int) override
    {
        return new HugeFile(path == u"4g" ? 4ull << 30 : (path == u"5g" ? 5ull << 30 : 0x7FFFFFFFull));
    }
};

std::string SchemeURL(const FWideString& scheme, const char* path)
{
    return U8(scheme) + "://" + path;
}

TEST(Registry, FindIsCaseSensitiveAndLeavesPathAloneWhenNotFound)
{
    FWideString name = UniqueSchemeName("find");
    FMemStorageClass* storage = RegisterMemStorageClass(name);

    FWideString path{u"untouched"};
    EXPECT_EQ(FindStorageClass(W(SchemeURL(name, "D/x")), path), storage);
    EXPECT_EQ(U8(path), "D/x");
    EXPECT_EQ(FindStorageClass(name, path), storage);
    EXPECT_TRUE(path.IsEmpty());

    std::string upper = U8(name);
    upper[0] = static_cast<char>(toupper(upper[0]));
    path = u"untouched";
    EXPECT_EQ(FindStorageClass(W(upper + "://D"), path), nullptr);
    EXPECT_EQ(U8(path), "untouched");
}

TEST(Registry, FirstOfDuplicateNamesWins)
{
    FWideString name = UniqueSchemeName("dup");
    FMemStorageClass* first = RegisterMemStorageClass(name);
    RegisterMemStorageClass(name);
    FWideString path;
    EXPECT_EQ(FindStorageClass(name, path), first);
}

TEST(Registry, RootFolderListsClassesInOrder)
{
    FWideString a = UniqueSchemeName("rootA");
    FWideString b = UniqueSchemeName("rootB");
    RegisterMemStorageClass(a);
    FMemStorageClass* bClass = RegisterMemStorageClass(b);
    bClass->PutFile(u"x/f.txt", "hi");

    FWideString name;
    Released<FIFolder> root(OpenFolderURL(FWideString(), name, false));
    ASSERT_TRUE(root);
    std::vector<FWideString> names{u"kept"};
    root->ListFolders(names);
    auto ia = std::find(names.begin(), names.end(), a);
    auto ib = std::find(names.begin(), names.end(), b);
    ASSERT_NE(ia, names.end());
    ASSERT_NE(ib, names.end());
    EXPECT_LT(ia - names.begin(), ib - names.begin());
    EXPECT_EQ(U8(names.front()), "kept");

    Released<FIFolder> sub(root->OpenSubFolder(b, false));
    ASSERT_TRUE(sub);
    std::vector<FWideString> folders;
    sub->ListFolders(folders);
    EXPECT_EQ(U8(folders), std::vector<std::string>{"x"});

    std::vector<FWideString> files;
    root->ListFiles(files);
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(root->OpenFile(u"x", kFileRead), nullptr);
    EXPECT_FALSE(root->DeleteFile(a));
    EXPECT_FALSE(root->IsReadOnly() == false);
    EXPECT_EQ(root->GetFreeSpace(), -1);
    EXPECT_EQ(root->GetDriveType(), 0);
    EXPECT_TRUE(root->GetURL().IsEmpty());
    int flags = kFileAttrHidden | 8;
    EXPECT_TRUE(root->GetAttributes(flags));
    EXPECT_EQ(flags, kFileAttrReadOnly | 8);
    bool isFolder = false;
    EXPECT_FALSE(root->Exists(a, &isFolder));

    try {
        root->Rename(a, b);
        ADD_FAILURE() << "Rename did not throw";
    } catch (const FException& e) {
        EXPECT_STREQ(e.GetMessage(), "Cannot rename storage classes");
    }
    try {
        root->DeleteFolder(a, 1);
        ADD_FAILURE() << "DeleteFolder did not throw";
    } catch (const FException& e) {
        EXPECT_STREQ(e.GetMessage(), "Cannot delete storage classes");
    }
}

TEST(Registry, UnknownSchemes)
{
    const FWideString url{u"nosuchscheme://a/b"};
    EXPECT_EQ(OpenFileURL(url, kFileRead), nullptr);
    FWideString name;
    EXPECT_EQ(OpenFolderURL(url, name, true), nullptr);
    EXPECT_EQ(OpenFileURL(FWideString(), kFileRead), nullptr);
    FWideString native{u"stale"};
    EXPECT_FALSE(URLToNativePath(url, native));
    EXPECT_TRUE(native.IsEmpty());
    bool isFolder = false;
    EXPECT_FALSE(ExistsURL(url, isFolder));
    EXPECT_EQ(GetFileSizeURL(url), 0);
    FFileInfo info;
    info.m_iFlags = 5;
    GetFileInfoURL(url, info);
    EXPECT_EQ(info.m_iFlags, 5);

    for (int which = 0; which < 2; ++which) {
        try {
            if (which == 0)
                LaunchFileURL(url, u"");
            else
                MoveToTrashURL(url);
            ADD_FAILURE() << "no exception";
        } catch (const FExceptionStorageClassDoesNotExist& e) {
            EXPECT_STREQ(e.GetMessage(), "nosuchscheme://a/b");
            EXPECT_STREQ(e.GetDescription(), "There is no storage class of that name");
        }
    }
}

TEST(Registry, SpecialPathComesFromTheFirstClassThatAnswers)
{
    // Kind 7 is answered by no real class; two test classes answer it here.
    RegisterStorageClass(UniqueSchemeName("sp"), new AnsweringClass(u"sp", 7, u"first://"));
    RegisterStorageClass(UniqueSchemeName("sp"), new AnsweringClass(u"sp", 7, u"second://"));
    EXPECT_EQ(U8(GetSpecialPathURL(7)), "first://");
    EXPECT_EQ(U8(GetSpecialPathURL(1234)), "");
}

TEST(Registry, NativePathsGoThroughTheClass)
{
    FWideString name = UniqueSchemeName("nat");
    FMemStorageClass* storage = RegisterMemStorageClass(name);
    FWideString native;
    ASSERT_TRUE(URLToNativePath(W(SchemeURL(name, "a/b%0023c")), native));
    EXPECT_EQ(U8(native), U8(name) + ":/a/b#c");
    // Which class takes a native path back depends on the registration order,
    // so the class is asked directly.
    FWideString path;
    ASSERT_TRUE(storage->FromNativePath(native, path));
    EXPECT_EQ(U8(path), "a/b%0023c");
}

TEST(Registry, FileFunctionsByURL)
{
    FWideString name = UniqueSchemeName("files");
    FMemStorageClass* storage = RegisterMemStorageClass(name);
    storage->PutFile(u"d/a%0023b.txt", "12345");

    const FWideString url = W(SchemeURL(name, "d/a%0023b.txt"));
    EXPECT_EQ(GetFileSizeURL(url), 5);
    bool isFolder = true;
    EXPECT_TRUE(ExistsURL(url, isFolder));
    EXPECT_FALSE(isFolder);

    FFileInfo info;
    info.m_iFlags = kFileAttrReadOnly;
    SetFileAttributesURL(url, info);
    FFileInfo read;
    GetFileInfoURL(url, read);
    EXPECT_EQ(read.m_iFlags & kFileAttrReadOnly, kFileAttrReadOnly);
    info.m_iFlags = 0;
    SetFileAttributesURL(url, info);

    // The last part of the URL is escaped; the file named a#b.txt is the one deleted.
    DeleteFileURL(url);
    std::string bytes;
    EXPECT_FALSE(storage->GetFileBytes(u"d/a%0023b.txt", bytes));
    EXPECT_FALSE(ExistsURL(url, isFolder));

    LaunchFileURL(W(SchemeURL(name, "d")), u"");
    EXPECT_EQ(storage->GetLaunched().size(), 1u);
}

TEST(Registry, DeleteFileURLEdges)
{
    // One part reaches the root folder, whose DeleteFile answers false.
    EXPECT_NO_THROW(DeleteFileURL(u"justascheme"));
    // No part at all: the last part does not exist.
    EXPECT_THROW(DeleteFileURL(u":///"), FArrayException);
}

TEST(Registry, FileSizeSaturates)
{
    FWideString name = UniqueSchemeName("huge");
    RegisterStorageClass(name, new HugeFileClass(name));
    EXPECT_EQ(GetFileSizeURL(W(SchemeURL(name, "4g"))), INT_MAX);
    EXPECT_EQ(GetFileSizeURL(W(SchemeURL(name, "5g"))), INT_MAX);
    EXPECT_EQ(GetFileSizeURL(W(SchemeURL(name, "max"))), INT_MAX);
}

TEST(Registry, NullFolderRefusesEverything)
{
    struct Plain : FNullFolder {
        FWideString GetURL() override { return FWideString(); }
        FWideString GetNote() override { return FWideString(); }
        bool GetAttributes(int&) override { return true; }
        int GetDriveType() override { return 0; }
        bool Exists(const FWideString&, bool*) override { return false; }
    };
    Plain folder;
    std::vector<FWideString> names;
    folder.ListFiles(names);
    folder.ListFolders(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(folder.OpenSubFolder(u"x", true), nullptr);
    EXPECT_EQ(folder.OpenFile(u"x", kFileWrite), nullptr);
    EXPECT_FALSE(folder.DeleteFile(u"x"));
    EXPECT_EQ(folder.GetFreeSpace(), 0);
    EXPECT_FALSE(folder.IsReadOnly());
    EXPECT_THROW(folder.Rename(u"a", u"b"), FExceptionFileIO);
    EXPECT_THROW(folder.DeleteFolder(u"a://b", 1), FExceptionFileIO);
}

TEST(Registry, LookupsWhileAnotherThreadRegisters)
{
    // Worker threads look classes up while the user-interface thread registers one.
    FWideString name = UniqueSchemeName("busy");
    FMemStorageClass* storage = RegisterMemStorageClass(name);
    std::atomic<bool> stop{false};
    std::atomic<int> misses{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                FWideString path;
                if (FindStorageClass(name, path) != storage)
                    ++misses;
            }
        });
    }
    for (int i = 0; i < 200; ++i)
        RegisterMemStorageClass(UniqueSchemeName("grow"));
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(misses.load(), 0);
}

TEST(RegistryDeathTest, ShutdownDeletesEveryClass)
{
    EXPECT_EXIT(
        {
            FWideString name = UniqueSchemeName("down");
            FMemStorageClass* storage = RegisterMemStorageClass(name);
            storage->PutFile(u"f", "x");
            FIFile* file = OpenFileURL(W(SchemeURL(name, "f")), kFileRead);
            bool ok = file != nullptr;
            if (file)
                file->Release();
            ShutdownStorageClasses();
            ok = ok && OpenFileURL(W(SchemeURL(name, "f")), kFileRead) == nullptr;
            FWideString path;
            ok = ok && FindStorageClass(name, path) == nullptr;
            for (const FStorageClassEntry& entry : GetStorageClassEntries())
                ok = ok && entry.m_name.IsEmpty() && entry.m_pClass == nullptr;
            exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
