#include "FBribImageReader.h"

#include "BribFileBuilder.h"
#include "BribReaderExercise.h"
#include "BribTestUtil.h"
#include "FBribImageWriter.h"
#include "RawTestFolder.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

using namespace rawtest;

namespace
{

// Malformed files must end in an exception of the reader (or an end-of-file
// read of the storage class), never in a crash or a silent success.
ThrownException Exercise(const FWideString& url)
{
    try {
        ExerciseBribReader(url);
    } catch (const FExceptionBribReader& e) {
        return {"reader", e.GetMessage()};
    } catch (const FExceptionEOF& e) {
        return {"eof", e.GetMessage()};
    } catch (const FException& e) {
        return {std::string("other: ") + e.GetDescription(), e.GetMessage()};
    }
    return {"nothing", ""};
}

BribFileBuilder RichFile(uint32_t version)
{
    BribFileBuilder file(version);
    file.GetHeader().columns = 32;
    file.GetHeader().rows = 16;
    file.GetHeader().SetLabel("Daylight");
    BribDirectory& nested = file.Top().AddDirectory(IsV3(version) ? kVersion22 : kVersion30);
    nested.AddProperties({{"CAMMANUF", "Maker"}, {"ISO", "100"}}, kVersion10);
    nested.AddCamfile(2, Bytes(64, 0x42));
    file.Top().AddProperties({{"TIME", "1196763630"}});
    file.Top().AddCamfile(1, Bytes(40, 0x17), version);
    ImageSection image;
    image.pixelFormat = 3;
    image.columns = 4;
    image.rows = 2;
    image.rowSize = 12;
    image.payload.assign(24, 0x33);
    file.Top().AddImage(image, true);
    file.Top().AddSection("JUNK", Bytes(8, 0));
    return file;
}

} // namespace

TEST(BribRobustness, EveryTruncationIsRefused)
{
    for (uint32_t version : {kVersion22, kVersion35}) {
        const Bytes whole = RichFile(version).Build();
        ASSERT_EQ(Exercise(PutMemoryFile("whole.q7f", whole)).type, "nothing");
        for (size_t length = 0; length < whole.size(); ++length) {
            const Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(length));
            // A cut may leave a trailer that happens to point at a nested
            // directory: a smaller valid file. Anything else must be refused.
            const ThrownException thrown = Exercise(PutMemoryFile("cut.q7f", cut));
            EXPECT_TRUE(thrown.type == "reader" || thrown.type == "eof" || thrown.type == "nothing")
                << length << " " << thrown.type << " " << thrown.message;
        }
    }
}

