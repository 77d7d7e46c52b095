#include "FBundleFolder.h"
#include "FBundleFile.h"
#include "FBundleWriter.h"
#include "FDelegatingFile.h"
#include "FException.h"
#include "FMemStorageClass.h"
#include "StorageClassRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

// Counts the container files that the archive classes hold open.
std::atomic<int> g_openFiles{0};

class CountingFile : public FDelegatingFile
{
public:
    explicit CountingFile(FIFile* inner) : FDelegatingFile(inner) { ++g_openFiles; }
    ~CountingFile() override { --g_openFiles; }
};

// Files of the "bundlecount" scheme are those of the memory class, counted.
class CountingStorage : public FMemStorageClass
{
public:
    CountingStorage() : FMemStorageClass(FWideString("bundlecount")) {}
    FIFile* OpenFile(const FWideString& path, int mode) override
    {
        FIFile* file = FMemStorageClass::OpenFile(path, mode);
        return file == nullptr ? nullptr : new CountingFile(file);
    }
};

CountingStorage& Storage()
{
    static CountingStorage* storage = [] {
        auto* made = new CountingStorage();
        RegisterStorageClass(FWideString("bundlecount"), made);
        return made;
    }();
    return *storage;
}

std::string Pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return bytes;
}

std::vector<unsigned char> Bytes(const std::string& text)
{
    return std::vector<unsigned char>(text.begin(), text.end());
}

std::string Archive(const std::vector<std::pair<std::string, std::string>>& members, std::string prefix = "")
{
    FBundleWriter writer;
    for (const auto& [name, data] : members)
        EXPECT_TRUE(writer.AddMember(name, Bytes(data)));
    std::vector<unsigned char> file(prefix.begin(), prefix.end());
    EXPECT_TRUE(writer.AppendTo(file));
    return std::string(file.begin(), file.end());
}

// Stores the bytes under a path of the test's own and gives its URL.
FWideString Put(const std::string& bytes)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    static std::atomic<int> serial{0};
    std::string path =
        std::string(info->test_suite_name()) + "_" + info->name() + "_" + std::to_string(++serial);
    Storage().PutFile(FWideString(path.c_str()), bytes);
    FWideString url("bundlecount://");
    url += path.c_str();
    return url;
}

struct ReleaseFolder {
    void operator()(FIFolder* folder) const { folder->Release(); }
};
struct ReleaseFile {
    void operator()(FIFile* file) const { file->Release(); }
};
using FolderPtr = std::unique_ptr<FIFolder, ReleaseFolder>;
using FilePtr = std::unique_ptr<FIFile, ReleaseFile>;

std::vector<std::string> List(FIFolder& folder)
{
    std::vector<FWideString> names;
    folder.ListFiles(names);
    std::vector<std::string> narrow;
    for (const FWideString& name : names)
        narrow.emplace_back(name.GetNarrow());
    return narrow;
}

std::string ReadAll(FIFile& file)
{
    std::string bytes(file.GetSize(), '\0');
    if (!bytes.empty())
        file.Read(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

std::string Trailer(uint64_t length)
{
    unsigned char trailer[kBundleTrailerSize];
    FBundleWriter::MakeTrailer(length, trailer);
    return std::string(reinterpret_cast<char*>(trailer), kBundleTrailerSize);
}

const std::string kA = Pattern(700, 1);
const std::string kB = "0123456789";

} // namespace

TEST(FBundleFolder, ExampleLayoutByteForByte)
{
    const std::string file = Archive({{"a.txt", kA}, {"b.xml", kB}});
    ASSERT_EQ(file.size(), 3086u);
    EXPECT_EQ(file.substr(0, 6), std::string("a.txt\0", 6));
    EXPECT_EQ(file.substr(124, 12), std::string("00000001274\0", 12));
    EXPECT_EQ(file.substr(512, 700), kA);
    EXPECT_EQ(file.substr(1212, 324), std::string(324, '\0'));
    EXPECT_EQ(file.substr(1536, 6), std::string("b.xml\0", 6));
    EXPECT_EQ(file.substr(1536 + 124, 12), std::string("00000000012\0", 12));
    EXPECT_EQ(file.substr(2048, 10), kB);
    EXPECT_EQ(file.substr(2560, 512), std::string(512, '\0'));
    EXPECT_EQ(file.substr(3072 + 4), "0000003086");

    FolderPtr folder(new FBundleFolder(Put(file)));
    EXPECT_EQ(List(*folder), (std::vector<std::string>{"a.txt", "b.xml"}));
    FilePtr b(folder->OpenFile(FWideString("b.xml"), kFileRead));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->GetSize(), 10u);
    EXPECT_EQ(ReadAll(*b), kB);
    FilePtr a(folder->OpenFile(FWideString("a.txt"), kFileRead));
    ASSERT_TRUE(a);
    EXPECT_EQ(ReadAll(*a), kA);
}

