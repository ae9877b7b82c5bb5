// The values OpenDocument cells record beside their displayed text, as the raw and ISO
// styles give them, the displayed text staying as it was.
#include "spreadsheet/ods/OdsValues.h"
#include "spreadsheet/Workbook.h"
#include "spreadsheet/numfmt/RawValue.h"
#include "support/LoadBesideWalk.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

using ods::AppendOdsValue;
using ods::OdsValueKind;

std::string Value(std::string_view type, std::string_view value, OdsValueKind expected)
{
    std::string out;
    EXPECT_EQ(AppendOdsValue(type, value, out), expected) << type << " " << value;
    return out;
}

TEST(OdsValues, EachValueTypeGivesItsRawText)
{
    EXPECT_EQ(Value("float", "0.1", OdsValueKind::Value), "0.1");
    EXPECT_EQ(Value("float", "1234.5678", OdsValueKind::Value), "1234.5678");
    EXPECT_EQ(Value("float", "-1e21", OdsValueKind::Value), "-1E+21");
    EXPECT_EQ(Value("float", "0.30000000000000004", OdsValueKind::Value), "0.30000000000000004");
    EXPECT_EQ(Value("percentage", "0.125", OdsValueKind::Value), "0.125");
    EXPECT_EQ(Value("currency", "-3", OdsValueKind::Value), "-3");
    EXPECT_EQ(Value("date", "2026-12-09", OdsValueKind::Date), "2026-12-09");
    EXPECT_EQ(Value("date", "2026-12-09T14:05:00", OdsValueKind::Date), "2026-12-09T14:05:00");
    EXPECT_EQ(Value("date", "2026-12-09T14:05:00.250", OdsValueKind::Date), "2026-12-09T14:05:00.25");
    EXPECT_EQ(Value("date", "2026-12-09T14:05:00.000", OdsValueKind::Date), "2026-12-09T14:05:00");
    EXPECT_EQ(Value("time", "PT14H05M00S", OdsValueKind::Date), "14:05:00");
    EXPECT_EQ(Value("time", "PT10H10M10.12S", OdsValueKind::Date), "10:10:10.12");
    EXPECT_EQ(Value("time", "PT0S", OdsValueKind::Date), "00:00:00");
    // Past a day, or negative, a time is a duration: its number of days.
    EXPECT_EQ(Value("time", "PT36H", OdsValueKind::Value), "1.5");
    EXPECT_EQ(Value("time", "P1DT12H", OdsValueKind::Value), "1.5");
    EXPECT_EQ(Value("time", "-PT6H", OdsValueKind::Value), "-0.25");
    EXPECT_EQ(Value("boolean", "true", OdsValueKind::Value), "TRUE");
    EXPECT_EQ(Value("boolean", "0", OdsValueKind::Value), "FALSE");
}

// Most values are written as raw numbers already and are taken as written; whatever the
// text, the result must be what converting the number gives.
TEST(OdsValues, NumbersTakenAsWrittenAreThoseConversionGives)
{
    std::mt19937 random(20261209);
    const auto digits = [&](int count) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += static_cast<char>('0' + random() % 10);
        return text;
    };
    std::vector<std::string> texts = { "0", "-0", "0.0", "-0.5", "0.0001", "0.00001", "0.00009", "10", "007",
        "123456789012345", "1234567890123456", "999999999999999.9", "0.123456789012345", "0.1234567890123456", "1.5",
        "1.50", "1e5", "1.", ".5", "-", "1.2.3" };
    for (int i = 0; i < 20000; ++i) {
        std::string text = random() % 4 == 0 ? "-" : "";
        text += random() % 3 == 0 ? "0" : digits(1 + static_cast<int>(random() % 17));
        if (random() % 2 == 0)
            text += "." + digits(1 + static_cast<int>(random() % 17));
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        double number = 0;
        const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
        std::string converted;
        const bool readable = failure == std::errc() && end == text.data() + text.size();
        if (readable)
            numfmt::AppendRawNumber(number, converted);
        std::string out;
        const OdsValueKind kind = AppendOdsValue("float", text, out);
        EXPECT_EQ(kind, readable ? OdsValueKind::Value : OdsValueKind::None) << text;
        EXPECT_EQ(out, converted) << text;
    }
}

