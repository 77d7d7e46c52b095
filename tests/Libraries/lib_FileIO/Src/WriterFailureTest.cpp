// Every whole-file writer, with a failure injected at each of its writes and at
// its final flush: the exception reaches the caller, the previous file stays
// byte for byte, and no temporary file is left.
#include "FBribImageWriter.h"
#include "FException.h"
#include "FHasProperties.h"
#include "FJPEGLineWriter.h"
#include "FMemStorageClass.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FTiffLineWriter.h"
#include "JPEGTestUtil.h"
#include "StorageClassRegistry.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("writefail"));
    return *storage;
}

constexpr int kCols = 40;
constexpr int kRows = 30;

void Capture(FPropList& props)
{
    props.AddProp("CAMMANUF", "TALVO");
    props.AddProp("CAMMODEL", "TALVO MV3");
    props.AddProp("ISO", "400");
}

void SaveJPEG(const FWideString& url)
{
    jpegtest::Picture image(FPixmap::PIXEL_24_RGB, kCols, kRows);
    jpegtest::Picture thumb(FPixmap::PIXEL_24_RGB, 16, 12);
    const std::vector<uint8_t> profile(70000, 3); // two APP2 markers
    FPropList props(nullptr, "p");
    Capture(props);
    FJPEGLineWriter writer(url, 9, true);
    writer.SetDimensions(kCols, kRows, FPixmap::PIXEL_24_RGB);
    writer.WriteThumbnail(*thumb);
    writer.WriteTags(&props);
    writer.WriteProfile(unsigned(profile.size()), profile.data());
    for (int y = 0; y < kRows; ++y)
        writer.WriteLine(image.pixmap->GetRowAddress(y), FPixmap::PIXEL_24_RGB);
    writer.Finish();
}

void SaveJPEGImage(const FWideString& url)
{
    jpegtest::Picture image(FPixmap::PIXEL_8_MONO, kCols, kRows);
    FJPEGImageWriter writer(url, 5, false);
    writer.WriteImage(*image, FHasProperties());
}

void SaveTIFF(const FWideString& url, bool tagsAfterRows)
{
    jpegtest::Picture thumb(FPixmap::PIXEL_24_RGB, 16, 12);
    FPropList props(nullptr, "p");
    Capture(props);
    const std::vector<uint8_t> profile(3000, 5);
    std::vector<uint8_t> row(size_t(kCols) * 6, 0x42);
    FTiffLineWriter writer(url, true);
    // Narrow strips, so that rows go out in several writes.
    writer.SetDimensions(kCols, 600, FPixmap::PIXEL_48_RGB);
    writer.WriteThumbnail(*thumb);
    writer.WriteProfile(unsigned(profile.size()), profile.data());
    if (!tagsAfterRows)
        writer.WriteTags(&props);
    for (int y = 0; y < 600; ++y)
        writer.WriteLine(row.data(), FPixmap::PIXEL_48_RGB);
    if (tagsAfterRows)
        writer.WriteTags(&props);
    writer.Finish();
}

void SaveBrib(const FWideString& url)
{
    const std::pair<int, int> size(640, 480);
    FBribImageWriter writer(url.GetBuffer(), &size, false);
}

std::vector<std::string> FilesOf(const char* folderUrl)
{
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(FWideString(folderUrl), fileName, false);
    std::vector<FWideString> names;
    if (folder) {
        folder->ListFiles(names);
        folder->Release();
    }
    std::vector<std::string> narrow;
    for (const FWideString& name : names)
        narrow.push_back(name.GetNarrow());
    return narrow;
}

} // namespace

TEST(WriterFailure, EveryWriteAndTheFlushFailWithoutHarm)
{
    const struct {
        const char* name;
        std::function<void(const FWideString&)> save;
    } cases[] = {
        {"line.jpg", SaveJPEG},
        {"image.jpg", SaveJPEGImage},
        {"early.tif", [](const FWideString& url) { SaveTIFF(url, false); }},
        {"late.tif", [](const FWideString& url) { SaveTIFF(url, true); }},
        {"new.q7f", SaveBrib},
    };
    FMemStorageClass& storage = Storage();
    const std::string old = "the previous file, which must survive";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = std::string("writefail://") + c.name + "-dir";
        const FWideString path = FWideString((std::string(c.name) + "-dir/" + c.name).c_str());
        const FWideString url = FWideString((folder + "/" + c.name).c_str());
        storage.PutFile(path, old);
        storage.SetWriteFailure(-1);
        c.save(url);
        const int64_t writes = storage.GetWriteCount();
        ASSERT_GE(writes, 1);
        std::string saved;
        ASSERT_TRUE(storage.GetFileBytes(path, saved));
        EXPECT_NE(saved, old);

        for (int64_t fail = 0; fail <= writes; ++fail) {
            SCOPED_TRACE(fail);
            storage.PutFile(path, old);
            const bool atFlush = fail == writes;
            storage.SetWriteFailure(atFlush ? -1 : fail);
            storage.SetFlushFault(atFlush);
            EXPECT_THROW(c.save(url), FExceptionIO);
            storage.SetWriteFailure(-1);
            storage.SetFlushFault(false);
            std::string now;
            ASSERT_TRUE(storage.GetFileBytes(path, now));
            EXPECT_EQ(now, old);
            EXPECT_EQ(FilesOf(folder.c_str()), std::vector<std::string>{c.name});
        }
    }
}

