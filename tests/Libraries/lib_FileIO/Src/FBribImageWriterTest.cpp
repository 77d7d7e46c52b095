#include "FBribImageWriter.h"

#include "BribFileBuilder.h"
#include "BribTestUtil.h"
#include "FBribImageReader.h"
#include "FCodePage.h"
#include "FMemStorageClass.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "RawTestFolder.h"
#include "StorageClassRegistry.h"

#include <bit>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace rawtest;

namespace
{

// A 2.2 file with sections behind the header, so that a stray write would show.
Bytes SampleFile(uint32_t version = kVersion22)
{
    BribFileBuilder file(version);
    BribHeader& h = file.GetHeader();
    h.columns = 640;
    h.rows = 480;
    h.rotation = 90;
    h.markBits = 0;
    h.SetLabel("A long daylight label");
    for (int slot = 0; slot < 32; ++slot)
        h.SetExtData(slot, uint8_t(slot % 11), float(slot) * 0.5f);
    for (size_t i = 0; i < 16; ++i)
        h.uniqueId[i] = uint8_t(0x30 + i);
    file.Top().AddProperties({{"ISO", "100"}});
    file.Top().AddCamfile(0, Bytes(300, 0x5A));
    return file.Build();
}

uint32_t SecondsNow()
{
    return uint32_t(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

} // namespace

TEST(FBribImageWriter, EachSetterChangesOnlyItsBytes)
{
    struct Case {
        const char* name;
        std::function<void(FBribImageWriter&)> apply;
        size_t offset;
        Bytes bytes;
    };
    const Case cases[] = {
        {"mark bits", [](FBribImageWriter& w) { w.SetMarkBits(1); }, 24, {1, 0, 0, 0}},
        {"rotation", [](FBribImageWriter& w) { w.SetRotation(0x01020304); }, 36, {4, 3, 2, 1}},
        {"slot 5 type", [](FBribImageWriter& w) { EXPECT_TRUE(w.SetExtDataType(5, 9)); }, 77, {9}},
        {"slot 0 value",
         [](FBribImageWriter& w) { EXPECT_TRUE(w.SetExtDataValue(0, 0xA1B2C3D4)); },
         104,
         {0xD4, 0xC3, 0xB2, 0xA1}},
        {"slot 31 value",
         [](FBribImageWriter& w) { EXPECT_TRUE(w.SetExtDataValue(31, 0x11223344)); },
         228,
         {0x44, 0x33, 0x22, 0x11}},
        {"31-character label",
         [](FBribImageWriter& w) { EXPECT_TRUE(w.SetWBLabel("0123456789012345678901234567890")); }, 40,
         Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3', '4', '5',
               '6', '7', '8', '9', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 0}},
        {"shorter label keeps the old tail",
         [](FBribImageWriter& w) { EXPECT_TRUE(w.SetWBLabel("Shade")); },
         40,
         {'S', 'h', 'a', 'd', 'e', 0}},
        {"32-character label is refused",
         [](FBribImageWriter& w) { EXPECT_FALSE(w.SetWBLabel("01234567890123456789012345678901")); },
         40,
         {}},
        {"slot 32 is refused",
         [](FBribImageWriter& w) {
             EXPECT_FALSE(w.SetExtDataType(32, 1));
             EXPECT_FALSE(w.SetExtDataValue(32, 1));
             EXPECT_FALSE(w.SetExtDataType(-1, 1));
             EXPECT_FALSE(w.SetExtDataType(0, 256));
         },
         0,
         {}},
    };
    RawTestFolder folder;
    const Bytes original = SampleFile();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FWideString url = folder.Write("w.q7f", original);
        {
            FBribImageWriter writer(url.GetBuffer(), nullptr, true);
            c.apply(writer);
        }
        Bytes expected = original;
        std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + std::ptrdiff_t(c.offset));
        EXPECT_EQ(folder.Read("w.q7f"), expected);
    }
}

