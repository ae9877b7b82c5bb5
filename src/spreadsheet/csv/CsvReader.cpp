// Delimited text (csv, tsv, txt and text under any other name): one worksheet named after
// the file, every field kept as the text written, quoted fields as RFC 4180 describes
// them. The bytes are UTF-16 with a byte-order mark, UTF-8 (with or without one) or, when
// they are not valid UTF-8, Windows-1252. The divider is chosen as the spreadsheet
// application chooses it (docs/delimited-text.md): a first line "sep=X" names it; else
// the name decides for .csv (comma), .tsv and .tab (tab); else the first lines do.

#include "spreadsheet/csv/CsvReader.h"
#include "spreadsheet/SheetData.h"
#include "spreadsheet/text/TextEncoding.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace vellumcast::spreadsheet::csv {

namespace {

std::string LowerExtension(const std::filesystem::path& name)
{
    std::string extension = name.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// Splits text into records and fields and hands them to the builder.
class DelimitedTextParser {
public:
    DelimitedTextParser(std::string_view text, char separator, SheetBuilder& builder)
        : m_text(text)
        , m_separator(separator)
        , m_builder(builder)
    {
    }

    void Run()
    {
        const size_t size = m_text.size();
        size_t pos = 0;
        int32_t row = 1;
        int32_t column = 0;
        while (pos < size) {
            if (column == 0 && IsLineEnd(m_text[pos])) {
                // An empty line records nothing; it only takes up its row.
                pos = SkipLineEnd(pos);
                row = NextRow(row, pos);
                continue;
            }
            const std::string_view field = m_text[pos] == '"' ? QuotedField(pos) : PlainField(pos);
            column = NextColumn(column);
            const bool more = pos < size && m_text[pos] == m_separator;
            Emit(row, column, field, !more);
            if (more) {
                ++pos;
                if (pos == size) // "a,b," ends with an empty field
                    Emit(row, NextColumn(column), {}, true);
                continue;
            }
            if (pos >= size)
                break;
            pos = SkipLineEnd(pos);
            row = NextRow(row, pos);
            column = 0;
        }
    }

private:
    bool IsLineEnd(char c) const { return c == '\n' || c == '\r'; }
    bool IsDelimiter(char c) const { return c == m_separator || c == '\n' || c == '\r'; }

    size_t SkipLineEnd(size_t pos) const
    {
        if (m_text[pos] == '\r' && pos + 1 < m_text.size() && m_text[pos + 1] == '\n')
            return pos + 2;
        return pos + 1;
    }

    // The row after this one, refused past the sheet limit when more text follows. How
    // far the text is read guides those composing its rows while it loads.
    int32_t NextRow(int32_t row, size_t pos) const
    {
        if (row >= kMaxRows && pos < m_text.size())
            throw SpreadsheetError(ErrorCode::TooLarge,
                "the text holds more than " + std::to_string(kMaxRows) + " lines, the most a worksheet holds");
        m_builder.NoteRead(pos, m_text.size());
        return row + 1;
    }

    static int32_t NextColumn(int32_t column)
    {
        if (column >= kMaxColumns)
            throw SpreadsheetError(ErrorCode::TooLarge,
                "a line holds more than " + std::to_string(kMaxColumns) + " fields, the most a worksheet row holds");
        return column + 1;
    }

    // An unquoted field: everything up to the separator or the line end, quotes included.
    std::string_view PlainField(size_t& pos) const
    {
        const size_t start = pos;
        while (pos < m_text.size() && !IsDelimiter(m_text[pos]))
            ++pos;
        return m_text.substr(start, pos - start);
    }

    // A quoted field: separators and line ends inside are text, "" is one quote. Text after
    // the closing quote, up to the separator, is kept as written; a quote never closed
    // takes the rest of the file.
    std::string_view QuotedField(size_t& pos)
    {
        ++pos;
        // Most quoted fields hold no "" and end at their closing quote: their text is
        // a part of the file's, with nothing to copy.
        const size_t start = pos;
        if (const void* found = std::memchr(m_text.data() + pos, '"', m_text.size() - pos)) {
            const auto quote = static_cast<size_t>(static_cast<const char*>(found) - m_text.data());
            if (quote + 1 == m_text.size() || IsDelimiter(m_text[quote + 1])) {
                pos = quote + 1;
                return m_text.substr(start, quote - start);
            }
        }
        m_scratch.clear();
        while (pos < m_text.size()) {
            const void* found = std::memchr(m_text.data() + pos, '"', m_text.size() - pos);
            if (!found) {
                m_scratch.append(m_text.substr(pos));
                pos = m_text.size();
                return m_scratch;
            }
            const auto quote = static_cast<size_t>(static_cast<const char*>(found) - m_text.data());
            m_scratch.append(m_text.substr(pos, quote - pos));
            pos = quote + 1;
            if (pos < m_text.size() && m_text[pos] == '"') {
                m_scratch.push_back('"');
                ++pos;
                continue;
            }
            break;
        }
        const size_t rest = pos;
        while (pos < m_text.size() && !IsDelimiter(m_text[pos]))
            ++pos;
        m_scratch.append(m_text.substr(rest, pos - rest));
        return m_scratch;
    }

    void Emit(int32_t row, int32_t column, std::string_view field, bool lastOfLine)
    {
        // A field is a cell's text, bounded as the text of any cell the engine reads.
        constexpr size_t kMaxFieldText = 16u << 20;
        if (field.size() > kMaxFieldText)
            throw SpreadsheetError(ErrorCode::TooLarge,
                "field " + std::to_string(column) + " of line " + std::to_string(row) + " holds more than "
                    + std::to_string(kMaxFieldText) + " bytes of text, more than the engine accepts");
        if (field.empty()) {
            // An empty field shows as a cell that is not there. Only the first and the last
            // of a line are recorded, so that the used range spans every line's fields,
            // and a line of nothing but commas costs two cells, not one per comma.
            if (column == 1 || lastOfLine)
                m_builder.AddBlank(row, column, 0);
            return;
        }
        // A field as written lies in the text itself, which the sheet shares; only
        // quoted fields, unescaped into the scratch, are copied.
        if (field.data() >= m_text.data() && field.data() < m_text.data() + m_text.size())
            m_builder.AddSharedText(row, column, field, 0);
        else
            m_builder.AddString(row, column, field, 0);
    }

    std::string_view m_text;
    char m_separator;
    SheetBuilder& m_builder;
    std::string m_scratch;
};

// The divider a file's name sets, or 0 when its content decides.
char SeparatorOfName(const std::string& extension)
{
    if (extension == ".csv")
        return ',';
    if (extension == ".tsv" || extension == ".tab")
        return '\t';
    return 0;
}

// A first line "sep=X" (the letters in any case) names the divider X; that line is no
// row. Returns 0 and leaves the text alone when there is none.
char TakeSeparatorLine(std::string_view& text)
{
    if (text.size() < 5 || (text.substr(0, 4) != "sep=" && text.substr(0, 4) != "SEP=")
        || static_cast<unsigned char>(text[4]) >= 0x80 || text[4] == '\n' || text[4] == '\r')
        return 0;
    const char separator = text[4];
    size_t end = 5;
    if (end < text.size() && text[end] == '\r')
        ++end;
    if (end < text.size() && text[end] == '\n')
        ++end;
    if (end == 5 && end < text.size())
        return 0; // "sep=ab" is an ordinary first line
    text.remove_prefix(end);
    return separator;
}

// Text under no divider's name is tab-separated when its first lines hold a tab and no
// comma outside quotes, as a tab-separated export always does; else comma-separated.
char SeparatorOfContent(std::string_view text)
{
    constexpr size_t kLinesLooked = 20;
    constexpr size_t kBytesLooked = 64 << 10;
    bool quoted = false, tab = false;
    size_t lines = 0;
    for (size_t i = 0; i < std::min(text.size(), kBytesLooked) && lines < kLinesLooked; ++i) {
        const char c = text[i];
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == ',')
            return ',';
        else if (c == '\t')
            tab = true;
        else if (c == '\n')
            ++lines;
    }
    return tab ? '\t' : ',';
}

class CsvReader final : public WorkbookReader {
public:
    CsvReader(std::shared_ptr<const FileBytes> bytes, char separator, std::function<void()> yield)
        : m_bytes(std::move(bytes))
        , m_separatorOfName(separator)
        , m_yield(std::move(yield))
    {
    }

