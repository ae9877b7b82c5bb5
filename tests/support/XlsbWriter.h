#pragma once
// A small test-only writer of binary workbooks (xlsb): the xlsx package with record parts,
// so tests can build precise workbooks (and damaged ones) without fixture files. Its sheet
// methods carry the names of XlsxWriter's, so one function can fill either writer.

#include "support/XlsxWriter.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vellumcast::testing {

class XlsbWriter {
public:
    class Sheet {
    public:
        // Cells, written in call order; a row header starts whenever the row changes.
        Sheet& Number(int row, int column, double value, uint32_t style = 0); // the full form
        Sheet& Rk(int row, int column, uint32_t rk, uint32_t style = 0); // the compact form, as stored
        Sheet& SharedString(int row, int column, std::string_view text, uint32_t style = 0);
        Sheet& InlineString(int row, int column, std::string_view text, uint32_t style = 0);
        Sheet& RichString(int row, int column, std::string_view text, uint32_t style = 0); // with one run
        Sheet& Boolean(int row, int column, bool value, uint32_t style = 0);
        Sheet& Error(int row, int column, std::string_view text); // "#DIV/0!", …
        Sheet& Blank(int row, int column, uint32_t style);
        // Formulas with their cached values. The formula is the parsed-expression tokens
        // (rgce) given, or else one constant token of the cached value.
        Sheet& FormulaString(
            int row, int column, std::string_view formula, std::string_view cached, std::string_view rgce = {});
        Sheet& FormulaNumber(int row, int column, double cached, uint32_t style = 0, std::string_view rgce = {});
        Sheet& FormulaBoolean(int row, int column, bool cached, std::string_view rgce = {});
        Sheet& FormulaError(int row, int column, std::string_view text, std::string_view rgce = {});
        // The recorded extent, 1-based and inclusive.
        Sheet& Dimension(int firstRow, int firstColumn, int lastRow, int lastColumn);
        // Any record among the cells, as given.
        Sheet& Raw(std::string record);
        // A row header for this row with the flag that hides it (fDyZero); the row's
        // cells may follow.
        Sheet& HiddenRow(int row);
        // Column information (before the cells) hiding first..last, 1-based, by the flag or
        // by a width of zero.
        Sheet& HiddenColumns(int first, int last, bool byZeroWidth = false);
        // A merged area (after the cells), 1-based and inclusive.
        Sheet& Merge(int firstRow, int firstColumn, int lastRow, int lastColumn);

    private:
        friend class XlsbWriter;
        Sheet& Cell(int row, int column, uint16_t type, uint32_t style, std::string_view value);
        XlsbWriter* m_owner = nullptr;
        std::string m_name;
        XlsxVisibility m_visibility = XlsxVisibility::Visible;
        bool m_chart = false;
        std::string m_dimension;
        std::string m_data;
        std::string m_columns; // BrtColInfo records
        std::string m_merges; // BrtMergeCell records
        int m_row = 0;
    };

    Sheet& AddSheet(std::string name, XlsxVisibility visibility = XlsxVisibility::Visible);
    void AddChartSheet(std::string name);
    // A cell style with this number format code (custom formats get ids from 164) or
    // built-in format id; returns its index among the cell formats.
    uint32_t AddStyle(std::string_view formatCode);
    uint32_t AddBuiltInStyle(int formatId);
    XlsbWriter& Date1904(bool on = true);
    XlsbWriter& Compress(bool on = true);

    // The parts alone, for tests that damage one: name → bytes.
    std::vector<std::pair<std::string, std::string>> Parts() const;
    std::string Build() const;
    std::string Save(const std::string& path) const;

    // One record: its type and size as variable-length numbers, then data.
    static std::string Record(uint16_t type, std::string_view data);
    // An XLWideString of UTF-8 text: a 32-bit count of UTF-16 units, then the units.
    static std::string WideString(std::string_view text);
    static std::string U16(uint32_t value);
    static std::string U32(uint32_t value);

private:
    uint32_t SharedIndex(std::string_view text);
    std::string WorkbookPart() const;
    std::string StylesPart() const;
    std::string SharedStringsPart() const;

    std::deque<Sheet> m_sheets;
    std::vector<std::string> m_shared;
    std::unordered_map<std::string, uint32_t> m_sharedIndex;
    std::vector<std::pair<int, std::string>> m_numFmts;
    std::vector<int> m_xfFormats { 0 };
    bool m_date1904 = false;
    bool m_compress = false;
};

} // namespace vellumcast::testing
