// Name conversion, name sorting and unit-by-unit building, each beside a plain reference doing the
// same amount of work on the same data.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FWideString.h"

namespace
{

std::vector<std::string> MakeNames(int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back("IMG_" + std::to_string((i * 7919) % 100000) + (i % 3 ? "_caf\xC3\xA9" : "") +
                        ".q7f");
    return names;
}

void BM_Utf8ToUtf16(benchmark::State& state)
{
    const std::vector<std::string> names = MakeNames(1000);
    for (auto _ : state) {
        for (const std::string& name : names)
            benchmark::DoNotOptimize(Utf8ToUtf16(name));
    }
}
BENCHMARK(BM_Utf8ToUtf16);

// Reference: widening the same bytes without decoding.
void BM_WidenBytesReference(benchmark::State& state)
{
    const std::vector<std::string> names = MakeNames(1000);
    for (auto _ : state) {
        for (const std::string& name : names)
            benchmark::DoNotOptimize(std::u16string(name.begin(), name.end()));
    }
}
BENCHMARK(BM_WidenBytesReference);

void BM_SortWithCompareLocale(benchmark::State& state)
{
    std::vector<FWideString> names;
    for (const std::string& name : MakeNames(2000))
        names.push_back(WideFromUtf8(name));
    for (auto _ : state) {
        std::vector<FWideString> sorted = names;
        std::sort(sorted.begin(), sorted.end(),
                  [](const FWideString& a, const FWideString& b) { return CompareLocale(a, b) < 0; });
        benchmark::DoNotOptimize(sorted.data());
    }
}
BENCHMARK(BM_SortWithCompareLocale);

// Reference: the same sort by plain unit order.
void BM_SortByUnitsReference(benchmark::State& state)
{
    std::vector<FWideString> names;
    for (const std::string& name : MakeNames(2000))
        names.push_back(WideFromUtf8(name));
    for (auto _ : state) {
        std::vector<FWideString> sorted = names;
        std::sort(sorted.begin(), sorted.end());
        benchmark::DoNotOptimize(sorted.data());
    }
}
BENCHMARK(BM_SortByUnitsReference);

// A long string built one unit at a time.
void BM_AppendUnits(benchmark::State& state)
{
    for (auto _ : state) {
        FWideString s;
        for (int i = 0; i < 100000; ++i)
            s.Append(static_cast<char16_t>(u'a' + i % 26));
        benchmark::DoNotOptimize(s.GetBuffer());
    }
}
BENCHMARK(BM_AppendUnits);

// Reference: the same units appended to a standard string.
void BM_AppendUnitsReference(benchmark::State& state)
{
    for (auto _ : state) {
        std::u16string s;
        for (int i = 0; i < 100000; ++i)
            s.push_back(static_cast<char16_t>(u'a' + i % 26));
        benchmark::DoNotOptimize(s.data());
    }
}
BENCHMARK(BM_AppendUnitsReference);

} // namespace