// Times of day written PTnnHnnMnnS are read without going through a number of days; they
// must come out as the duration read as days and written as a time of day does, and any
// other duration must still take that way.
TEST(OdsValues, TimesOfDayReadDirectlyAreThoseTheirDaysGive)
{
    const auto throughDays = [](int hours, int minutes, double seconds) {
        const double days = (hours * 3600 + minutes * 60 + seconds) / 86400;
        std::string out;
        if (!(days < 1
                && numfmt::AppendIsoDateTime(days, numfmt::DateTimeParts::Time, numfmt::DateSystem::Date1900, out)))
            numfmt::AppendRawNumber(days, out);
        return out;
    };
    for (const int hours : { 0, 1, 9, 10, 23, 24, 99, 100 }) {
        for (const int minutes : { 0, 7, 59, 60, 75 }) {
            for (const int seconds : { 0, 5, 59, 60 }) {
                for (const bool padded : { true, false }) {
                    char written[40];
                    std::snprintf(
                        written, sizeof written, padded ? "PT%02dH%02dM%02dS" : "PT%dH%dM%dS", hours, minutes, seconds);
                    std::string out;
                    const ods::OdsValue value = ods::ReadOdsValue(ods::OdsValueType::Time, written, out);
                    const bool ofDay = hours * 3600 + minutes * 60 + seconds < 86400;
                    EXPECT_EQ(value.kind, ofDay ? OdsValueKind::Date : OdsValueKind::Value) << written;
                    EXPECT_FALSE(value.asWritten) << written;
                    EXPECT_EQ(out, throughDays(hours, minutes, seconds)) << written;
                }
            }
        }
    }
    EXPECT_EQ(Value("time", "PT001H02M03S", OdsValueKind::Date), throughDays(1, 2, 3));
    EXPECT_EQ(Value("time", "PT01H02M03.5S", OdsValueKind::Date), throughDays(1, 2, 3.5));
    EXPECT_EQ(Value("time", "PT01H02M", OdsValueKind::Date), throughDays(1, 2, 0));
    EXPECT_EQ(Value("time", "PT01H02M03SX", OdsValueKind::None), "");
}

// A value taken as written appends nothing; one that reads differently appends its raw text.
TEST(OdsValues, OnlyValuesWrittenAsTheirRawTextAreTakenAsWritten)
{
    for (const auto& [type, written, asWritten] : std::vector<std::tuple<ods::OdsValueType, std::string, bool>> {
             { ods::OdsValueType::Number, "0.43", true }, { ods::OdsValueType::Number, "15838", true },
             { ods::OdsValueType::Number, "0.430", false }, { ods::OdsValueType::Number, "1e3", false },
             { ods::OdsValueType::Date, "2003-04-04", true }, { ods::OdsValueType::Date, "2003-04-04T01:02:03", true },
             { ods::OdsValueType::Date, "2003-04-04T01:02:03.25", true },
             { ods::OdsValueType::Date, "2003-04-04T01:02:03.250", false },
             { ods::OdsValueType::Date, "2003-04-04T01:02:03.000", false },
             { ods::OdsValueType::Boolean, "true", false }, { ods::OdsValueType::Time, "PT02H02M02S", false } }) {
        std::string out;
        const ods::OdsValue value = ods::ReadOdsValue(type, written, out);
        EXPECT_EQ(value.asWritten, asWritten) << written;
        EXPECT_NE(value.kind, OdsValueKind::None) << written;
        EXPECT_EQ(out.empty(), asWritten) << written;
    }
    for (const auto& [type, expected] :
        std::vector<std::pair<std::string, ods::OdsValueType>> { { "float", ods::OdsValueType::Number },
            { "percentage", ods::OdsValueType::Number }, { "currency", ods::OdsValueType::Number },
            { "date", ods::OdsValueType::Date }, { "time", ods::OdsValueType::Time },
            { "boolean", ods::OdsValueType::Boolean }, { "string", ods::OdsValueType::String },
            { "void", ods::OdsValueType::None }, { "floats", ods::OdsValueType::None },
            { "Float", ods::OdsValueType::None }, { "", ods::OdsValueType::None } })
        EXPECT_EQ(ods::OdsValueTypeOf(type), expected) << type;
}

