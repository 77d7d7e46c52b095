#include "FBribImageReader.h"

#include "BribFileBuilder.h"
#include "BribFormat.h"
#include "BribTestUtil.h"
#include "FPropList.h"
#include "RawTestFolder.h"

#include <bit>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace rawtest;

namespace
{

struct ReaderTest : ::testing::Test {
    RawTestFolder folder;
    int serial = 0;

    FWideString Put(const Bytes& bytes)
    {
        return folder.Write("f" + std::to_string(serial++) + ".q7f", bytes);
    }

    std::vector<std::pair<std::string, std::string>> Properties(const FWideString& url)
    {
        FBribImageReader reader(url.GetBuffer());
        FPropList list(nullptr, "props");
        reader.GetProperties(&list);
        std::vector<std::pair<std::string, std::string>> pairs;
        for (FPropPair* p = list.GetFirstProp(); p; p = p->GetNext())
            pairs.emplace_back(p->GetName().GetNarrow(), p->GetValue().GetNarrow());
        return pairs;
    }
};

ImageSection Image(uint32_t type, uint32_t format, uint32_t columns = 4, uint32_t rows = 2)
{
    ImageSection image;
    image.imageType = type;
    image.pixelFormat = format;
    image.columns = columns;
    image.rows = rows;
    image.rowSize = columns * 3;
    image.payload.assign(size_t(columns) * rows * 3, 0x11);
    return image;
}

} // namespace

TEST_F(ReaderTest, HeaderFieldsOfEveryVersion)
{
    struct Case {
        uint32_t version;
        uint32_t headerSize;
        bool hasExtData;
    };
    const Case cases[] = {{kVersion10, 240, true}, {kVersion20, 240, false}, {kVersion21, 240, true},
                          {kVersion22, 240, true}, {kVersion30, 240, true},  {kVersion35, 256, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.version);
        BribFileBuilder file(c.version);
        BribHeader& h = file.GetHeader();
        h.headerSize = c.headerSize;
        for (size_t i = 0; i < 16; ++i)
            h.uniqueId[i] = uint8_t(i * 7 + 1);
        h.markBits = 1;
        h.columns = 3008;
        h.rows = 2000;
        h.rotation = 270;
        h.SetLabel("Cloudy");
        h.SetExtData(3, 2, 1.5f);
        h.SetExtData(31, 10, -0.25f);
        file.Top().AddProperties({{"A", "1"}});

        FBribImageReader reader(Put(file.Build()).GetBuffer());
        EXPECT_EQ(reader.GetDimensions(), std::make_pair(3008, 2000));
        EXPECT_EQ(0, std::memcmp(reader.GetUniqueID(), h.uniqueId.data(), 16));
        EXPECT_EQ(reader.GetMarkBits(), 1u);
        EXPECT_EQ(reader.GetRotation(), 270u);
        if (c.hasExtData) {
            ASSERT_NE(reader.GetWBLabel(), nullptr);
            EXPECT_STREQ(reader.GetWBLabel(), "Cloudy");
            EXPECT_EQ(reader.GetExtDataCount(), 32);
            EXPECT_EQ(reader.GetExtDataType(3), 2);
            EXPECT_EQ(reader.GetExtDataValue(3), std::bit_cast<uint32_t>(1.5f));
            EXPECT_EQ(reader.GetExtDataType(31), 10);
            EXPECT_EQ(reader.GetExtDataValue(31), std::bit_cast<uint32_t>(-0.25f));
        } else {
            EXPECT_EQ(reader.GetWBLabel(), nullptr);
            EXPECT_EQ(reader.GetExtDataCount(), 0);
            EXPECT_EQ(reader.GetExtDataType(3), 0);
            EXPECT_EQ(reader.GetExtDataValue(3), 0u);
        }
        for (int slot : {-1, 32}) {
            EXPECT_EQ(reader.GetExtDataType(slot), 0);
            EXPECT_EQ(reader.GetExtDataValue(slot), 0u);
        }
        // The directory still follows the header's own trailer layout.
        EXPECT_EQ(Properties(Put(file.Build())).size(), 1u);
    }
}

TEST_F(ReaderTest, LabelWithoutZeroStaysWithinItsField)
{
    for (uint32_t version : {kVersion22, kVersion30}) {
        BribFileBuilder file(version);
        file.GetHeader().label.fill('W');
        file.GetHeader().extTypes.fill(0x41);
        FBribImageReader reader(Put(file.Build()).GetBuffer());
        ASSERT_NE(reader.GetWBLabel(), nullptr);
        EXPECT_EQ(std::string(reader.GetWBLabel()), std::string(32, 'W'));
    }
}