// Protections that writing in place would meet still hold.
TEST(WriterFailure, ReadOnlyFilesAndFoldersAreNotReplaced)
{
    FMemStorageClass& storage = Storage();
    storage.PutFile(FWideString("ro/locked.jpg"), "locked");
    storage.MakeFolder(FWideString("ro/folder.jpg"));
    FFileInfo info;
    info.m_iFlags = kFileAttrReadOnly;
    SetFileAttributesURL(FWideString("writefail://ro/locked.jpg"), info);
    EXPECT_THROW(SaveJPEG(FWideString("writefail://ro/locked.jpg")), FExceptionFileOpen);
    EXPECT_THROW(SaveTIFF(FWideString("writefail://ro/folder.jpg"), false), FExceptionFileOpen);
    std::string bytes;
    ASSERT_TRUE(storage.GetFileBytes(FWideString("ro/locked.jpg"), bytes));
    EXPECT_EQ(bytes, "locked");
    EXPECT_EQ(FilesOf("writefail://ro"), std::vector<std::string>{"locked.jpg"});
}

// A caller that goes on after a failed step still cannot finish the file.
TEST(WriterFailure, IgnoredFailuresStillPreventFinishing)
{
    FMemStorageClass& storage = Storage();
    storage.PutFile(FWideString("ignored/a.jpg"), "old");
    storage.PutFile(FWideString("ignored/a.tif"), "old");
    jpegtest::Picture image(FPixmap::PIXEL_24_RGB, kCols, kRows);
    const std::vector<uint8_t> profile(70000, 3);
    {
        FJPEGLineWriter writer(FWideString("writefail://ignored/a.jpg"), 9, true);
        writer.SetDimensions(kCols, kRows, FPixmap::PIXEL_24_RGB);
        storage.SetWriteFailure(0);
        EXPECT_THROW(writer.WriteProfile(unsigned(profile.size()), profile.data()), FExceptionJPEG);
        storage.SetWriteFailure(-1);
        for (int y = 0; y < kRows; ++y) {
            try {
                writer.WriteLine(image.pixmap->GetRowAddress(y), FPixmap::PIXEL_24_RGB);
            } catch (const FException&) {
            }
        }
        EXPECT_THROW(writer.Finish(), FExceptionJPEG);
    }
    {
        std::vector<uint8_t> row(size_t(kCols) * 3, 1);
        FTiffLineWriter writer(FWideString("writefail://ignored/a.tif"), true);
        writer.SetDimensions(kCols, 2000, FPixmap::PIXEL_24_RGB);
        storage.SetWriteFailure(0);
        for (int y = 0; y < 2000; ++y) {
            try {
                writer.WriteLine(row.data(), FPixmap::PIXEL_24_RGB);
            } catch (const FException&) {
            }
        }
        storage.SetWriteFailure(-1);
        EXPECT_THROW(writer.Finish(), FExceptionIO);
    }
    {
        // Refused dimensions used to leave an emptied file behind.
        FJPEGLineWriter jpeg(FWideString("writefail://ignored/a.jpg"), 9, true);
        EXPECT_THROW(jpeg.SetDimensions(0, kRows, FPixmap::PIXEL_24_RGB), FExceptionJPEG);
        FTiffLineWriter tiff(FWideString("writefail://ignored/a.tif"), true);
        EXPECT_THROW(tiff.SetDimensions(kCols, 0, FPixmap::PIXEL_24_RGB), FExceptionFileWrite);
    }
    EXPECT_EQ(FilesOf("writefail://ignored"), (std::vector<std::string>{"a.jpg", "a.tif"}));
    for (const char* name : {"ignored/a.jpg", "ignored/a.tif"}) {
        std::string bytes;
        ASSERT_TRUE(storage.GetFileBytes(FWideString(name), bytes));
        EXPECT_EQ(bytes, "old");
    }
}
