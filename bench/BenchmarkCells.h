#pragma once
// The cells of the generated benchmark workbooks, shared by the generators of every format
// so that each writes the same worksheet: a header row, then rows of ten columns of
// integers, shared strings, formatted decimals, percentages, dates, booleans, formatted
// blanks and date-times, drawn from one fixed pseudo-random sequence.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

// Reads ROWS from "generator OUT ROWS"; prints the usage and exits on anything else.
inline long long RowsArgument(int argc, char** argv, const char* usage)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s\n", usage);
        std::exit(2);
    }
    const long long rows = std::atoll(argv[2]);
    if (rows < 0 || rows > 1048575) {
        std::fprintf(stderr, "ROWS must lie between 0 and 1048575\n");
        std::exit(2);
    }
    return rows;
}

// The shared strings: the header, 20 categories, and 50,000 customer names.
struct SharedStrings {
    static constexpr int kColumns = 10;
    static constexpr int kCategories = 20;
    static constexpr int kCustomers = 50000;
    std::vector<std::string> texts;
    size_t categoryBase = 0;
    size_t customerBase = 0;

    SharedStrings()
        : texts { "Id", "Customer", "Amount", "Share", "Date", "Paid", "Note", "Ratio", "Category", "Balance" }
    {
        categoryBase = texts.size();
        for (int i = 0; i < kCategories; ++i)
            texts.push_back("Category " + std::string(1, static_cast<char>('A' + i)));
        customerBase = texts.size();
        for (int i = 0; i < kCustomers; ++i)
            texts.push_back("Customer & Sons " + std::to_string(i));
    }
};

// One data row's values, column by column (A to J; G holds a formatted blank or nothing).
struct DataRow {
    int64_t id; // A: an integer
    uint32_t customer; // B: a shared-string index
    double amount; // C: #,##0.00
    double share; // D: 0.00%
    int64_t date; // E: a date serial
    bool paid; // F: a boolean
    bool formattedBlank; // G: a styled empty cell every third row
    double ratio; // H: General, a fraction
    uint32_t category; // I: a shared-string index
    double dateTime; // J: yyyy-mm-dd hh:mm
};

// The rows' values in order, the same in every format's generator.
class DataRows {
public:
    explicit DataRows(const SharedStrings& strings)
        : m_strings(strings)
    {
    }

    // Row r of the worksheet (from 2: row 1 is the header).
    DataRow Row(long long r)
    {
        const uint64_t random = Next();
        return DataRow {
            r - 1,
            static_cast<uint32_t>(m_strings.customerBase + random % SharedStrings::kCustomers),
            static_cast<double>(random % 10000000) / 100.0,
            static_cast<double>((random >> 24) % 10000) / 10000.0,
            36526 + static_cast<int64_t>((random >> 8) % 9000),
            ((random >> 40) & 1) != 0,
            r % 3 == 0,
            static_cast<double>(static_cast<int64_t>(random % 2000001) - 1000000) / 7.0,
            static_cast<uint32_t>(m_strings.categoryBase + (random >> 50) % SharedStrings::kCategories),
            36526 + static_cast<double>((random >> 12) % 900000) / 100.0,
        };
    }

private:
    uint64_t Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }

    const SharedStrings& m_strings;
    uint64_t m_state = 0x9E3779B97F4A7C15ull;
};

} // namespace bench
