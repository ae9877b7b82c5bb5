#pragma once
// A small test-only writer of ZIP archives and xlsx packages, so tests can build precise
// workbooks (and damaged ones) without fixture files.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vellumcast::testing {

struct ZipMember {
    std::string name;
    std::string data;
    bool deflate = false;
    // Lies and oddities for hostile-input tests.
    std::optional<uint32_t> crcOverride;
    std::optional<uint64_t> uncompressedSizeOverride;
    uint16_t flags = 0;
    uint16_t method = 0xFFFF; // 0xFFFF: 8 when deflate, else 0
    bool dataDescriptor = false; // sizes and CRC zero in the local header, given after the data
};

class ZipWriter {
public:
    ZipWriter& Add(std::string name, std::string data, bool deflate = false);
    ZipWriter& Add(ZipMember member);
    // Writes the ZIP64 forms: sizes and offsets in extra fields, and the ZIP64 end records.
    ZipWriter& Zip64(bool on = true);
    // The archive's bytes.
    std::string Finish() const;

private:
    std::vector<ZipMember> m_members;
    bool m_zip64 = false;
};

// Raw deflate of data (ISA-L), for members written compressed.
std::string Deflate(std::string_view data);

enum class XlsxVisibility { Visible, Hidden, VeryHidden };

class XlsxWriter {
public:
    class Sheet {
    public:
        // Cells, written in call order; a new <row> starts whenever the row changes.
        // style is an index returned by XlsxWriter::AddStyle (0: the default style).
        Sheet& Number(int row, int column, double value, uint32_t style = 0);
        Sheet& NumberText(int row, int column, std::string_view value, uint32_t style = 0); // <v> as given
        Sheet& SharedString(int row, int column, std::string_view text, uint32_t style = 0);
        Sheet& InlineString(int row, int column, std::string_view text, uint32_t style = 0);
        Sheet& FormulaString(int row, int column, std::string_view formula, std::string_view cached);
        Sheet& Boolean(int row, int column, bool value, uint32_t style = 0);
        Sheet& Error(int row, int column, std::string_view text);
        Sheet& Blank(int row, int column, uint32_t style);
        // Replaces the whole <sheetData> content with this XML.
        Sheet& RawSheetData(std::string xml);
        // XML before <sheetData> (<cols>) and after it (<mergeCells>).
        Sheet& AroundSheetData(std::string before, std::string after);

    private:
        friend class XlsxWriter;
        Sheet& Cell(int row, int column, std::string_view attributes, std::string_view content);
        XlsxWriter* m_owner = nullptr;
        std::string m_name;
        XlsxVisibility m_visibility = XlsxVisibility::Visible;
        bool m_chart = false;
        std::string m_data;
        std::string m_before;
        std::string m_after;
        int m_openRow = 0;
        bool m_raw = false;
    };

    Sheet& AddSheet(std::string name, XlsxVisibility visibility = XlsxVisibility::Visible);
    // A chart sheet among the sheets, which readers must leave out.
    void AddChartSheet(std::string name);
    // A cell style with this number format code (custom formats get ids from 164) or
    // built-in format id; returns its index in cellXfs.
    uint32_t AddStyle(std::string_view formatCode);
    uint32_t AddBuiltInStyle(int formatId);
    XlsxWriter& Date1904(bool on = true);
    // A defined name: its formula text, of the workbook or of the sheet at localSheet.
    XlsxWriter& DefinedName(std::string_view name, std::string_view formula, int localSheet = -1);
    // Members written compressed (the default stores them).
    XlsxWriter& Compress(bool on = true);

    std::string Build() const;
    // Build() written to path; returns path.
    std::string Save(const std::string& path) const;

    static std::string Reference(int row, int column); // "C3"
    static std::string Escape(std::string_view text);

private:
    uint32_t SharedIndex(std::string_view text);

    std::deque<Sheet> m_sheets;
    std::vector<std::string> m_shared;
    std::unordered_map<std::string, uint32_t> m_sharedIndex;
    std::vector<std::pair<int, std::string>> m_numFmts;
    std::vector<int> m_xfFormats { 0 };
    bool m_date1904 = false;
    bool m_compress = false;
    std::string m_definedNames;
};

} // namespace vellumcast::testing
