// Reading a script of about 1 MiB beside a plain read and copy of the same
// bytes through the same storage class, and finding the last member of an
// archive beside reading its container whole.
#include "FBundleFolder.h"
#include "FBundleWriter.h"
#include "FMemStorageClass.h"
#include "FPropList.h"
#include "FXmlParser.h"
#include "StorageClassRegistry.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("benchxml"));
        std::u16string text = u"<Script>\r\n";
        for (int i = 0; i < 8000; ++i) {
            text += u"\t<Button Name=\"Button" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                    u"\" Rect=\"10, 20, 110, 44\" Text=\"Open the folder\" Color=\"#FF8000\" />\r\n";
        }
        text += u"</Script>\r\n";
        std::string bytes = "\xFF\xFE";
        for (char16_t unit : text) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
        made->PutFile(FWideString("s/ui.xml"), bytes);

        FBundleWriter writer;
        for (int i = 0; i < 300; ++i)
            writer.AddMember("skins/image" + std::to_string(i) + ".png", std::vector<unsigned char>(3000, 7));
        std::vector<unsigned char> archive;
        writer.AppendTo(archive);
        made->PutFile(FWideString("s/ui.btb"), std::string(archive.begin(), archive.end()));
        return made;
    }();
    return *storage;
}

struct ReleaseFolder {
    void operator()(FIFolder* folder) const { folder->Release(); }
};

std::unique_ptr<FIFolder, ReleaseFolder> Folder()
{
    Storage();
    FWideString fileName;
    return std::unique_ptr<FIFolder, ReleaseFolder>(
        OpenFolderURL(FWideString("benchxml://s"), fileName, false));
}

void ReadWhole(FIFolder& folder, const char* name, std::vector<char>& out)
{
    FIFile* file = folder.OpenFile(FWideString(name), kFileRead);
    std::vector<char> bytes(file->GetSize());
    file->Read(bytes.data(), static_cast<int>(bytes.size()));
    file->Release();
    out.resize(bytes.size());
    std::memcpy(out.data(), bytes.data(), bytes.size());
}

void BM_ParseScript(benchmark::State& state)
{
    auto folder = Folder();
    for (auto _ : state) {
        FXmlParser parser;
        std::unique_ptr<FPropList> root(parser.ParseFile(folder.get(), FWideString("ui.xml")));
        benchmark::DoNotOptimize(root.get());
    }
}
BENCHMARK(BM_ParseScript)->Unit(benchmark::kMillisecond);

void BM_ReadAndCopyScript(benchmark::State& state)
{
    auto folder = Folder();
    std::vector<char> out;
    for (auto _ : state) {
        ReadWhole(*folder, "ui.xml", out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ReadAndCopyScript)->Unit(benchmark::kMillisecond);

void BM_FindLastMember(benchmark::State& state)
{
    Storage();
    FBundleFolder archive(FWideString("benchxml://s/ui.btb"));
    for (auto _ : state)
        benchmark::DoNotOptimize(archive.Exists(FWideString("skins/image299.png"), nullptr));
}
BENCHMARK(BM_FindLastMember)->Unit(benchmark::kMicrosecond);

void BM_ReadArchiveWhole(benchmark::State& state)
{
    auto folder = Folder();
    std::vector<char> out;
    for (auto _ : state) {
        ReadWhole(*folder, "ui.btb", out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ReadArchiveWhole)->Unit(benchmark::kMicrosecond);

} // namespace