TEST(FBribImageWriter, SettersAreSeenByGettersAndTheReader)
{
    RawTestFolder folder;
    const FWideString url = folder.Write("r.q7f", SampleFile());
    {
        FBribImageWriter writer(url.GetBuffer(), nullptr, true);
        EXPECT_EQ(writer.GetRotation(), 90u);
        EXPECT_EQ(writer.GetExtDataCount(), 32);
        EXPECT_EQ(writer.GetExtDataType(4), 4);
        writer.SetRotation(180);
        writer.SetMarkBits(1);
        EXPECT_TRUE(writer.SetWBLabel("Flash"));
        EXPECT_TRUE(writer.SetExtDataType(4, 10));
        EXPECT_TRUE(writer.SetExtDataValue(4, std::bit_cast<uint32_t>(0.7f)));
        EXPECT_EQ(writer.GetRotation(), 180u);
        EXPECT_EQ(writer.GetExtDataType(4), 10);
        EXPECT_EQ(writer.GetExtDataType(32), 0);
    }
    FBribImageReader reader(url.GetBuffer());
    EXPECT_EQ(reader.GetRotation(), 180u);
    EXPECT_EQ(reader.GetMarkBits(), 1u);
    EXPECT_STREQ(reader.GetWBLabel(), "Flash");
    EXPECT_EQ(reader.GetExtDataType(4), 10);
    EXPECT_EQ(reader.GetExtDataValue(4), std::bit_cast<uint32_t>(0.7f));
    EXPECT_EQ(reader.GetCamfileCount(), 1);
}

TEST(FBribImageWriter, VersionDecidesWhatMayBeWritten)
{
    RawTestFolder folder;
    for (uint32_t version : {kVersion20, kVersion10}) {
        SCOPED_TRACE(version);
        const Bytes original = SampleFile(version);
        const FWideString url = folder.Write("v.q7f", original);
        const bool extData = version != kVersion20;
        {
            FBribImageWriter writer(url.GetBuffer(), nullptr, true);
            EXPECT_EQ(writer.GetExtDataCount(), extData ? 32 : 0);
            EXPECT_EQ(writer.SetWBLabel("Tungsten"), extData);
            EXPECT_EQ(writer.SetExtDataType(1, 3), extData);
            EXPECT_EQ(writer.SetExtDataValue(1, 7), extData);
            writer.SetMarkBits(1);
        }
        const Bytes now = folder.Read("v.q7f");
        EXPECT_EQ(now[24], 1);
        EXPECT_EQ(now[40] == 'T', extData);
        EXPECT_EQ(now[73] == 3, extData);
    }
}