    uint64_t SheetBytes(size_t) const override { return m_bytes->Bytes().size(); }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        if (index != 0)
            throw SpreadsheetError(ErrorCode::Corrupt, "delimited text holds a single worksheet");
        const auto bytes = m_bytes->Bytes();
        std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const text::ByteOrderMark mark = text::ByteOrderMarkOf(text);
        text.remove_prefix(text::ByteOrderMarkLength(mark));
        // The cells point into the text rather than copy it: the file's own bytes, or
        // their conversion, which the sheet then keeps alive.
        std::shared_ptr<const void> owner = m_bytes;
        const auto convert = [&](std::string converted) {
            auto kept = std::make_shared<const std::string>(std::move(converted));
            text = *kept;
            owner = std::move(kept);
        };
        if (mark == text::ByteOrderMark::Utf16LE || mark == text::ByteOrderMark::Utf16BE)
            convert(text::Utf16ToUtf8(text, mark == text::ByteOrderMark::Utf16BE));
        else if (!IsValidUtf8Yielding(text))
            convert(text::Windows1252ToUtf8(text));
        char separator = TakeSeparatorLine(text);
        if (separator == 0)
            separator = m_separatorOfName != 0 ? m_separatorOfName : SeparatorOfContent(text);
        builder.ShareText(std::move(owner), text);
        builder.Reserve(text.size() / 8, 0);
        DelimitedTextParser(text, separator, builder).Run();
    }

private:
    // Checks the text a few megabytes at a time, letting the windows run in between. Each
    // piece ends before a byte that starts a character, so no character is cut.
    bool IsValidUtf8Yielding(std::string_view text) const
    {
        constexpr size_t kPiece = size_t { 8 } << 20;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = std::min(text.size(), start + kPiece);
            while (end < text.size() && end > start && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
                --end;
            if (end == start)
                end = std::min(text.size(), start + kPiece);
            if (!text::IsValidUtf8(text.substr(start, end - start)))
                return false;
            start = end;
            if (m_yield)
                m_yield();
        }
        return true;
    }

