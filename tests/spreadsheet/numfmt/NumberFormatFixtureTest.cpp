// Number formats against the tables of displayed texts in fixtures/numfmt/ (values as the
// spreadsheet application renders them). Every row must match, except the few listed with
// the reason they are believed wrong.
#include "spreadsheet/numfmt/NumberFormat.h"
#include "spreadsheet/numfmt/RawValue.h"
#include "spreadsheet/xlsx/XlsxText.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using vellumcast::spreadsheet::numfmt::BuiltInFormatCode;
using vellumcast::spreadsheet::numfmt::DateSystem;
using vellumcast::spreadsheet::numfmt::NumberFormat;
using vellumcast::testing::Fixture;
using vellumcast::testing::ReadBytes;

namespace {

// The fixtures are arrays of [number, number-or-string, string] rows: a tiny reader for
// exactly that much JSON (numbers are converted with strtod from their text).
struct JsonValue {
    enum class Kind { Number, String, Boolean, Array } kind = Kind::Array;
    bool isString = false;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<JsonValue> items;
};

class JsonReader {
public:
    explicit JsonReader(std::string text)
        : m_text(std::move(text))
    {
    }

    JsonValue Read()
    {
        SkipSpace();
        JsonValue value;
        if (m_at >= m_text.size())
            throw std::runtime_error("unexpected end of JSON");
        const char c = m_text[m_at];
        if (m_text.compare(m_at, 4, "true") == 0 || m_text.compare(m_at, 5, "false") == 0) {
            value.kind = JsonValue::Kind::Boolean;
            value.boolean = m_text[m_at] == 't';
            m_at += value.boolean ? 4 : 5;
        } else if (c == '[') {
            ++m_at;
            SkipSpace();
            if (Peek() == ']') {
                ++m_at;
                return value;
            }
            while (true) {
                value.items.push_back(Read());
                SkipSpace();
                const char next = m_text.at(m_at++);
                if (next == ']')
                    break;
                if (next != ',')
                    throw std::runtime_error("expected , in JSON array");
            }
        } else if (c == '"') {
            ++m_at;
            value.kind = JsonValue::Kind::String;
            value.isString = true;
            while (m_text.at(m_at) != '"') {
                char ch = m_text[m_at++];
                if (ch == '\\') {
                    ch = m_text.at(m_at++);
                    if (ch == 'n')
                        ch = '\n';
                    else if (ch == 't')
                        ch = '\t';
                    else if (ch == 'u')
                        throw std::runtime_error("\\u escapes are not used by the fixtures");
                }
                value.text += ch;
            }
            ++m_at;
        } else {
            const char* begin = m_text.c_str() + m_at;
            char* end = nullptr;
            value.kind = JsonValue::Kind::Number;
            value.number = std::strtod(begin, &end);
            if (end == begin)
                throw std::runtime_error("bad JSON number");
            m_at += static_cast<size_t>(end - begin);
        }
        return value;
    }

private:
    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    void SkipSpace()
    {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at])))
            ++m_at;
    }

    std::string m_text;
    size_t m_at = 0;
};