TEST(FBribImageWriter, RefusedFiles)
{
    RawTestFolder folder;
    const FWideString missing = folder.URL("missing.q7f");
    auto thrown = Thrown([&] { FBribImageWriter w(missing.GetBuffer(), nullptr, true); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionBribWriter>());
    EXPECT_EQ(thrown.message, "Error openning file for write.");
    EXPECT_FALSE(folder.Exists("missing.q7f"));

    const FWideString v3 = folder.Write("v3.q7f", SampleFile(kVersion30));
    thrown = Thrown([&] { FBribImageWriter w(v3.GetBuffer(), nullptr, true); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionBribIncompatible>());
    EXPECT_EQ(thrown.message, v3.GetNarrow());

    Bytes other = SampleFile();
    PatchU32(other, 4, 0x00010000);
    const FWideString oldVersion = folder.Write("old.q7f", other);
    thrown = Thrown([&] { FBribImageWriter w(oldVersion.GetBuffer(), nullptr, true); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionBribIncompatible>());

    other = SampleFile();
    PatchCode(other, 0, "JFIF");
    const FWideString notBrib = folder.Write("jpeg.q7f", other);
    thrown = Thrown([&] { FBribImageWriter w(notBrib.GetBuffer(), nullptr, true); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionNotABrib>());
    EXPECT_EQ(thrown.message, notBrib.GetNarrow());

    Bytes shortFile = SampleFile();
    shortFile.resize(231);
    const FWideString shortUrl = folder.Write("short.q7f", shortFile);
    EXPECT_EQ(Thrown([&] { FBribImageWriter w(shortUrl.GetBuffer(), nullptr, true); }).type,
              TypeName<FExceptionEOF>());

    // Refused files are left exactly as they were.
    EXPECT_EQ(folder.Read("v3.q7f"), SampleFile(kVersion30));
    EXPECT_EQ(folder.Read("short.q7f"), shortFile);
}

TEST(FBribImageWriter, CreatesAFreshHeader)
{
    RawTestFolder folder;
    folder.Write("new.q7f", Bytes(1000, 0xFF)); // emptied first
    const FWideString url = folder.URL("new.q7f");
    const std::pair<int, int> size(1536, 1024);
    const uint32_t before = SecondsNow();
    {
        FBribImageWriter writer(url.GetBuffer(), &size, false);
        EXPECT_EQ(writer.GetExtDataCount(), 32);
        EXPECT_TRUE(writer.SetWBLabel("Auto"));
    }
    const uint32_t after = SecondsNow();
    const Bytes bytes = folder.Read("new.q7f");
    ASSERT_EQ(bytes.size(), 232u);
    EXPECT_EQ(LoadU32(bytes, 0), FourCC("BRIb"));
    EXPECT_EQ(LoadU32(bytes, 4), 0x00020002u);
    EXPECT_EQ(LoadU32(bytes, 28), 1536u);
    EXPECT_EQ(LoadU32(bytes, 32), 1024u);
    // Each id word is two of the URL's last eight units plus the time of its making.
    const char16_t* text = url.GetBuffer() + url.GetLength() - 8;
    for (int word = 0; word < 4; ++word) {
        const uint32_t units = uint32_t(text[2 * word]) | uint32_t(text[2 * word + 1]) << 16;
        const uint32_t time = LoadU32(bytes, 8 + 4 * size_t(word)) - units;
        EXPECT_GE(time, before) << word;
        EXPECT_LE(time, after) << word;
    }
    EXPECT_EQ(bytes[40], 'A');
    EXPECT_EQ(std::count(bytes.begin() + 45, bytes.end(), 0), 232 - 45);
}

// An update interrupted at any write, whether the writer could still undo it
// itself or not (the storage failing for good, as when the process dies),
// leaves every field old or new once the file is opened again.
TEST(FBribImageWriter, InterruptedUpdatesLeaveEachFieldOldOrNew)
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("rawundo"));
    const FWideString path("f/u.q7f");
    const FWideString url("rawundo://f/u.q7f");
    const Bytes original = SampleFile();
    auto update = [&] {
        FBribImageWriter writer(url.GetBuffer(), nullptr, true);
        writer.SetRotation(270);
        writer.SetMarkBits(1);
        EXPECT_TRUE(writer.SetWBLabel("Cloudy"));
        EXPECT_TRUE(writer.SetExtDataType(3, 7));
        EXPECT_TRUE(writer.SetExtDataValue(3, 0xDEADBEEF));
    };
    auto bytesNow = [&] {
        std::string bytes;
        storage->GetFileBytes(path, bytes);
        return Bytes(bytes.begin(), bytes.end());
    };
    storage->PutFile(path, std::string(original.begin(), original.end()));
    storage->SetWriteFailure(-1);
    update();
    const int64_t writes = storage->GetWriteCount();
    const Bytes updated = bytesNow();
    const std::pair<size_t, size_t> fields[] = {{24, 4}, {36, 4}, {40, 7}, {75, 1}, {116, 4}};

    for (bool lasting : {false, true}) {
        for (int64_t fail = 0; fail <= writes; ++fail) {
            SCOPED_TRACE(std::to_string(fail) + (lasting ? " lasting" : " once"));
            const bool atFlush = fail == writes;
            storage->PutFile(path, std::string(original.begin(), original.end()));
            storage->SetWriteFailure(atFlush ? -1 : fail, lasting);
            storage->SetFlushFault(atFlush);
            EXPECT_THROW(update(), FExceptionFileWrite);
            storage->SetWriteFailure(-1);
            storage->SetFlushFault(false);
            {
                FBribImageReader reopened(url.GetBuffer());
            }
            const Bytes now = bytesNow();
            ASSERT_EQ(now.size(), original.size());
            Bytes rest = now;
            for (const auto& [offset, size] : fields) {
                const Bytes field(now.begin() + std::ptrdiff_t(offset),
                                  now.begin() + std::ptrdiff_t(offset + size));
                const Bytes before(original.begin() + std::ptrdiff_t(offset),
                                   original.begin() + std::ptrdiff_t(offset + size));
                const Bytes after(updated.begin() + std::ptrdiff_t(offset),
                                  updated.begin() + std::ptrdiff_t(offset + size));
                EXPECT_TRUE(field == before || field == after) << "field at " << offset;
                std::copy(before.begin(), before.end(), rest.begin() + std::ptrdiff_t(offset));
            }
            EXPECT_EQ(rest, original);
            bool isFolder = false;
            EXPECT_FALSE(ExistsURL(BribUndoURL(url), isFolder));
        }
    }
}

namespace
{

// The file with the record of a rotation to 0 left beside it: the record is
// written (write 0), the field is not (write 1 on), and the writer cannot undo.
void LeaveUndoRecord(FMemStorageClass& storage, const FWideString& path, const FWideString& url,
                     const Bytes& original)
{
    storage.PutFile(path, std::string(original.begin(), original.end()));
    storage.SetWriteFailure(1, true);
    {
        FBribImageWriter writer(url.GetBuffer(), nullptr, true);
        EXPECT_THROW(writer.SetRotation(0), FExceptionFileWrite);
    }
    storage.SetWriteFailure(-1);
}

} // namespace

// A record left for one file is never applied to another that took its name.
TEST(FBribImageWriter, UndoRecordOfAnotherFileIsDropped)
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("rawundo2"));
    const FWideString path("f/u.q7f");
    const FWideString url("rawundo2://f/u.q7f");
    const Bytes original = SampleFile();
    LeaveUndoRecord(*storage, path, url, original);
    bool isFolder = false;
    ASSERT_TRUE(ExistsURL(BribUndoURL(url), isFolder));

    Bytes other = SampleFile();
    other[8] ^= 0xFF; // another unique id
    PatchU32(other, 36, 123);
    storage->PutFile(path, std::string(other.begin(), other.end()));
    EXPECT_TRUE(RecoverBribHeaderUpdate(url));
    EXPECT_FALSE(ExistsURL(BribUndoURL(url), isFolder));
    std::string now;
    ASSERT_TRUE(storage->GetFileBytes(path, now));
    EXPECT_EQ(Bytes(now.begin(), now.end()), other);
}