TEST(FBundleFolder, ArchiveAppendedToAnExecutable)
{
    struct Case {
        std::size_t prefixSize;
        std::size_t firstHeader;
    };
    for (const Case& c : {Case{4096, 4096}, Case{1000, 1024}}) {
        SCOPED_TRACE(c.prefixSize);
        const std::string file = Archive({{"a.txt", kA}, {"b.xml", kB}}, Pattern(c.prefixSize, 7));
        ASSERT_EQ(file.size(), c.firstHeader + 3086);
        EXPECT_EQ(file.substr(file.size() - 10), "0000003086");
        EXPECT_EQ(file.substr(c.firstHeader, 6), std::string("a.txt\0", 6));
        EXPECT_EQ(file.substr(c.firstHeader + 2048, 10), kB);

        FolderPtr folder(new FBundleFolder(Put(file)));
        EXPECT_EQ(List(*folder), (std::vector<std::string>{"a.txt", "b.xml"}));
        FilePtr b(folder->OpenFile(FWideString("b.xml"), kFileRead));
        ASSERT_TRUE(b);
        EXPECT_EQ(ReadAll(*b), kB);
    }
}

TEST(FBundleFolder, FilesWithoutAnArchiveHaveNoMembers)
{
    const std::string archive = Archive({{"a.txt", kA}});
    std::string longLength = archive;
    longLength.replace(longLength.size() - 10, 10, "0000099999");
    std::string zeroLength = archive;
    zeroLength.replace(zeroLength.size() - 10, 10, "0000000000");
    std::string letters = archive;
    letters.replace(letters.size() - 10, 10, "00000030x6");
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"shorter than a trailer", "0000003086"},
        {"length 0", zeroLength},
        {"length beyond the file", longLength},
        {"letters in the length", letters},
        {"plain text", "just some text, no archive at all\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FolderPtr folder(new FBundleFolder(Put(c.bytes)));
        EXPECT_TRUE(List(*folder).empty());
        EXPECT_FALSE(folder->Exists(FWideString("a.txt"), nullptr));
        EXPECT_EQ(folder->OpenFile(FWideString("a.txt"), kFileRead), nullptr);
    }
    FolderPtr missing(new FBundleFolder(FWideString("bundlecount://no such file")));
    EXPECT_TRUE(List(*missing).empty());
    EXPECT_FALSE(missing->Exists(FWideString("a.txt"), nullptr));
}

TEST(FBundleFolder, LookupIsCaseSensitiveAndUsesFullNames)
{
    const std::string file =
        Archive({{"ui.xml", "<A/>\r\n"}, {"skins/button.png", "png"}, {"skins/dark/knob.png", "knob"}});
    FolderPtr folder(new FBundleFolder(Put(file)));
    bool isFolder = true;
    EXPECT_TRUE(folder->Exists(FWideString("ui.xml"), &isFolder));
    EXPECT_FALSE(isFolder);
    EXPECT_FALSE(folder->Exists(FWideString("UI.XML"), nullptr));
    EXPECT_FALSE(folder->Exists(FWideString("button.png"), nullptr));
    EXPECT_TRUE(folder->Exists(FWideString("skins/button.png"), nullptr));

    FolderPtr skins(folder->OpenSubFolder(FWideString("skins"), false));
    ASSERT_TRUE(skins);
    EXPECT_EQ(List(*skins), (std::vector<std::string>{"button.png", "dark/knob.png"}));
    FilePtr button(skins->OpenFile(FWideString("button.png"), kFileRead));
    ASSERT_TRUE(button);
    EXPECT_EQ(ReadAll(*button), "png");
    FolderPtr dark(skins->OpenSubFolder(FWideString("dark"), false));
    EXPECT_TRUE(dark->Exists(FWideString("knob.png"), nullptr));
    EXPECT_FALSE(dark->Exists(FWideString("button.png"), nullptr));
}

TEST(FBundleFolder, ArchiveEndingInsideAHeaderThrowsEndOfFile)
{
    // The length points 100 bytes before the end: a header cannot be read in full there.
    const std::string file = std::string(486, 'x') + Trailer(100);
    const int before = g_openFiles.load();
    FolderPtr folder(new FBundleFolder(Put(file)));
    EXPECT_THROW(folder->Exists(FWideString("a.txt"), nullptr), FExceptionEOF);
    EXPECT_THROW(folder->OpenFile(FWideString("a.txt"), kFileRead), FExceptionEOF);
    std::vector<FWideString> names;
    EXPECT_THROW(folder->ListFiles(names), FExceptionEOF);
    // Nothing leaks on the way out: only the folder's own container is open.
    EXPECT_EQ(g_openFiles.load(), before + 1);
}

