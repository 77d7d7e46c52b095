#include "FCopyableFile.h"
#include "FException.h"
#include "FScopedTempFolder.h"
#include "StorageClassRegistry.h"
#include "StorageTestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace
{

class DiskFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureDiskRegistered();
        FWideString url;
        ASSERT_TRUE(NativePathToURL(W(m_temp.GetPath()), url));
        FWideString ignored;
        m_folder = OpenFolderURL(url, ignored, false);
        ASSERT_NE(m_folder, nullptr);
    }
    void TearDown() override
    {
        if (m_folder)
            m_folder->Release();
    }

    std::string Contents(const std::string& name)
    {
        std::string bytes;
        EXPECT_TRUE(m_temp.ReadFile(name, bytes)) << name;
        return bytes;
    }

    FIFile* Open(const std::string& name, int mode) { return m_folder->OpenFile(W(name), mode); }

    std::vector<std::string> Lines(const std::string& bytes)
    {
        EXPECT_TRUE(m_temp.WriteFile("lines", bytes));
        Released<FIFile> file(Open("lines", kFileRead));
        std::vector<std::string> lines;
        FWideString line;
        while (file->ReadLine(line)) {
            std::string units;
            for (int i = 0; i < line.GetLength(); ++i) {
                char16_t u = line.GetBuffer()[i];
                units += u < 0x80 ? std::string(1, static_cast<char>(u)) : "<" + std::to_string(u) + ">";
            }
            lines.push_back(units);
        }
        return lines;
    }

    FScopedTempFolder m_temp;
    FIFolder* m_folder = nullptr;
};

TEST_F(DiskFile, OpenModes)
{
    EXPECT_EQ(Open("missing", kFileRead), nullptr);

    {
        Released<FIFile> created(Open("new", kFileWrite));
        ASSERT_TRUE(created);
        created->Write("hello", 5);
    }
    EXPECT_EQ(Contents("new"), "hello");
    {
        // Write alone truncates.
        Released<FIFile> truncated(Open("new", kFileWrite));
        ASSERT_TRUE(truncated);
        EXPECT_EQ(truncated->GetSize(), 0u);
        truncated->Write("ab", 2);
    }
    EXPECT_EQ(Contents("new"), "ab");
    {
        // Read and write, appending: the first write lands after the old end,
        // and a seek still moves the writing position.
        Released<FIFile> appended(Open("new", kFileRead | kFileWrite | kFileAppend));
        ASSERT_TRUE(appended);
        EXPECT_EQ(appended->Tell(), 2u);
        appended->Write("cd", 2);
        appended->Seek(0);
        appended->Write("X", 1);
        char buffer[8] = {};
        appended->Seek(0);
        EXPECT_EQ(appended->ReadSome(buffer, 8), 4);
        EXPECT_EQ(std::string(buffer, 4), "Xbcd");
    }
    {
        Released<FIFile> created(Open("appendnew", kFileWrite | kFileAppend));
        ASSERT_TRUE(created);
        EXPECT_EQ(created->GetSize(), 0u);
    }
    EXPECT_EQ(Contents("appendnew"), "");
}

TEST_F(DiskFile, OnlyRegularFilesOpen)
{
    ASSERT_EQ(mkdir(m_temp.Join("dir").c_str(), 0755), 0);
    EXPECT_EQ(Open("dir", kFileRead), nullptr);
    EXPECT_EQ(Open("dir", kFileWrite), nullptr);
    // Opening a FIFO to read would block for ever.
    ASSERT_EQ(mkfifo(m_temp.Join("fifo").c_str(), 0644), 0);
    EXPECT_EQ(Open("fifo", kFileRead), nullptr);
    EXPECT_EQ(Open("fifo", kFileWrite), nullptr);
    EXPECT_EQ(m_folder->OpenFile(u"a/b", kFileWrite), nullptr);
    EXPECT_EQ(m_folder->OpenFile(u"", kFileWrite), nullptr);
}

TEST_F(DiskFile, ReadsAndSizes)
{
    ASSERT_TRUE(m_temp.WriteFile("data", "0123456789"));
    Released<FIFile> file(Open("data", kFileRead | kFileWrite | kFileAppend));
    ASSERT_TRUE(file);
    char buffer[16];
    file->Seek(6);
    EXPECT_THROW(file->Read(buffer, 10), FExceptionEOF);
    file->Seek(6);
    EXPECT_EQ(file->ReadSome(buffer, 10), 4);
    EXPECT_EQ(file->ReadSome(buffer, 10), 0);
    file->Seek(2);
    EXPECT_EQ(file->Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "234");

    // A smaller size keeps the position, even beyond the new end.
    file->Seek(8);
    file->SetSize(4);
    EXPECT_EQ(file->Tell(), 8u);
    EXPECT_EQ(file->GetSize(), 4u);
    file->SetSize(6);
    EXPECT_EQ(file->GetSize(), 6u);
    file->Flush();
    EXPECT_EQ(Contents("data"), std::string("0123\0\0", 6));
}