// Names up to the file system's 255-byte limit are written like any other, and
// leave nothing beside the file.
TEST(FBribImageWriter, NamesAtTheLengthLimitAreWritten)
{
    FWideString unused;
    if (FindStorageClass(FWideString("disk"), unused) == nullptr)
        RegisterDiskStorageClass();
    FScopedTempFolder temp;
    FWideString folderURL;
    ASSERT_TRUE(NativePathToURL(WideFromUtf8(temp.GetPath()), folderURL));
    const Bytes original = SampleFile();
    // 255 bytes in UTF-8 but fewer units: "\u65e5" takes three bytes.
    const std::string wide = std::string(3, 'w') + "\u65e5\u65e5" + std::string(242, 'x') + ".q7f";
    for (const std::string& name :
         {std::string(251 - 4, 'a') + ".q7f", std::string(255 - 4, 'b') + ".q7f", wide}) {
        SCOPED_TRACE(name.size());
        ASSERT_TRUE(temp.WriteFile(name, std::string(original.begin(), original.end())));
        FWideString escaped;
        EscapeURLChars(WideFromUtf8(name), escaped);
        FWideString url = folderURL;
        url += "/";
        url += escaped;
        {
            FBribImageWriter writer(url.GetBuffer(), nullptr, true);
            writer.SetMarkBits(1);
            writer.SetRotation(180);
            EXPECT_TRUE(writer.SetExtDataValue(2, 0x3F800000));
        }
        FBribImageReader reader(url.GetBuffer());
        EXPECT_EQ(reader.GetMarkBits(), 1u);
        EXPECT_EQ(reader.GetRotation(), 180u);
        std::string bytes;
        ASSERT_TRUE(temp.ReadFile(name, bytes));
        EXPECT_EQ(bytes.size(), original.size());
        FWideString fileName;
        FIFolder* folder = OpenFolderURL(folderURL, fileName, false);
        ASSERT_NE(folder, nullptr);
        std::vector<FWideString> names;
        folder->ListFiles(names);
        folder->Release();
        EXPECT_EQ(names.size(), 1u);
        std::remove(temp.Join(name).c_str());
    }
}

// A record an older build left under "<name>.undo" is still rolled back.
TEST(FBribImageWriter, RecordUnderTheOlderNameIsRolledBack)
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("rawundo3"));
    const FWideString path("f/u.q7f");
    const FWideString url("rawundo3://f/u.q7f");
    const Bytes original = SampleFile();
    LeaveUndoRecord(*storage, path, url, original);
    std::string record;
    const std::string recordPath = Utf8FromWide(BribUndoURL(url)).substr(std::string("rawundo3://").size());
    ASSERT_TRUE(storage->GetFileBytes(FWideString(recordPath.c_str()), record));
    DeleteFileURL(BribUndoURL(url));
    storage->PutFile(FWideString("f/u.q7f.undo"), record);
    Bytes torn = original;
    PatchU32(torn, 36, 0); // the rotation as the interrupted update left it
    storage->PutFile(path, std::string(torn.begin(), torn.end()));

    {
        FBribImageReader reader(url.GetBuffer());
        EXPECT_EQ(reader.GetRotation(), 90u);
    }
    bool isFolder = false;
    EXPECT_FALSE(ExistsURL(BribLegacyUndoURL(url), isFolder));
    std::string now;
    ASSERT_TRUE(storage->GetFileBytes(path, now));
    EXPECT_EQ(Bytes(now.begin(), now.end()), original);
}
