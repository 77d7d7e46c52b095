#include "FMemStorageClass.h"
#include "FReleased.h"
#include "StorageClassRegistry.h"
#include "StorageTestSupport.h"

#include <string>
#include <vector>

namespace
{

using Names = std::vector<std::string>;

// The in-memory class lists a folder from an index of its children; every
// change must keep that index and the entries in step.
class MemStorage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_scheme = UniqueSchemeName("memlist");
        m_storage = RegisterMemStorageClass(m_scheme);
    }

    FIFolder* Open(const std::string& path)
    {
        FWideString fileName;
        return OpenFolderURL(W(U8(m_scheme) + "://" + path), fileName, false);
    }

    FWideString URL(const std::string& path) { return W(U8(m_scheme) + "://" + path); }

    // Folders then files, as "name/" and "name".
    Names List(const std::string& path)
    {
        Released<FIFolder> folder(Open(path));
        EXPECT_TRUE(folder) << path;
        if (!folder)
            return {};
        std::vector<FWideString> folders;
        std::vector<FWideString> files;
        folder->ListFolders(folders);
        folder->ListFiles(files);
        Names names;
        for (const FWideString& name : folders)
            names.push_back(U8(name) + "/");
        for (const FWideString& name : files)
            names.push_back(U8(name));
        return names;
    }

    FWideString m_scheme;
    FMemStorageClass* m_storage = nullptr;
};

TEST_F(MemStorage, ListingsFollowEveryChange)
{
    m_storage->MakeFolder(u"a/b/c");
    m_storage->MakeFolder(u"a/d");
    m_storage->MakeFolder(u"ab");
    m_storage->PutFile(u"a/f1", "1");
    m_storage->PutFile(u"a/b/f2", "2");
    m_storage->PutFile(u"top", "t");
    EXPECT_EQ(List(""), (Names{"a/", "ab/", "top"}));
    EXPECT_EQ(List("a"), (Names{"b/", "d/", "f1"}));
    EXPECT_EQ(List("a/b"), (Names{"c/", "f2"}));
    EXPECT_EQ(List("a/b/c"), Names{});

    Released<FIFolder> a(Open("a"));
    ASSERT_TRUE(a);
    // A renamed folder takes everything below it along.
    a->Rename(u"b", u"e");
    EXPECT_EQ(List("a"), (Names{"d/", "e/", "f1"}));
    EXPECT_EQ(List("a/e"), (Names{"c/", "f2"}));
    bool isFolder = false;
    EXPECT_FALSE(m_storage->Exists(u"a/b/f2", isFolder));
    EXPECT_TRUE(m_storage->Exists(u"a/e/f2", isFolder));

    // A recursive delete leaves nothing of the subtree in any listing.
    a->DeleteFolder(URL("a/e"), 1);
    EXPECT_EQ(List("a"), (Names{"d/", "f1"}));
    EXPECT_EQ(Open("a/e/c"), nullptr);
    // Not empty: refused without the recursive mode.
    m_storage->PutFile(u"a/d/x", "x");
    a->DeleteFolder(URL("a/d"), 0);
    EXPECT_EQ(List("a"), (Names{"d/", "f1"}));

    a->ReplaceFile(u"f1", u"g1");
    EXPECT_EQ(List("a"), (Names{"d/", "g1"}));
    EXPECT_TRUE(a->DeleteFile(u"g1"));
    Released<FIFolder> made(a->OpenSubFolder(u"new one", true));
    ASSERT_TRUE(made);
    FWideString tempName;
    Released<FIFile> temp(a->CreateTempFile(u"t", tempName));
    ASSERT_TRUE(temp);
    EXPECT_EQ(List("a"), (Names{"d/", "new one/", U8(tempName)}));
    m_storage->MoveToTrash(u"top");
    EXPECT_EQ(List(""), (Names{"a/", "ab/"}));
}

} // namespace