TEST(FBundleFolder, HostileHeadersEndTheWalk)
{
    const std::string good = Archive({{"first", "1"}, {"second", "22"}, {"third", "333"}});
    const std::size_t second = 1024;
    auto damaged = [&](auto change) {
        std::string bytes = good;
        change(bytes);
        return bytes;
    };
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> listed;
    };
    const Case cases[] = {
        {"name without NUL", damaged([&](std::string& b) { b.replace(second, 512, 512, 'N'); }), {"first"}},
        {"letter in the size", damaged([&](std::string& b) { b[second + 124 + 5] = 'x'; }), {"first"}},
        {"character below 0 in the size",
         damaged([&](std::string& b) { b[second + 124 + 5] = '/'; }),
         {"first"}},
        {"size reaching past the file",
         damaged([&](std::string& b) { b.replace(second + 124, 11, "77777777777"); }),
         {"first", "second"}},
        {"size with a blank instead of NUL",
         damaged([&](std::string& b) { b[second + 124 + 11] = ' '; }),
         {"first", "second", "third"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FolderPtr folder(new FBundleFolder(Put(c.bytes)));
        EXPECT_EQ(List(*folder), c.listed);
        EXPECT_FALSE(folder->Exists(FWideString("missing"), nullptr));
    }

    // A member whose size reaches past the file reads what there is, and no more.
    FolderPtr folder(new FBundleFolder(Put(cases[3].bytes)));
    FilePtr member(folder->OpenFile(FWideString("second"), kFileRead));
    ASSERT_TRUE(member);
    EXPECT_EQ(member->GetSize(), 077777777777u);
    char buffer[4096];
    const int got = member->ReadSome(buffer, sizeof buffer);
    EXPECT_EQ(static_cast<std::size_t>(got), good.size() - second - 512);
    EXPECT_EQ(member->ReadSome(buffer, sizeof buffer), 0);
    EXPECT_THROW(member->Read(buffer, 1), FExceptionEOF);
}

TEST(FBundleFolder, MemberReadsStopAtTheMemberEnd)
{
    const std::string file = Archive({{"lines", "one\r\ntwo\nthree\r"}, {"next", "\nafter"}});
    FolderPtr folder(new FBundleFolder(Put(file)));
    FilePtr lines(folder->OpenFile(FWideString("lines"), kFileRead));
    ASSERT_TRUE(lines);
    FWideString line;
    ASSERT_TRUE(lines->ReadLine(line));
    EXPECT_TRUE(line == "one\r\n");
    ASSERT_TRUE(lines->ReadLine(line));
    EXPECT_TRUE(line == "two\n");
    ASSERT_TRUE(lines->ReadLine(line));
    EXPECT_TRUE(line == "three\r");
    EXPECT_FALSE(lines->ReadLine(line));

    FilePtr next(folder->OpenFile(FWideString("next"), kFileRead));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->GetSize(), 6u);
    char buffer[16] = {};
    EXPECT_EQ(next->Read(buffer, 6), 6);
    EXPECT_EQ(std::string(buffer, 6), "\nafter");
    EXPECT_EQ(next->ReadSome(buffer, 16), 0);
    EXPECT_EQ(next->Tell(), 6u);
    EXPECT_THROW(next->Read(buffer, 1), FExceptionEOF);
    next->Seek(2);
    EXPECT_EQ(next->ReadSome(buffer, 16), 4);
    EXPECT_EQ(std::string(buffer, 4), "fter");
    next->Seek(100);
    EXPECT_EQ(next->ReadSome(buffer, 16), 0);
    EXPECT_FALSE(next->ReadLine(line));
}