TEST_F(DiskFile, ReadLineInByteMode)
{
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case kCases[] = {
        {"a\r\nb", {"a\r\n", "b"}},
        {"a\rb", {"a\r", "b"}},
        {"a\r", {"a\r"}},
        {"a\n\nb\n", {"a\n", "\n", "b\n"}},
        {"", {}},
        // A NUL byte is dropped and a backspace removes the unit before it.
        {std::string("ab\0c\x08"
                     "d\n",
                     7),
         {"abd\n"}},
        // Bytes widen as signed values.
        {"caf\xE9", {"caf<65513>"}},
        {"x\r\r\n", {"x\r", "\r\n"}},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(Lines(c.bytes), c.lines) << c.bytes;
}

TEST_F(DiskFile, ReadLineInUtf16Modes)
{
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case kCases[] = {
        {std::string("\xFF\xFE"
                     "a\0\r\0\n\0b\0",
                     10),
         {"a\r\n", "b"}},
        {std::string("\xFE\xFF\0a\0\r\0b", 8), {"a\r", "b"}},
        {std::string("\xFE\xFF\x20\xAC\0\n", 6), {"<8364>\n"}},
        // A final odd byte is ignored; a mark alone holds no line.
        {std::string("\xFF\xFE"
                     "a\0b",
                     5),
         {"a"}},
        {std::string("\xFF\xFE", 2), {}},
        {std::string("\xFF\xFE\x08\0", 4), {}},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(Lines(c.bytes), c.lines);
}

TEST_F(DiskFile, ReadLineAfterSeekSkipsTheMark)
{
    ASSERT_TRUE(m_temp.WriteFile("u16", std::string("\xFF\xFE"
                                                    "z\0\n\0",
                                                    6)));
    Released<FIFile> file(Open("u16", kFileRead));
    file->Seek(1);
    FWideString line;
    ASSERT_TRUE(file->ReadLine(line));
    EXPECT_EQ(U8(line), "z\n");
}

TEST_F(DiskFile, ReadLineLeavesThePositionRightAfterTheLine)
{
    // Lines longer than any read-ahead, and a CR LF pair split across reads.
    const std::string first = std::string(511, 'x') + "\r";
    const std::string second = std::string(1500, 'y') + "\r";
    ASSERT_TRUE(m_temp.WriteFile("long", first + "\n" + second + "z"));
    Released<FIFile> file(Open("long", kFileRead));
    FWideString line;
    ASSERT_TRUE(file->ReadLine(line));
    EXPECT_EQ(line.GetLength(), 513);
    EXPECT_EQ(file->Tell(), 513u);
    ASSERT_TRUE(file->ReadLine(line));
    EXPECT_EQ(line.GetLength(), 1501);
    EXPECT_EQ(file->Tell(), 513u + 1501u);
    char rest = 0;
    EXPECT_EQ(file->ReadSome(&rest, 1), 1);
    EXPECT_EQ(rest, 'z');
    EXPECT_FALSE(file->ReadLine(line));
    EXPECT_EQ(file->Tell(), 513u + 1502u);
}

// The read-ahead never outlives a write, by this object or another open on the file.
TEST_F(DiskFile, ReadLineSeesWritesMadeAfterItsReadAhead)
{
    ASSERT_TRUE(m_temp.WriteFile("shared", "one\ntwo\nsix\n"));
    Released<FIFile> reader(Open("shared", kFileRead));
    Released<FIFile> writer(Open("shared", kFileRead | kFileWrite | kFileAppend));
    FWideString line;
    ASSERT_TRUE(reader->ReadLine(line));
    writer->Seek(4);
    writer->Write("TWO", 3);
    ASSERT_TRUE(reader->ReadLine(line));
    EXPECT_EQ(U8(line), "TWO\n");
    writer->SetSize(8);
    EXPECT_FALSE(reader->ReadLine(line));
    // And the file's name opened again is the same file.
    Released<FIFile> again(Open("shared", kFileRead | kFileWrite | kFileAppend));
    reader->Seek(0);
    ASSERT_TRUE(reader->ReadLine(line));
    again->Seek(0);
    again->Write("ONE", 3);
    reader->Seek(0);
    ASSERT_TRUE(reader->ReadLine(line));
    EXPECT_EQ(U8(line), "ONE\n");
}

TEST_F(DiskFile, TimesAndReadOnlyAttribute)
{
    ASSERT_TRUE(m_temp.WriteFile("timed", "x"));
    struct timeval times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(utimes(m_temp.Join("timed").c_str(), times), 0);

    FWideString url;
    ASSERT_TRUE(NativePathToURL(W(m_temp.Join("timed")), url));
    FFileInfo info;
    info.m_iFlags = kFileAttrReadOnly | 8;
    GetFileInfoURL(url, info);
    EXPECT_EQ(info.m_iModified, 1234567890);
    EXPECT_EQ(info.m_iAccessed, 1000000000);
    EXPECT_GT(info.m_iCreated, 0);
    EXPECT_EQ(info.m_iFlags, 8); // other bits stay

    info.m_iFlags = kFileAttrReadOnly;
    SetFileAttributesURL(url, info);
    struct stat st;
    ASSERT_EQ(stat(m_temp.Join("timed").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    FFileInfo read;
    GetFileInfoURL(url, read);
    EXPECT_EQ(read.m_iFlags, kFileAttrReadOnly);

    info.m_iFlags = 0;
    SetFileAttributesURL(url, info);
    ASSERT_EQ(stat(m_temp.Join("timed").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);

    // Times beyond 2038 are not wrapped.
    struct timeval late[2] = {{4102444800, 0}, {4102444800, 0}};
    ASSERT_EQ(utimes(m_temp.Join("timed").c_str(), late), 0);
    GetFileInfoURL(url, read);
    EXPECT_EQ(read.m_iModified, 4102444800);
}

TEST_F(DiskFile, ReadOnlyFileRefusesWritingUnlessRoot)
{
    SKIP_IF_ROOT();
    ASSERT_TRUE(m_temp.WriteFile("ro", "x"));
    ASSERT_EQ(chmod(m_temp.Join("ro").c_str(), 0444), 0);
    EXPECT_EQ(Open("ro", kFileWrite), nullptr);
    Released<FIFile> reading(Open("ro", kFileRead));
    EXPECT_TRUE(reading);
}

// A write beyond the file-size limit fails with EFBIG; the child process of the
// death test carries the limit, so that the test process is untouched.
int WriteBeyondLimit(FIFile* file)
{
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string block(8192, 'x');
    int reported = 0;
    try {
        file->Write(block.data(), static_cast<int>(block.size()));
    } catch (const FExceptionFileWrite&) {
        reported |= 1;
    }
    try {
        file->SetSize(1 << 20);
    } catch (const FExceptionFileWrite&) {
        reported |= 2;
    }
    return reported == 3 ? 0 : 10 + reported;
}

TEST_F(DiskFile, WriteAndSizeFailuresAreReported)
{
    Released<FIFile> file(Open("limited", kFileWrite));
    ASSERT_TRUE(file);
    EXPECT_EXIT(exit(WriteBeyondLimit(file.p)), ::testing::ExitedWithCode(0), "");
}

TEST_F(DiskFile, CopyToAnotherFolderInChunks)
{
    const size_t kSizes[] = {0, 1, 4095, 4096, 4097, 100000};
    for (size_t size : kSizes) {
        std::string bytes;
        for (size_t i = 0; i < size; ++i)
            bytes += static_cast<char>(i * 7 + size);
        ASSERT_TRUE(m_temp.WriteFile("src", bytes));
        FWideString dest;
        ASSERT_TRUE(NativePathToURL(W(m_temp.Join("deep/er/c#py")), dest));

        Released<FIFile> file(Open("src", kFileRead));
        auto* copyable = dynamic_cast<FCopyableFile*>(file.p);
        ASSERT_NE(copyable, nullptr);
        int total = -1;
        ASSERT_TRUE(copyable->BeginCopy(dest, &total, 0));
        EXPECT_EQ(total, static_cast<int>(size));
        int again = -1;
        EXPECT_THROW(copyable->BeginCopy(dest, &again, 0), FException);
        int remaining = total;
        while (remaining > 0) {
            // Asking for more than the chunk is cut to the chunk.
            int got = copyable->CopyChunk(1 << 20);
            ASSERT_GT(got, 0);
            ASSERT_LE(got, 4096);
            remaining -= got;
        }
        copyable->EndCopy();
        std::string copied = Contents("deep/er/c#py");
        EXPECT_EQ(copied.size(), size);
        EXPECT_TRUE(copied == bytes) << size;
    }
}

} // namespace
