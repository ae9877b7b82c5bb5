// Writes generated delimited text for the benchmarks: a header line, then ROWS lines of
// 10 fields of mixed content (numbers, words, dates, booleans, quoted fields holding
// separators and quotes), CR LF line ends as spreadsheet applications write them.
//
//   generate_csv OUTPUT.csv [ROWS=1000000]

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
const char* const kWords[] = { "alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel" };
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.csv [ROWS]\n", argv[0]);
        return 2;
    }
    const long rows = argc > 2 ? std::atol(argv[2]) : 1000000;
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::fputs("id,name,amount,date,flag,share,customer,code,time,answer\r\n", out);
    for (long row = 1; row <= rows; ++row) {
        std::fprintf(out,
            "%ld,%s %ld,%.2f,%02ld/%02ld/%04ld,%s,%ld%%,\"Customer, \"\"%ld\"\" & Co.\",%ld,%02ld:%02ld:%02ld,%s\r\n",
            row, kWords[row % 8], row % 997, static_cast<double>(row % 100000) / 7.0, 1 + row % 12, 1 + row % 28,
            2000 + row % 25, row % 3 == 0 ? "TRUE" : "FALSE", row % 100, row % 5000, row * 7919 % 1000003, row % 24,
            row % 60, row % 59, row % 2 ? "yes" : "no");
    }
    std::fclose(out);
    return 0;
}
