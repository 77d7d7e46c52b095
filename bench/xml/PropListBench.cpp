// Appending a million pairs to one node beside a plain vector append of the same
// strings, and reading one element with a million attributes beside a plain
// read of its bytes.
#include "BesideCopy.h"
#include "FMemStorageClass.h"
#include "FPropList.h"
#include "FXmlParser.h"
#include "StorageClassRegistry.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace
{

constexpr int kPairs = 1000000;

void BM_AppendMillionPairs(benchmark::State& state)
{
    const FWideString name("Name");
    const FWideString value("Value");
    std::unique_ptr<FPropList> node;
    std::vector<std::pair<FWideString, FWideString>> plain;
    bench::RunBesideCopy(
        state,
        [&] {
            node = std::make_unique<FPropList>(nullptr, "node");
            plain.clear();
            plain.shrink_to_fit();
        },
        [&] {
            for (int i = 0; i < kPairs; ++i)
                plain.emplace_back(name, value);
        },
        [&] {
            for (int i = 0; i < kPairs; ++i)
                node->AddProp(name, value);
        });
    node.reset();
}
BENCHMARK(BM_AppendMillionPairs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ParseMillionAttributes(benchmark::State& state)
{
    static FMemStorageClass* storage = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("benchattrs"));
        std::string text = "<Big";
        for (int i = 0; i < kPairs; ++i)
            text += " a" + std::to_string(i) + "=\"v\"";
        text += " />\r\n";
        made->PutFile(FWideString("s/big.xml"), text);
        return made;
    }();
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(FWideString("benchattrs://s"), fileName, false);
    std::string bytes;
    std::unique_ptr<FPropList> root;
    bench::RunBesideCopy(
        state, [&] { root.reset(); }, [&] { storage->GetFileBytes(FWideString("s/big.xml"), bytes); },
        [&] {
            FXmlParser parser;
            root.reset(parser.ParseFile(folder, FWideString("big.xml")));
        });
    if (!root || root->GetPropCount() != kPairs)
        state.SkipWithError("the element was not read whole");
    root.reset();
    folder->Release();
}
BENCHMARK(BM_ParseMillionAttributes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