TEST(OdsValues, MalformedOrTextualValuesGiveNone)
{
    for (const auto& [type, value] : std::vector<std::pair<std::string, std::string>> { { "string", "12" },
             { "float", "" }, { "float", "1,5" }, { "float", "12abc" }, { "float", "inf" }, { "date", "2026-13-01" },
             { "date", "26-12-09" }, { "date", "2026-12-09T25:00:00" }, { "date", "2026-12-09 14:05:00" },
             { "date", "2026-12-09T14:05:00." }, { "date", "-2026-12-09" }, { "time", "14:05" }, { "time", "PT" },
             { "time", "P5H" }, { "time", "PT5X" }, { "time", "PT5" }, { "boolean", "yes" }, { "", "1" } })
        EXPECT_EQ(Value(type, value, OdsValueKind::None), "");
}

// A flat OpenDocument document with one table of these rows.
std::string Flat(const std::string& rows)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document"
           " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
           " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
           " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
           " office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\"><office:body>"
           "<office:spreadsheet><table:table table:name=\"S\">"
        + rows + "</table:table></office:spreadsheet></office:body></office:document>";
}

std::vector<std::string> Texts(Worksheet& sheet, CellTextStyle style)
{
    std::vector<std::string> texts;
    const RowBatch rows = sheet.Rows();
    for (size_t i = 0; i < rows.EndCell(); ++i)
        texts.emplace_back(sheet.TextOf(rows.CellAt(i), rows, style));
    return texts;
}

TEST(OdsValues, WorksheetsGiveValuesInRawAndIsoStylesAndTheSameDisplayedText)
{
    const std::string cells
        = "<table:table-cell office:value-type=\"float\" office:value=\"0.125\"><text:p>0.13</text:p>"
          "</table:table-cell>"
          "<table:table-cell office:value-type=\"date\" office:date-value=\"2023-03-15\"><text:p>15/03/23</text:p>"
          "</table:table-cell>"
          "<table:table-cell office:value-type=\"time\" office:time-value=\"PT36H\"><text:p>36:00</text:p>"
          "</table:table-cell>"
          "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\"><text:p>WAHR</text:p>"
          "</table:table-cell>"
          "<table:table-cell office:value-type=\"string\"><text:p>1,5</text:p></table:table-cell>"
          "<table:table-cell office:value-type=\"float\" office:value=\"7\"><text:p>7</text:p></table:table-cell>";
    // Once plainly and once in a repeated row, whose copies share their texts.
    const std::string document = Flat("<table:table-row>" + cells
        + "</table:table-row><table:table-row table:number-rows-repeated=\"2\">" + cells + "</table:table-row>");
    Application application;
    auto book = application.OpenBytes(document, "v.fods");
    Worksheet& sheet = book->Worksheets().front();
    const std::vector<std::string> displayed = { "0.13", "15/03/23", "36:00", "WAHR", "1,5", "7" };
    const std::vector<std::string> raw = { "0.125", "2023-03-15", "1.5", "TRUE", "1,5", "7" };
    const std::vector<std::string> iso = { "0.13", "2023-03-15", "36:00", "WAHR", "1,5", "7" };
    const auto thrice = [](const std::vector<std::string>& row) {
        std::vector<std::string> all;
        for (int i = 0; i < 3; ++i)
            all.insert(all.end(), row.begin(), row.end());
        return all;
    };
    EXPECT_EQ(Texts(sheet, CellTextStyle::Displayed), thrice(displayed));
    EXPECT_EQ(Texts(sheet, CellTextStyle::Raw), thrice(raw));
    EXPECT_EQ(Texts(sheet, CellTextStyle::IsoDates), thrice(iso));
    EXPECT_EQ(sheet.CellText(3, 2), "15/03/23");

    // The rows handed over during a load give the same.
    std::vector<std::string> handedOver;
    sheet.Unload();
    testing::ScopedLoadBesideWalkThreshold lowered(0);
    sheet.VisitRowsWhileLoading([&](const RowBatch& rows) {
        for (size_t r = 0; r < rows.RowCount(); ++r) {
            for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i)
                handedOver.emplace_back(sheet.TextOf(rows.CellAt(i), rows, CellTextStyle::Raw));
        }
        return true;
    });
    EXPECT_EQ(handedOver, thrice(raw));
}