TEST(BribRobustness, MalformedStructures)
{
    struct Case {
        const char* name;
        std::function<void(BribFileBuilder&)> change;
        const char* message; // null: any reader or end-of-file exception
        // Applied to the built bytes, for sizes the builder would otherwise lay out.
        std::function<void(BribFileBuilder&, Bytes&)> patch = nullptr;
    };
    const Case cases[] = {
        {"top directory past the end (v2)", [](BribFileBuilder& f) { f.trailerOffset = 0xFFFFFFF0u; },
         nullptr},
        {"top directory past the end (v3 high word)",
         [](BribFileBuilder& f) { f.trailerOffset = 1ull << 40; }, nullptr},
        {"directory entry offset past the end",
         [](BribFileBuilder& f) {
             f.Top().AddProperties({{"A", "1"}}).offset = 0xFFFFFF00u;
         },
         nullptr},
        {"directory entry length past the end",
         [](BribFileBuilder& f) { f.Top().AddCamfile(0, Bytes(10, 1)).length = 0xFFFFFFFFu; },
         "Section runs past the end of the file."},
        {"image length past the end",
         [](BribFileBuilder& f) {
             ImageSection image;
             image.payload.assign(12, 0);
             f.Top().AddImage(image).length = 0x10000000u;
         },
         "Section runs past the end of the file."},
        {"huge v2 directory count", [](BribFileBuilder& f) { f.Top().count = 0xFFFFFFFFu; },
         "Directory entries run past the end of the file."},
        {"huge v3 directory count",
         [](BribFileBuilder& f) {
             f.Top().version = kVersion30;
             f.Top().count = 0x7FFFFFFFu;
         },
         "Directory entries run past the end of the file."},
        {"v3 entry size 0",
         [](BribFileBuilder& f) {
             f.Top().version = kVersion30;
             f.Top().AddProperties({{"A", "1"}}).entrySize = 0;
         },
         "Directory entry size is too small."},
        {"v3 head size 0",
         [](BribFileBuilder& f) {
             f.Top().version = kVersion30;
             f.Top().headSize = 0;
         },
         "Directory head size is too small."},
        {"v3 head size past the end", [](BribFileBuilder& f) { f.Top().version = kVersion30; },
         "Directory entries run past the end of the file.",
         [](BribFileBuilder& f, Bytes& bytes) {
             PatchU32(bytes, size_t(f.Top().placedOffset) + 8, 0xFFFFFFF0u);
         }},
        {"directory that lists itself", [](BribFileBuilder& f) { f.Top().AddLink(f.Top()); },
         "A directory section leads back to itself."},
        {"nested directory that leads back to the top",
         [](BribFileBuilder& f) {
             BribDirectory& a = f.Top().AddDirectory();
             a.AddDirectory(kVersion30).AddLink(f.Top());
         },
         "A directory section leads back to itself."},
        {"deep chain of directories",
         [](BribFileBuilder& f) {
             BribDirectory* d = &f.Top();
             for (int i = 0; i < 200; ++i)
                 d = &d->AddDirectory();
         },
         "Directory sections are nested too deeply."},
        {"directories that multiply",
         [](BribFileBuilder& f) {
             BribDirectory* d = &f.Top();
             for (int i = 0; i < 24; ++i) {
                 BribDirectory& next = d->AddDirectory();
                 d->AddLink(next);
                 d = &next;
             }
         },
         "Too many directory entries."},
        {"property pool overrun",
         [](BribFileBuilder& f) {
             PropertySection s;
             s.pairs = {{"LONGNAME", "LONGVALUE"}};
             s.poolUnits = 3;
             f.Top().AddProperties(s);
         },
         "Property entry lies outside the string pool."},
        {"property table past the end",
         [](BribFileBuilder& f) {
             PropertySection s;
             s.pairs = {{"A", "B"}};
             s.count = 0x20000000;
             f.Top().AddProperties(s);
         },
         "Property list runs past the end of the file."},
        {"directory magic", [](BribFileBuilder& f) { f.Top().magic = FourCC("SECD"); },
         "Expected a directory section but got something else."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BribFileBuilder file;
        c.change(file);
        Bytes bytes = file.Build();
        if (c.patch)
            c.patch(file, bytes);
        const ThrownException thrown = Exercise(PutMemoryFile("bad.q7f", bytes));
        if (!c.message) {
            EXPECT_TRUE(thrown.type == "reader" || thrown.type == "eof") << thrown.type;
            continue;
        }
        EXPECT_EQ(thrown.type, "reader");
        EXPECT_EQ(thrown.message, c.message);
    }
}

TEST(BribRobustness, SharedDirectoryIsReadForEachLink)
{
    // Not a loop: two entries may reach one directory, as the format allows.
    BribFileBuilder file;
    BribDirectory& shared = file.Top().AddDirectory();
    shared.AddCamfile(0, Bytes{1, 2, 3});
    file.Top().AddLink(shared);
    RawTestFolder folder;
    FBribImageReader reader(folder.Write("shared.q7f", file.Build()).GetBuffer());
    EXPECT_EQ(reader.GetCamfileCount(), 2);
}

TEST(BribRobustness, RefusedFilesAreClosed)
{
    // Open descriptors of this process, so that a file kept open by a throwing
    // constructor shows.
    const auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    RawTestFolder folder;
    Bytes notBrib = SmallValidFile();
    PatchCode(notBrib, 0, "XXXX");
    Bytes version3 = SmallValidFile(kVersion30);
    const FWideString bad = folder.Write("bad.q7f", notBrib);
    const FWideString v3 = folder.Write("v3.q7f", version3);
    const FWideString good = folder.Write("good.q7f", SmallValidFile());
    const auto before = openFiles();
    for (int i = 0; i < 20; ++i) {
        EXPECT_THROW(FBribImageReader(bad.GetBuffer()), FExceptionNotABrib);
        EXPECT_THROW(FBribImageWriter(bad.GetBuffer(), nullptr, true), FExceptionNotABrib);
        EXPECT_THROW(FBribImageWriter(v3.GetBuffer(), nullptr, true), FExceptionBribIncompatible);
        FBribImageReader reader(good.GetBuffer());
        EXPECT_THROW(reader.GetCamfileInfo(5, i, i), FExceptionIndexOutOfRange);
    }
    EXPECT_EQ(openFiles(), before);
}