    std::shared_ptr<const FileBytes> m_bytes;
    char m_separatorOfName;
    std::function<void()> m_yield;
};

} // namespace

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    const std::filesystem::path name(context.fileName);
    const std::string extension = LowerExtension(name.filename());
    // Text is read whatever it is called, but a text under the name of a zipped workbook
    // is a mistake worth reporting, not a one-column sheet: the application refuses it too.
    static constexpr std::string_view kPackageExtensions[]
        = { ".xlsx", ".xlsm", ".xltx", ".xltm", ".xlam", ".xlsb", ".ods", ".ots" };
    if (std::find(std::begin(kPackageExtensions), std::end(kPackageExtensions), extension)
        != std::end(kPackageExtensions))
        throw SpreadsheetError(ErrorCode::NotAWorkbook,
            "it is not a workbook (it holds plain text; name it .csv to read it as delimited text)");
    // Nor is an XML document of a kind no reader takes a table of text.
    const auto bytes = context.bytes->Bytes();
    std::string_view head(reinterpret_cast<const char*>(bytes.data()), std::min<size_t>(bytes.size(), 12));
    std::string wide;
    if (const auto order = text::Utf16XmlOrder(head); order != text::ByteOrderMark::None) {
        head.remove_prefix(text::ByteOrderMarkLength(text::ByteOrderMarkOf(head)));
        wide = text::Utf16ToUtf8(head, order == text::ByteOrderMark::Utf16BE);
        head = wide;
    }
    if (head.starts_with("<?xml") || head.starts_with("\xEF\xBB\xBF<?xml"))
        throw SpreadsheetError(ErrorCode::NotAWorkbook, "it is not a workbook (an XML document of another kind)");
    const char separator = SeparatorOfName(extension);
    std::string stem = name.filename().stem().string();
    if (stem.empty())
        stem = "Sheet1";
    data.sheets.push_back({ stem, SheetVisibility::Visible });
    return std::make_unique<CsvReader>(context.bytes, separator, context.yield);
}

} // namespace vellumcast::spreadsheet::csv