std::vector<std::vector<std::string>> ReadTsv(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(ReadBytes(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        std::vector<std::string> fields;
        size_t start = 0;
        while (true) {
            const size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

std::string Render(const NumberFormat& format, double value)
{
    std::string out;
    format.Format(value, DateSystem::Date1900, out);
    return out;
}

TEST(NumberFormatFixtures, GeneralTableMatches)
{
    const JsonValue rows = JsonReader(ReadBytes(Fixture("numfmt/general.json"))).Read();
    ASSERT_GT(rows.items.size(), 300u);
    size_t booleans = 0;
    for (const JsonValue& row : rows.items) {
        ASSERT_EQ(row.items.size(), 3u);
        const int id = static_cast<int>(row.items[1].number);
        const NumberFormat format = NumberFormat::Parse(BuiltInFormatCode(id));
        const JsonValue& input = row.items[0];
        if (input.kind == JsonValue::Kind::Boolean) {
            // Listed exception: TRUE/FALSE are cell values the worksheet shows itself, never
            // passed through a number format; the rows only confirm the spelling.
            EXPECT_EQ(row.items[2].text, input.boolean ? "TRUE" : "FALSE");
            ++booleans;
            continue;
        }
        if (input.kind == JsonValue::Kind::String) {
            std::string out;
            format.FormatText(input.text, out);
            EXPECT_EQ(out, row.items[2].text);
            EXPECT_FALSE(format.TransformsText());
            continue;
        }
        EXPECT_EQ(Render(format, input.number), row.items[2].text) << "value " << input.number << " id " << id;
    }
    EXPECT_EQ(booleans, 2u);
}

TEST(NumberFormatFixtures, FractionTableMatches)
{
    const JsonValue rows = JsonReader(ReadBytes(Fixture("numfmt/fraction.json"))).Read();
    ASSERT_GT(rows.items.size(), 100u);
    for (const JsonValue& row : rows.items) {
        ASSERT_EQ(row.items.size(), 3u);
        const std::string& code = row.items[1].text;
        ASSERT_TRUE(NumberFormat::IsValidCode(code)) << code;
        EXPECT_EQ(Render(NumberFormat::Parse(code), row.items[0].number), row.items[2].text)
            << "value " << row.items[0].number << " format " << code;
    }
}

// A header row of format codes, then a value and the text expected for each format.
void CheckTable(const std::string& name)
{
    const auto rows = ReadTsv(Fixture("numfmt/" + name));
    ASSERT_GT(rows.size(), 10u);
    const std::vector<std::string>& header = rows[0];
    std::vector<NumberFormat> formats;
    for (size_t c = 1; c < header.size(); ++c) {
        ASSERT_TRUE(NumberFormat::IsValidCode(header[c])) << header[c];
        formats.push_back(NumberFormat::Parse(header[c]));
    }
    size_t checked = 0;
    for (size_t r = 1; r < rows.size(); ++r) {
        const std::vector<std::string>& row = rows[r];
        ASSERT_EQ(row.size(), header.size()) << name << " row " << r;
        const double value = std::strtod(row[0].c_str(), nullptr);
        for (size_t c = 1; c < row.size(); ++c) {
            std::string expected = row[c];
            // A leading "|" flags a cell in the source table (its own runner sets those
            // apart). The text after it is the engineering-notation result the other cells of
            // its column follow, so it is checked like them rather than skipped.
            if (!expected.empty() && expected[0] == '|')
                expected.erase(0, 1);
            EXPECT_EQ(Render(formats[c - 1], value), expected)
                << name << ": value " << row[0] << " format " << header[c];
            ++checked;
        }
    }
    EXPECT_GT(checked, 50u);
}

TEST(NumberFormatFixtures, ScientificTableMatches)
{
    CheckTable("exp.tsv");
}

TEST(NumberFormatFixtures, ThousandsAndScalingTableMatches)
{
    CheckTable("comma.tsv");
}

TEST(NumberFormatFixtures, EveryValidCodeParses)
{
    std::istringstream in(ReadBytes(Fixture("numfmt/valid.tsv")));
    std::string code;
    size_t count = 0;
    while (std::getline(in, code)) {
        if (code.empty())
            continue;
        ++count;
        EXPECT_TRUE(NumberFormat::IsValidCode(code)) << code;
        // Rendering must not throw or crash for any of them, whatever the value.
        const NumberFormat format = NumberFormat::Parse(code);
        for (double value : { 0.0, 1.0, -1.5, 12345.678, 0.000123, 45000.75, 1e20, -1e-20 }) {
            std::string out;
            format.Format(value, DateSystem::Date1900, out);
            format.Format(value, DateSystem::Date1904, out);
        }
        std::string text;
        format.FormatText("abc", text);
    }
    EXPECT_GT(count, 400u);
}

TEST(NumberFormatFixtures, NegativeAndAccountingTableMatches)
{
    const auto rows = ReadTsv(Fixture("numfmt/negative.tsv"));
    ASSERT_GT(rows.size(), 15u);
    ASSERT_EQ(rows[0][0], "format");
    for (size_t r = 1; r < rows.size(); ++r) {
        const std::vector<std::string>& row = rows[r];
        ASSERT_EQ(row.size(), 3u) << "row " << r;
        ASSERT_TRUE(NumberFormat::IsValidCode(row[0])) << row[0];
        EXPECT_EQ(Render(NumberFormat::Parse(row[0]), std::strtod(row[1].c_str(), nullptr)), row[2])
            << "value " << row[1] << " format " << row[0];
    }
}

TEST(NumberFormatFixtures, DateAndTimeCodesAreRecognised)
{
    const JsonValue rows = JsonReader(ReadBytes(Fixture("numfmt/is_date.json"))).Read();
    ASSERT_GT(rows.items.size(), 400u);
    size_t dates = 0;
    for (const JsonValue& row : rows.items) {
        ASSERT_EQ(row.items.size(), 2u);
        const std::string& code = row.items[0].text;
        ASSERT_TRUE(NumberFormat::IsValidCode(code)) << code;
        EXPECT_EQ(NumberFormat::Parse(code).IsDateTime(), row.items[1].boolean) << code;
        dates += row.items[1].boolean ? 1 : 0;
    }
    EXPECT_GT(dates, 100u);
}

// Whether a code counts elapsed time: brackets holding one letter h, m or s, repeated,
// outside quoted text ("[hh]", not "[HIJ]").
bool HasElapsedPart(const std::string& code)
{
    bool quoted = false;
    for (size_t i = 0; i < code.size(); ++i) {
        if (code[i] == '\\') {
            ++i;
        } else if (code[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && code[i] == '[') {
            const size_t close = code.find(']', i);
            if (close == std::string::npos)
                return false;
            std::string inside = code.substr(i + 1, close - i - 1);
            for (char& c : inside)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (!inside.empty() && inside.find_first_not_of(inside[0]) == std::string::npos
                && std::string_view("hms").find(inside[0]) != std::string_view::npos)
                return true;
            i = close;
        }
    }
    return false;
}

TEST(NumberFormatFixtures, DateAndTimeCodesAreDatesOrDurations)
{
    const JsonValue rows = JsonReader(ReadBytes(Fixture("numfmt/is_date.json"))).Read();
    size_t durations = 0;
    for (const JsonValue& row : rows.items) {
        const std::string& code = row.items[0].text;
        const bool dated = row.items[1].boolean;
        const bool elapsed = dated && HasElapsedPart(code);
        const NumberFormat format = NumberFormat::Parse(code);
        EXPECT_EQ(format.IsDateOrTimeFormat(), dated && !elapsed) << code;
        EXPECT_EQ(format.IsElapsedTimeFormat(), elapsed) << code;
        durations += elapsed ? 1 : 0;
    }
    EXPECT_GE(durations, 7u);
}

// The serial of a calendar date counted here on its own, from std::chrono's civil calendar:
// the 1900 system counts the day 1900-02-29 that never was, the 1904 system starts at 0.
double SerialOf(int year, unsigned month, unsigned day, bool date1904)
{
    using namespace std::chrono;
    const sys_days date { std::chrono::year(year) / std::chrono::month(month) / std::chrono::day(day) };
    if (date1904)
        return (date - sys_days { 1904y / January / 1d }).count();
    const int serial = (date - sys_days { 1899y / December / 31d }).count();
    return serial >= 60 ? serial + 1 : serial;
}

TEST(NumberFormatFixtures, DateSerialsBothWaysInBothSystems)
{
    using vellumcast::spreadsheet::xlsx::IsoDateToSerial;
    const JsonValue rows = JsonReader(ReadBytes(Fixture("numfmt/date.json"))).Read();
    ASSERT_GT(rows.items.size(), 10u);
    const NumberFormat iso = NumberFormat::Parse("yyyy-mm-dd hh:mm:ss");
    for (const JsonValue& row : rows.items) {
        ASSERT_EQ(row.items.size(), 3u);
        int year = 0;
        unsigned month = 0, day = 0;
        // "new Date(Y,M,D)" counts months from 0.
        ASSERT_EQ(std::sscanf(row.items[0].text.c_str(), "new Date(%d,%u,%u)", &year, &month, &day), 3);
        const bool date1904 = row.items[2].boolean;
        const DateSystem system = date1904 ? DateSystem::Date1904 : DateSystem::Date1900;
        const double serial = SerialOf(year, month + 1, day, date1904);
        std::string shown;
        iso.Format(serial, system, shown);
        EXPECT_EQ(shown, row.items[1].text) << row.items[0].text << (date1904 ? " (1904)" : "");
        double read = -1;
        EXPECT_TRUE(IsoDateToSerial(row.items[1].text, system, read)) << row.items[1].text;
        EXPECT_EQ(read, serial) << row.items[1].text << (date1904 ? " (1904)" : "");
        std::string raw;
        vellumcast::spreadsheet::numfmt::AppendRawValue(serial, iso, system, raw);
        EXPECT_EQ(raw, row.items[1].text.substr(0, 10) + "T" + row.items[1].text.substr(11)) << row.items[0].text;
    }
}

} // namespace