// A workbook opened for its displayed texts alone keeps no values: every style then gives
// the displayed text, in each worksheet, the second read on from where the first one stopped too.
TEST(OdsValues, WorkbooksOpenedWithoutValuesGiveTheDisplayedTextInEveryStyle)
{
    const std::string row = "<table:table-row>"
                            "<table:table-cell office:value-type=\"percentage\" office:value=\"0.125\">"
                            "<text:p>13%</text:p></table:table-cell>"
                            "<table:table-cell office:value-type=\"date\" office:date-value=\"2023-03-15\">"
                            "<text:p>15/03/23</text:p></table:table-cell>"
                            "</table:table-row>";
    const std::string document = Flat(row + "</table:table><table:table table:name=\"T\">" + row);
    const std::vector<std::string> displayed = { "13%", "15/03/23" };
    const std::vector<std::string> raw = { "0.125", "2023-03-15" };
    const std::vector<std::string> iso = { "13%", "2023-03-15" };
    for (const bool keep : { true, false }) {
        Application application;
        application.KeepRecordedValues(keep);
        auto book = application.OpenBytes(document, "k.fods");
        size_t sheets = 0;
        for (Worksheet& sheet : book->Worksheets()) {
            ++sheets;
            EXPECT_EQ(Texts(sheet, CellTextStyle::Displayed), displayed) << keep;
            EXPECT_EQ(Texts(sheet, CellTextStyle::Raw), keep ? raw : displayed) << keep;
            EXPECT_EQ(Texts(sheet, CellTextStyle::IsoDates), keep ? iso : displayed) << keep;
        }
        EXPECT_EQ(sheets, 2u);
    }
}

// A value that cannot be read leaves the displayed text standing in every style; one that
// can is the raw text whatever the paragraph shows.
TEST(OdsValues, UnreadableValuesLeaveTheTextInEveryStyle)
{
    const std::string document = Flat("<table:table-row>"
                                      "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"yes\">"
                                      "<text:p>ja</text:p></table:table-cell>"
                                      "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"0\">"
                                      "<text:p>nein</text:p></table:table-cell>"
                                      "<table:table-cell office:value-type=\"float\" office:value=\"12abc\">"
                                      "<text:p>zwölf</text:p></table:table-cell>"
                                      "<table:table-cell office:value-type=\"time\" office:time-value=\"PT25H\">"
                                      "<text:p>25:00</text:p></table:table-cell>"
                                      "</table:table-row>");
    Application application;
    auto book = application.OpenBytes(document, "u.fods");
    Worksheet& sheet = book->Worksheets().front();
    EXPECT_EQ(Texts(sheet, CellTextStyle::Displayed), (std::vector<std::string> { "ja", "nein", "zwölf", "25:00" }));
    EXPECT_EQ(
        Texts(sheet, CellTextStyle::Raw), (std::vector<std::string> { "ja", "FALSE", "zwölf", "1.0416666666666667" }));
}

} // namespace
} // namespace vellumcast::spreadsheet