TEST_F(ReaderTest, RefusedFilesNameTheURL)
{
    const FWideString missing = folder.URL("missing.q7f");
    auto thrown = Thrown([&] { FBribImageReader r(missing.GetBuffer()); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionFileNotFound>());
    EXPECT_EQ(thrown.message, missing.GetNarrow());

    Bytes notBrib = SmallValidFile();
    PatchCode(notBrib, 0, "BRIB");
    const FWideString notBribUrl = Put(notBrib);
    thrown = Thrown([&] { FBribImageReader r(notBribUrl.GetBuffer()); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionNotABrib>());
    EXPECT_EQ(thrown.message, notBribUrl.GetNarrow());

    for (uint32_t version : {0x00010000u, 0x00040000u, 0x00312E31u, 0u}) {
        Bytes bytes = SmallValidFile();
        PatchU32(bytes, 4, version);
        const FWideString url = Put(bytes);
        thrown = Thrown([&] { FBribImageReader r(url.GetBuffer()); });
        EXPECT_EQ(thrown.type, TypeName<FExceptionBribIncompatible>()) << std::hex << version;
        EXPECT_EQ(thrown.message, url.GetNarrow());
    }

    const FWideString tiny = Put(Bytes{'B', 'R', 'I'});
    EXPECT_EQ(Thrown([&] { FBribImageReader r(tiny.GetBuffer()); }).type, TypeName<FExceptionEOF>());
    // Too short for a version-2 header.
    Bytes shortHeader = SmallValidFile();
    shortHeader.resize(200);
    const FWideString shortUrl = Put(shortHeader);
    EXPECT_EQ(Thrown([&] { FBribImageReader r(shortUrl.GetBuffer()); }).type, TypeName<FExceptionEOF>());
}

TEST_F(ReaderTest, OpeningReadsOnlyTheHeaderAndADirectoryFailureLasts)
{
    BribFileBuilder file;
    file.GetHeader().columns = 10;
    file.Top().AddProperties({{"A", "1"}});
    file.trailerOffset = 8; // inside the header
    FBribImageReader reader(Put(file.Build()).GetBuffer());
    EXPECT_EQ(reader.GetDimensions().first, 10);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto thrown = Thrown([&] { reader.GetImageCount(); });
        EXPECT_EQ(thrown.type, TypeName<FExceptionBribReader>());
        EXPECT_EQ(thrown.message, "Expected a directory section but got something else.");
    }
    FPropList list(nullptr, "p");
    EXPECT_EQ(Thrown([&] { reader.GetProperties(&list); }).type, TypeName<FExceptionBribReader>());
    EXPECT_EQ(list.GetPropCount(), 0);
}

TEST_F(ReaderTest, DirectoryVersionIsRefused)
{
    BribFileBuilder file;
    file.Top().version = 0x00040000;
    file.Top().AddProperties({{"A", "1"}});
    FBribImageReader reader(Put(file.Build()).GetBuffer());
    const auto thrown = Thrown([&] { reader.GetCamfileCount(); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionBribIncompatible>());
    EXPECT_EQ(thrown.message, "Directory section version");
}

TEST_F(ReaderTest, DirectoryLayoutsGoByTheirOwnVersion)
{
    struct Case {
        const char* name;
        uint32_t header;
        uint32_t top;
        uint32_t nested;
        uint32_t headSize;
        uint32_t entrySize;
    };
    const Case cases[] = {
        {"v2 file, v2 dirs", kVersion22, kVersion22, kVersion22, 16, 20},
        {"v1.0 file, v1.0 dirs", kVersion10, kVersion10, kVersion10, 16, 20},
        {"v3 file, v3 dirs", kVersion30, kVersion30, kVersion30, 16, 20},
        {"v3 dir with larger head and entries", kVersion30, kVersion35, kVersion30, 28, 32},
        {"v3 dir inside a v2 file", kVersion22, kVersion22, kVersion30, 24, 24},
        {"v2 dir inside a v3 file", kVersion30, kVersion30, kVersion21, 16, 20},
        {"v3 top dir in a v2 file", kVersion21, kVersion30, kVersion22, 20, 28},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BribFileBuilder file(c.header);
        file.gap = 3;
        BribDirectory& top = file.Top();
        top.version = c.top;
        top.headSize = c.headSize;
        BribDirectory& nested = top.AddDirectory(c.nested);
        nested.headSize = c.headSize;
        nested.AddProperties({{"N", "nested"}}).entrySize = c.entrySize;
        top.AddProperties({{"T", "top"}}).entrySize = c.entrySize;
        top.AddCamfile(0, Bytes{9, 8, 7}).entrySize = c.entrySize;
        const FWideString url = Put(file.Build());
        EXPECT_EQ(Properties(url),
                  (std::vector<std::pair<std::string, std::string>>{{"N", "nested"}, {"T", "top"}}));
        FBribImageReader reader(url.GetBuffer());
        EXPECT_EQ(reader.GetCamfileCount(), 1);
    }
}

TEST_F(ReaderTest, VersionThreeTrailerIsHighWordFirst)
{
    // A 2.x-style four-byte trailer after a 3.x header is read as the last 8 bytes.
    BribFileBuilder file(kVersion30);
    file.Top().AddProperties({{"A", "1"}});
    file.trailerSize = 4;
    FBribImageReader reader(Put(file.Build()).GetBuffer());
    EXPECT_NE(Thrown([&] { reader.GetImageCount(); }).type, "nothing");

    BribFileBuilder good(kVersion30);
    good.Top().AddProperties({{"A", "1"}});
    Bytes bytes = good.Build();
    EXPECT_EQ(LoadU32(bytes, bytes.size() - 8), 0u);
    EXPECT_EQ(Properties(Put(bytes)).size(), 1u);
}

TEST_F(ReaderTest, NestedSectionsComeFirstAndImagesBeforeImage2)
{
    BribFileBuilder file;
    BribDirectory& top = file.Top();
    top.AddProperties({{"order", "top-1"}});
    top.AddImage(Image(2, 3), true); // image 3: "IMA2" after the nested one
    top.AddDirectory().AddProperties({{"order", "nested-1"}});
    top.AddImage(Image(1, 4));               // image 1
    top.AddSection("XXXX", Bytes(40, 0xEE)); // never opened
    BribDirectory& second = top.AddDirectory(kVersion30);
    second.AddProperties({{"order", "nested-2"}});
    second.AddImage(Image(0, 13), true); // image 2
    second.AddImage(Image(3, 29));       // image 0: nested "IMAG" before top's
    top.AddProperties({{"order", "top-2"}});
    const FWideString url = Put(file.Build());

    EXPECT_EQ(Properties(url),
              (std::vector<std::pair<std::string, std::string>>{
                  {"order", "nested-1"}, {"order", "nested-2"}, {"order", "top-1"}, {"order", "top-2"}}));
    FBribImageReader reader(url.GetBuffer());
    ASSERT_EQ(reader.GetImageCount(), 4);
    EXPECT_EQ(reader.GetCamfileCount(), 0);
    const int expectedTypes[] = {3, 1, 0, 2};
    for (int n = 0; n < 4; ++n) {
        int dims[2], pixmapType = -1, imageType = -1;
        reader.GetImageInfo(n, dims, pixmapType, imageType);
        EXPECT_EQ(imageType, expectedTypes[n]) << n;
    }
}

TEST_F(ReaderTest, OnlyNestedDirectories)
{
    BribFileBuilder file;
    file.Top().AddDirectory().AddProperties({{"a", "1"}});
    BribDirectory& b = file.Top().AddDirectory();
    b.AddDirectory().AddProperties({{"b", "2"}});
    b.AddProperties({{"c", "3"}});
    EXPECT_EQ(Properties(Put(file.Build())),
              (std::vector<std::pair<std::string, std::string>>{{"a", "1"}, {"b", "2"}, {"c", "3"}}));
}

TEST_F(ReaderTest, MissingSectionNamesTypeAndRelativeIndex)
{
    BribFileBuilder file;
    file.Top().AddCamfile(0, Bytes{1});
    file.Top().AddCamfile(1, Bytes{2});
    file.Top().AddImage(Image(1, 0));
    file.Top().AddImage(Image(2, 3), true);
    FBribImageReader reader(Put(file.Build()).GetBuffer());
    int size = 0, kind = 0, dims[2], pixmapType, imageType;

    auto thrown = Thrown([&] { reader.GetCamfileInfo(2, size, kind); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionIndexOutOfRange>());
    EXPECT_EQ(thrown.message, "FBribImageReaderImpl::FindSection type 1179468099 index 2");

    thrown = Thrown([&] { reader.GetImageInfo(2, dims, pixmapType, imageType); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionIndexOutOfRange>());
    EXPECT_EQ(thrown.message, "FBribImageReaderImpl::FindSection type 843140425 index 1");

    thrown = Thrown([&] { reader.ReadCamfile(-1, &size, 4, nullptr, nullptr); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionIndexOutOfRange>());
    EXPECT_EQ(thrown.message, "FBribImageReaderImpl::FindSection type 1179468099 index -1");
}

TEST_F(ReaderTest, PropertiesInBothLayouts)
{
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"CAMMODEL", "Model \xC3\xA9 \xF0\x9F\x93\xB7"},
        {"ISO", "200"},
        {"ISO", "400"},
        {"EMPTY", ""},
        {"", "x"}};
    for (uint32_t version : {kVersion10, kVersion20, kVersion22}) {
        SCOPED_TRACE(version);
        BribFileBuilder file;
        file.Top().AddProperties(pairs, version);
        file.Top().AddProperties({{"ISO", "800"}}, kVersion22);
        FBribImageReader reader(Put(file.Build()).GetBuffer());
        FPropList list(nullptr, "p");
        reader.GetProperties(&list);
        ASSERT_EQ(list.GetPropCount(), 6);
        FPropPair* p = list.GetFirstProp();
        const std::u16string model = Utf16(pairs[0].second);
        EXPECT_EQ(std::u16string(p->GetValue().GetBuffer()), model);
        std::vector<std::string> isos;
        for (; p; p = p->GetNext()) {
            if (p->GetName() == "ISO")
                isos.push_back(p->GetValue().GetNarrow());
        }
        EXPECT_EQ(isos, (std::vector<std::string>{"200", "400", "800"}));
    }
}

TEST_F(ReaderTest, UnterminatedLastStringEndsAtThePool)
{
    PropertySection section;
    section.pairs = {{"A", "1"}, {"B", "last"}};
    section.terminateLast = false;
    BribFileBuilder file;
    file.Top().AddProperties(section);
    file.Top().AddSection("XXXX", Bytes{'z', 0, 'z', 0}); // text right after the pool must not leak in
    EXPECT_EQ(Properties(Put(file.Build())),
              (std::vector<std::pair<std::string, std::string>>{{"A", "1"}, {"B", "last"}}));
}

TEST_F(ReaderTest, RefusedPropertySections)
{
    struct Case {
        const char* name;
        void (*change)(PropertySection&);
        std::string type;
        const char* message;
    };
    const Case cases[] = {
        {"magic", [](PropertySection& s) { s.magic = FourCC("SECq"); }, TypeName<FExceptionBribReader>(),
         "Expected a property section but got something else."},
        {"version 3", [](PropertySection& s) { s.version = kVersion30; },
         TypeName<FExceptionBribIncompatible>(), "Property list section version"},
        {"version 1", [](PropertySection& s) { s.version = 0x00010000; },
         TypeName<FExceptionBribIncompatible>(), "Property list section version"},
        {"char type", [](PropertySection& s) { s.charType = 1; }, TypeName<FExceptionBribReader>(),
         "Property list character type not unicode."},
        {"encryption", [](PropertySection& s) { s.encryption = 2; }, TypeName<FExceptionBribReader>(),
         "Encrypted properties are not currently handled."},
        {"huge count", [](PropertySection& s) { s.count = 0xFFFFFFFF; }, TypeName<FExceptionBribReader>(),
         "Property list runs past the end of the file."},
        {"huge pool", [](PropertySection& s) { s.poolUnits = 0x7FFFFFFF; }, TypeName<FExceptionBribReader>(),
         "Property list runs past the end of the file."},
        {"pool too small for the starts", [](PropertySection& s) { s.poolUnits = 2; },
         TypeName<FExceptionBribReader>(), "Property entry lies outside the string pool."},
        {"1.0 lengths past the pool",
         [](PropertySection& s) {
             s.version = kVersion10;
             s.poolUnits = 5;
         },
         TypeName<FExceptionBribReader>(), "Property entry lies outside the string pool."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PropertySection section;
        section.pairs = {{"NAME", "value"}, {"OTHER", "text"}};
        c.change(section);
        BribFileBuilder file;
        file.Top().AddProperties(section);
        const FWideString url = Put(file.Build());
        const auto thrown = Thrown([&] { Properties(url); });
        EXPECT_EQ(thrown.type, c.type);
        EXPECT_EQ(thrown.message, c.message);
    }
}