TEST(FBundleFolder, MembersAreReadOnly)
{
    const std::string file = Archive({{"b.xml", kB}});
    const FWideString url = Put(file);
    FolderPtr folder(new FBundleFolder(url));
    FilePtr member(folder->OpenFile(FWideString("b.xml"), kFileWrite));
    ASSERT_TRUE(member);
    member->Write("XXXX", 4);
    member->SetSize(0);
    member->Flush();
    EXPECT_EQ(ReadAll(*member), kB);
    EXPECT_TRUE(member->GetURL() == url);
    FFileInfo info;
    member->GetInfo(info);
    EXPECT_EQ(info.m_iFlags & kFileAttrReadOnly, kFileAttrReadOnly);

    EXPECT_FALSE(folder->DeleteFile(FWideString("b.xml")));
    folder->Rename(FWideString("b.xml"), FWideString("c.xml"));
    EXPECT_TRUE(folder->GetURL() == url);
    EXPECT_TRUE(folder->IsReadOnly());
    int flags = kFileAttrHidden;
    EXPECT_TRUE(folder->GetAttributes(flags));
    EXPECT_EQ(flags, kFileAttrReadOnly);
    std::string stored;
    FWideString path;
    FindStorageClass(url, path);
    ASSERT_TRUE(Storage().GetFileBytes(path, stored));
    EXPECT_EQ(stored, file);
}

TEST(FBundleFolder, HandleOutlivesTheFolderUntilTheLastMember)
{
    const std::string file = Archive({{"a.txt", kA}, {"b.xml", kB}});
    const int before = g_openFiles.load();
    auto* folder = new FBundleFolder(Put(file));
    EXPECT_EQ(g_openFiles.load(), before + 1);
    EXPECT_TRUE(folder->Exists(FWideString("a.txt"), nullptr));
    EXPECT_EQ(List(*folder).size(), 2u);
    EXPECT_EQ(folder->OpenFile(FWideString("none"), kFileRead), nullptr);
    EXPECT_EQ(g_openFiles.load(), before + 1);

    FIFile* member = folder->OpenFile(FWideString("b.xml"), kFileRead);
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(g_openFiles.load(), before + 2);
    folder->Release();
    EXPECT_EQ(g_openFiles.load(), before + 2);
    EXPECT_EQ(ReadAll(*member), kB);
    member->Release();
    EXPECT_EQ(g_openFiles.load(), before);
}

TEST(FBundleFolder, MembersReleasedOnSeveralThreads)
{
    const std::string file = Archive({{"a.txt", kA}, {"b.xml", kB}});
    const int before = g_openFiles.load();
    auto* folder = new FBundleFolder(Put(file));
    std::vector<FIFile*> members;
    for (int i = 0; i < 8; ++i)
        members.push_back(folder->OpenFile(FWideString(i % 2 ? "a.txt" : "b.xml"), kFileRead));
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (FIFile* member : members) {
        threads.emplace_back([member, &good] {
            const std::string bytes = ReadAll(*member);
            good += bytes == kA || bytes == kB;
            member->Release();
        });
    }
    folder->Release();
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(good.load(), 8);
    EXPECT_EQ(g_openFiles.load(), before);
}

TEST(FBundleFolder, MemberCopiesOut)
{
    const std::string file = Archive({{"a.txt", kA}});
    FolderPtr folder(new FBundleFolder(Put(file)));
    auto* member = dynamic_cast<FBundleFile*>(folder->OpenFile(FWideString("a.txt"), kFileRead));
    ASSERT_NE(member, nullptr);
    FilePtr holder(member);
    int total = 0;
    ASSERT_TRUE(member->BeginCopy(FWideString("bundlecount://copied/a.txt"), &total, 256));
    EXPECT_EQ(total, 700);
    int copied = 0;
    while (int chunk = member->CopyChunk(256))
        copied += chunk;
    member->EndCopy();
    EXPECT_EQ(copied, 700);
    std::string bytes;
    ASSERT_TRUE(Storage().GetFileBytes(FWideString("copied/a.txt"), bytes));
    EXPECT_EQ(bytes, kA);
}

TEST(FBundleWriter, RefusesWhatTheFormatCannotHold)
{
    std::string reason;
    EXPECT_FALSE(FBundleWriter::CheckMember("", 1, &reason));
    EXPECT_FALSE(FBundleWriter::CheckMember(std::string(100, 'n'), 1, &reason));
    EXPECT_TRUE(FBundleWriter::CheckMember(std::string(99, 'n'), 1, &reason));
    EXPECT_FALSE(FBundleWriter::CheckMember(std::string("a\0b", 3), 1, &reason));
    EXPECT_FALSE(FBundleWriter::CheckMember("big", FBundleWriter::kMaxMemberSize + 1, &reason));
    EXPECT_FALSE(reason.empty());

    // The longest name still ends with its NUL inside the name field.
    const std::string file = Archive({{std::string(99, 'n'), "x"}});
    EXPECT_EQ(file[99], '\0');
    FolderPtr folder(new FBundleFolder(Put(file)));
    EXPECT_TRUE(folder->Exists(FWideString(std::string(99, 'n').c_str()), nullptr));
}
