// Line breaking and shortening of a long text with the system fonts, beside
// measuring the same text once in one call (the least any layout of it needs):
// each result carries its best time, the best time of that single measurement
// and "x_copy", their ratio.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <string>
#include <vector>

#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FUiTextLayout.h"

namespace
{

const char16_t kFace[] = u"DejaVu Sans";
constexpr int kHeight = 14;

bool Measure(const char16_t* text, int length, int* widths)
{
    const FWideString units(text, text + length - 1);
    return MeasureUiTextExtents(units.GetBuffer(), kFace, kHeight, false, false, false, widths);
}

FWideString Words(int units)
{
    static const char16_t* const kWords[] = {u"lorem ", u"ipsum ",       u"dolor ",      u"sit ",
                                             u"amet, ", u"consectetur ", u"adipiscing ", u"elit\n"};
    std::u16string text;
    for (size_t i = 0; int(text.size()) < units; ++i)
        text += kWords[i % 8];
    text.resize(size_t(units));
    return FWideString(text.c_str());
}

void MeasureOnce(const FWideString& text, std::vector<int>& widths)
{
    Measure(text.GetBuffer(), text.GetLength(), widths.data());
    benchmark::DoNotOptimize(widths.data());
}

void BM_BreakLines(benchmark::State& state)
{
    SelectOsTextLayer(FOsTextLayerKind::kSystemFonts);
    const FWideString text = Words(int(state.range(0)));
    std::vector<int> widths(size_t(text.GetLength()));
    size_t lines = 0;
    bench::RunBesideCopy(
        state, [&] { MeasureOnce(text, widths); },
        [&] {
            const FUiLineBreakResult result = BreakTextLines(text, 400, false, 7, Measure);
            lines = result.lines.size();
            benchmark::DoNotOptimize(lines);
        });
    state.counters["lines"] = double(lines);
}
BENCHMARK(BM_BreakLines)->Arg(20000)->Arg(200000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FitWithEllipsis(benchmark::State& state)
{
    SelectOsTextLayer(FOsTextLayerKind::kSystemFonts);
    const FWideString text = Words(int(state.range(0)));
    std::vector<int> widths(size_t(text.GetLength()));
    bench::RunBesideCopy(
        state, [&] { MeasureOnce(text, widths); },
        [&] { benchmark::DoNotOptimize(FitTextToWidth(text, false, 300, Measure).GetLength()); });
}
BENCHMARK(BM_FitWithEllipsis)->Arg(20000)->Arg(200000)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
