// Times loading each worksheet of a workbook, and walking every cell's text after it:
// bench_xlsx_load BOOK.xlsx [REPEATS] [--load-only]
// Compare with `time unzip -p BOOK.xlsx xl/worksheets/sheet1.xml > /dev/null`.

#include "spreadsheet/Workbook.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

using namespace vellumcast::spreadsheet;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_xlsx_load BOOK.xlsx [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const bool loadOnly = argc > 3 && std::string_view(argv[3]) == "--load-only";
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    try {
        double bestOpen = 1e9, bestLoad = 1e9, bestWalk = 1e9;
        size_t textBytes = 0;
        for (int run = 0; run < repeats; ++run) {
            Application application;
            const auto start = Clock::now();
            auto book = application.Open(argv[1]);
            const auto opened = Clock::now();
            for (auto& sheet : book->Worksheets())
                sheet.UsedRange();
            const auto loaded = Clock::now();
            textBytes = 0;
            for (auto& sheet : book->Worksheets()) {
                if (loadOnly)
                    break;
                const CellRange range = sheet.UsedRange();
                for (int32_t row = range.firstRow; row <= range.lastRow; ++row) {
                    for (int32_t column = range.firstColumn; column <= range.lastColumn; ++column)
                        textBytes += sheet.CellText(row, column).size();
                }
            }
            const auto walked = Clock::now();
            bestOpen = std::min(bestOpen, seconds(opened - start));
            bestLoad = std::min(bestLoad, seconds(loaded - opened));
            bestWalk = std::min(bestWalk, seconds(walked - loaded));
        }
        std::printf("open (sheet list, shared strings, styles): %.3f s\n", bestOpen);
        std::printf("load worksheets (UsedRange):               %.3f s\n", bestLoad);
        std::printf("walk every cell's text:                     %.3f s (%zu bytes of text)\n", bestWalk, textBytes);
        std::printf("open + load:                                %.3f s\n", bestOpen + bestLoad);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
