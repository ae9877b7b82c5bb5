// Cells per second through the number-format renderer: the per-cell work of an export
// once each format code has been parsed (CellFormats parses every code once).
#include "spreadsheet/numfmt/NumberFormat.h"

#include <benchmark/benchmark.h>

#include <string>

using vellumcast::spreadsheet::numfmt::DateSystem;
using vellumcast::spreadsheet::numfmt::NumberFormat;

namespace {

void RenderCells(benchmark::State& state, const char* code, double base, double step)
{
    const NumberFormat format = NumberFormat::Parse(code);
    std::string out;
    out.reserve(64);
    uint32_t i = 0;
    for (auto _ : state) {
        out.clear();
        // Vary the value so no branch or digit string is the same every time.
        format.Format(base + step * static_cast<double>(i++ & 1023u), DateSystem::Date1900, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void ParseCodes(benchmark::State& state)
{
    for (auto _ : state) {
        NumberFormat format
            = NumberFormat::Parse("_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)");
        benchmark::DoNotOptimize(format);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

} // namespace

BENCHMARK_CAPTURE(RenderCells, GeneralFloat, "General", 1234.56789, 0.0173);
BENCHMARK_CAPTURE(RenderCells, GeneralInteger, "General", 1234, 1);
BENCHMARK_CAPTURE(RenderCells, Thousands2dp, "#,##0.00", 1234567.891, 1.37);
BENCHMARK_CAPTURE(RenderCells, DateTime, "yyyy-mm-dd hh:mm:ss", 45000.123, 0.0137);
// The other formats of the generated benchmark workbooks (bench/BenchmarkCells.h).
BENCHMARK_CAPTURE(RenderCells, Percent2dp, "0.00%", 0.1234, 0.00071);
BENCHMARK_CAPTURE(RenderCells, ShortDate, "m/d/yyyy", 36526, 7.3);
BENCHMARK_CAPTURE(RenderCells, GeneralSevenths, "General", -142857.0 / 7.0, 279.0 / 7.0);
BENCHMARK_CAPTURE(RenderCells, DateTimeMinutes, "yyyy\\-mm\\-dd hh:mm", 36526.0, 8.79);
BENCHMARK_CAPTURE(RenderCells, Accounting, "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)", -5000.5, 9.75);
BENCHMARK(ParseCodes);

BENCHMARK_MAIN();
