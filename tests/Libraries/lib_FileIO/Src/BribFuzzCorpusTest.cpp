// Writes the seed corpus of the raw container fuzz target when
// RAWTEST_WRITE_CORPUS names a folder; otherwise only checks that the valid
// seeds read without an exception and the malformed ones are refused.
//     RAWTEST_WRITE_CORPUS=fuzz/rawcontainer/corpus test_fileio --gtest_filter='BribFuzzCorpus.*'

#include "BribFileBuilder.h"
#include "BribReaderExercise.h"
#include "FException.h"
#include "RawTestFolder.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

using namespace rawtest;

namespace
{

ImageSection Preview(uint32_t version, uint32_t format)
{
    ImageSection image;
    image.version = version;
    image.imageType = 2;
    image.pixelFormat = format;
    image.columns = 4;
    image.rows = 2;
    image.rowSize = 12;
    image.payload.assign(24, 0x40);
    return image;
}

std::vector<std::pair<std::string, Bytes>> Seeds()
{
    std::vector<std::pair<std::string, Bytes>> seeds;
    seeds.emplace_back("small-v22", SmallValidFile(kVersion22));
    seeds.emplace_back("small-v10", SmallValidFile(kVersion10));
    seeds.emplace_back("small-v30", SmallValidFile(kVersion30));

    for (uint32_t version : {kVersion21, kVersion35}) {
        BribFileBuilder file(version);
        file.GetHeader().headerSize = 248;
        file.GetHeader().SetLabel("Tungsten");
        file.GetHeader().SetExtData(2, 3, 0.25f);
        BribDirectory& nested = file.Top().AddDirectory(IsV3(version) ? kVersion22 : kVersion30);
        nested.headSize = 20;
        nested.AddProperties({{"CAMMANUF", "Maker"}, {"ISO", "100"}, {"ISO", "200"}}, kVersion10);
        CamfileSection scrambled;
        scrambled.kind = 2;
        scrambled.version = kVersion30;
        scrambled.headSize = 28;
        scrambled.payload.assign(100, 0x42);
        nested.AddCamfile(scrambled).entrySize = 24;
        file.Top().AddCamfile(0, Bytes(30, 0x17));
        file.Top().AddImage(Preview(kVersion30, 13), true);
        file.Top().AddImage(Preview(kVersion22, 16));
        file.Top().AddSection("JUNK", Bytes(8, 0));
        file.Top().AddProperties({{"TIME", "1196763630"}});
        seeds.emplace_back(IsV3(version) ? "rich-v35" : "rich-v21", file.Build());
    }

    BribFileBuilder chain;
    BribDirectory* d = &chain.Top();
    for (int i = 0; i < 5; ++i) {
        d = &d->AddDirectory(i % 2 ? kVersion30 : kVersion22);
        d->AddProperties({{"depth", std::to_string(i)}});
    }
    seeds.emplace_back("nested-chain", chain.Build());
    return seeds;
}

std::vector<std::pair<std::string, Bytes>> MalformedSeeds()
{
    std::vector<std::pair<std::string, Bytes>> seeds;
    BribFileBuilder cycle;
    cycle.Top().AddDirectory(kVersion30).AddLink(cycle.Top());
    seeds.emplace_back("bad-cycle", cycle.Build());

    BribFileBuilder pool;
    PropertySection overrun;
    overrun.pairs = {{"NAME", "VALUE"}};
    overrun.poolUnits = 4;
    pool.Top().AddProperties(overrun);
    seeds.emplace_back("bad-pool", pool.Build());
    return seeds;
}

void WriteSeed(const char* folder, const std::string& name, const Bytes& bytes)
{
    if (!folder)
        return;
    std::ofstream out(std::string(folder) + "/" + name + ".q7f", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace

TEST(BribFuzzCorpus, SeedsAreValidFiles)
{
    const char* target = std::getenv("RAWTEST_WRITE_CORPUS");
    for (const auto& [name, bytes] : Seeds()) {
        SCOPED_TRACE(name);
        EXPECT_NO_THROW(ExerciseBribReader(PutMemoryFile(name, bytes)));
        WriteSeed(target, name, bytes);
    }
    for (const auto& [name, bytes] : MalformedSeeds()) {
        SCOPED_TRACE(name);
        EXPECT_THROW(ExerciseBribReader(PutMemoryFile(name, bytes)), FExceptionBribReader);
        WriteSeed(target, name, bytes);
    }
}
