// Reading a text file line by line through the disk class, beside the standard
// library reading the same bytes line by line.
#include "FCodePage.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "StorageClassRegistry.h"

#include <benchmark/benchmark.h>
#include <fstream>
#include <mutex>
#include <string>

namespace
{

constexpr int kLines = 20000;

struct TextFile {
    FScopedTempFolder folder;
    std::string path;
    FWideString url;

    TextFile()
    {
        std::string text;
        for (int i = 0; i < kLines; ++i)
            text += "line " + std::to_string(i) + " of a settings or list file\r\n";
        folder.WriteFile("text.txt", text);
        path = folder.Join("text.txt");
        NativePathToURL(WideFromUtf8(path), url);
    }
};

TextFile& GetTextFile()
{
    static std::once_flag once;
    std::call_once(once, [] { RegisterDiskStorageClass(); });
    static TextFile file;
    return file;
}

void BM_StorageReadLine(benchmark::State& state)
{
    TextFile& text = GetTextFile();
    for (auto _ : state) {
        FIFile* file = OpenFileURL(text.url, kFileRead);
        FWideString line;
        int lines = 0;
        while (file && file->ReadLine(line))
            ++lines;
        if (file)
            file->Release();
        benchmark::DoNotOptimize(lines);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_StorageReadLine)->Unit(benchmark::kMillisecond);

void BM_ReferenceGetline(benchmark::State& state)
{
    TextFile& text = GetTextFile();
    for (auto _ : state) {
        std::ifstream in(text.path, std::ios::binary);
        std::string line;
        int lines = 0;
        while (std::getline(in, line))
            ++lines;
        benchmark::DoNotOptimize(lines);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ReferenceGetline)->Unit(benchmark::kMillisecond);

} // namespace
