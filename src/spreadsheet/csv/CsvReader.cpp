// Delimited text (csv, tsv, txt and text under any other name): one worksheet named after
// the file, every field kept as the text written, quoted fields as RFC 4180 describes
// them. The encoding and the divider are chosen as the spreadsheet application chooses
// them (docs/delimited-text.md), unless a person says otherwise (DelimitedTextOptions):
// - UTF-16 and UTF-32, by their byte-order mark or their content, are converted a piece
//   at a time as the fields are read, so the text is never held twice;
// - any other text is read where it lies, as UTF-8 when it is valid UTF-8 throughout,
//   else as Windows-1252, each field that needs it converted alone.
// A field is refused once it passes the bound on a cell's text, however much follows.

#include "spreadsheet/csv/CsvReader.h"
#include "spreadsheet/SheetData.h"
#include "spreadsheet/text/TextEncoding.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>

namespace vellumcast::spreadsheet::csv {

namespace {

// A field is a cell's text, bounded as the text of any cell the engine reads.
constexpr size_t kMaxFieldText = size_t { 16 } << 20;

std::atomic<uint64_t> g_wholeTextLimit { uint64_t { 256 } << 20 };

std::string LowerExtension(const std::filesystem::path& name)
{
    std::string extension = name.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

[[noreturn]] void FieldTooLong(int32_t row, int32_t column)
{
    throw SpreadsheetError(ErrorCode::TooLarge,
        "field " + std::to_string(column) + " of line " + std::to_string(row) + " holds more than "
            + std::to_string(kMaxFieldText) + " bytes of text, more than the engine accepts");
}

// Splits text into records and fields and hands each field to the sink; the text may
// come whole or in pieces, each continuing the one before.
template <typename Sink> class DelimitedTextParser {
public:
    DelimitedTextParser(char separator, Sink& sink, SheetBuilder& builder, bool notesRead)
        : m_separator(separator)
        , m_sink(sink)
        , m_builder(builder)
        , m_notesRead(notesRead)
    {
    }

    // Parses text and returns how many of its bytes it took: all of them when final,
    // else up to the start of a field the text does not finish, to be given again with
    // what follows it.
    size_t Parse(std::string_view text, bool final)
    {
        m_text = text;
        m_final = final;
        const size_t size = text.size();
        size_t pos = 0;
        if (m_skipLineFeed && size > 0) { // a CR ended the last piece: its LF belongs to it
            m_skipLineFeed = false;
            if (text[0] == '\n')
                pos = 1;
        }
        while (pos < size) {
            if (m_column == 0 && IsLineEnd(text[pos])) {
                // An empty line records nothing; it only takes up its row.
                pos = SkipLineEnd(pos);
                NextRow(pos);
                continue;
            }
            const size_t start = pos;
            std::string_view field;
            if (!(text[pos] == '"' ? QuotedField(pos, field) : PlainField(pos, field)))
                return start;
            m_column = NextColumn(m_column);
            m_afterSeparator = pos < size && text[pos] == m_separator;
            Emit(field, pos, !m_afterSeparator);
            if (m_afterSeparator) {
                ++pos;
                continue;
            }
            if (pos >= size)
                break;
            pos = SkipLineEnd(pos);
            NextRow(pos);
            m_column = 0;
        }
        if (final && m_afterSeparator) { // "a,b," ends with an empty field
            m_afterSeparator = false;
            m_column = NextColumn(m_column);
            Emit({}, size, true);
        }
        return size;
    }

private:
    bool IsLineEnd(char c) const { return c == '\n' || c == '\r'; }
    bool IsDelimiter(char c) const { return c == m_separator || c == '\n' || c == '\r'; }

    size_t SkipLineEnd(size_t pos)
    {
        if (m_text[pos] != '\r')
            return pos + 1;
        if (pos + 1 < m_text.size())
            return m_text[pos + 1] == '\n' ? pos + 2 : pos + 1;
        m_skipLineFeed = !m_final;
        return pos + 1;
    }

    // How far the text is read guides those composing its rows while it loads.
    void NextRow(size_t pos)
    {
        ++m_row;
        if (m_notesRead)
            m_builder.NoteRead(pos, m_text.size());
    }

    static int32_t NextColumn(int32_t column)
    {
        if (column >= kMaxColumns)
            throw SpreadsheetError(ErrorCode::TooLarge,
                "a line holds more than " + std::to_string(kMaxColumns) + " fields, the most a worksheet row holds");
        return column + 1;
    }

    // An unquoted field: everything up to the separator or the line end, quotes included.
    // False when the text ends before the field does and more text follows.
    bool PlainField(size_t& pos, std::string_view& field)
    {
        const size_t start = pos;
        const size_t reach = std::min(m_text.size(), start + kMaxFieldText + 1);
        while (pos < reach && !IsDelimiter(m_text[pos]))
            ++pos;
        if (pos == reach) {
            if (reach - start > kMaxFieldText)
                FieldTooLong(m_row, m_column + 1);
            if (!m_final)
                return false;
        }
        field = m_text.substr(start, pos - start);
        return true;
    }

    // A quoted field: separators and line ends inside are text, "" is one quote. Text after
    // the closing quote, up to the separator, is kept as written; a quote never closed
    // takes the rest of the file. False as PlainField's.
    bool QuotedField(size_t& pos, std::string_view& field)
    {
        const size_t size = m_text.size();
        const char* data = m_text.data();
        ++pos;
        // Most quoted fields hold no "" and end at their closing quote: their text is
        // a part of the file's, with nothing to copy.
        const size_t start = pos;
        const size_t reach = std::min(size, start + kMaxFieldText + 1);
        if (const void* found = std::memchr(data + pos, '"', reach - pos)) {
            const auto quote = static_cast<size_t>(static_cast<const char*>(found) - data);
            if (quote + 1 == size && !m_final)
                return false; // it may be the first of a "" pair
            if (quote + 1 == size || IsDelimiter(m_text[quote + 1])) {
                pos = quote + 1;
                field = m_text.substr(start, quote - start);
                return true;
            }
        } else if (reach - start > kMaxFieldText) {
            FieldTooLong(m_row, m_column + 1);
        } else if (!m_final) {
            return false;
        }
        m_scratch.clear();
        while (pos < size) {
            const size_t room = kMaxFieldText + 1 - m_scratch.size();
            const size_t reachable = std::min(size - pos, room);
            const void* found = std::memchr(data + pos, '"', reachable);
            if (!found) {
                if (reachable == room)
                    FieldTooLong(m_row, m_column + 1);
                if (!m_final)
                    return false;
                m_scratch.append(m_text.substr(pos));
                pos = size;
                field = m_scratch;
                return true;
            }
            const auto quote = static_cast<size_t>(static_cast<const char*>(found) - data);
            m_scratch.append(m_text.substr(pos, quote - pos));
            pos = quote + 1;
            if (pos < size && m_text[pos] == '"') {
                m_scratch.push_back('"');
                ++pos;
                continue;
            }
            break;
        }
        if (pos >= size && !m_final)
            return false;
        const size_t rest = pos;
        const size_t restReach = std::min(size, pos + (kMaxFieldText + 1 - std::min(m_scratch.size(), kMaxFieldText)));
        while (pos < restReach && !IsDelimiter(m_text[pos]))
            ++pos;
        if (pos == restReach && restReach < size)
            FieldTooLong(m_row, m_column + 1);
        if (pos == size && !m_final)
            return false;
        m_scratch.append(m_text.substr(rest, pos - rest));
        if (m_scratch.size() > kMaxFieldText)
            FieldTooLong(m_row, m_column + 1);
        field = m_scratch;
        return true;
    }

    void Emit(std::string_view field, size_t rawEnd, bool lastOfLine)
    {
        if (m_row > kMaxRows)
            throw SpreadsheetError(ErrorCode::TooLarge,
                "the text holds more than " + std::to_string(kMaxRows) + " lines, the most a worksheet holds");
        if (field.empty()) {
            // An empty field shows as a cell that is not there. Only the first and the last
            // of a line are recorded, so that the used range spans every line's fields,
            // and a line of nothing but commas costs two cells, not one per comma.
            if (m_column == 1 || lastOfLine)
                m_builder.AddBlank(m_row, m_column, 0);
            return;
        }
        m_sink.Field(m_row, m_column, field, rawEnd);
    }

    std::string_view m_text;
    bool m_final = true;
    char m_separator;
    Sink& m_sink;
    SheetBuilder& m_builder;
    bool m_notesRead;
    int32_t m_row = 1;
    int32_t m_column = 0; // the fields of the current line so far
    bool m_afterSeparator = false; // the last field was followed by a separator
    bool m_skipLineFeed = false;
    std::string m_scratch;
};

// The fields of byte-wide text. The text is UTF-8 when it is valid UTF-8 throughout,
// else Windows-1252 (or, when a person said UTF-8, UTF-8 with its damage repaired).
// ASCII fields read alike either way, so the text is judged (judge) only when the first
// other field comes: text of ASCII alone, or a field refused for its length before any
// other, is never checked whole. Fields that lie in shared, the text the sheet shares,
// point into it; others are copied.
class ByteFields {
public:
    ByteFields(std::string_view shared, TextEncoding encoding, SheetBuilder& builder, std::function<bool()> judge)
        : m_shared(shared)
        , m_encoding(encoding)
        , m_builder(builder)
        , m_judge(std::move(judge))
    {
        m_judged = encoding != TextEncoding::Auto;
        m_utf8 = encoding != TextEncoding::Windows1252;
    }

    void Field(int32_t row, int32_t column, std::string_view field, size_t)
    {
        if ((!m_judged || !m_utf8 || m_encoding == TextEncoding::Utf8) && !text::IsAscii(field)) {
            if (!m_judged) {
                m_utf8 = m_judge();
                m_judged = true;
            }
            if (!m_utf8 || (m_encoding == TextEncoding::Utf8 && !text::IsValidUtf8(field))) {
                m_converted.clear();
                if (m_utf8)
                    text::AppendUtf8Repaired(field, m_converted);
                else
                    text::AppendWindows1252(field, m_converted);
                if (m_converted.size() > kMaxFieldText)
                    FieldTooLong(row, column);
                return m_builder.AddString(row, column, m_converted, 0);
            }
        }
        // Only quoted fields, unescaped into the scratch, are copied from shared text.
        if (field.data() >= m_shared.data() && field.data() < m_shared.data() + m_shared.size())
            m_builder.AddSharedText(row, column, field, 0);
        else
            m_builder.AddString(row, column, field, 0);
    }

private:
    std::string_view m_shared;
    TextEncoding m_encoding;
    SheetBuilder& m_builder;
    std::function<bool()> m_judge;
    bool m_judged = false; // whether the text is known to be UTF-8 or not
    bool m_utf8 = true;
    std::string m_converted;
};

// Whether text is valid UTF-8, checked a few megabytes at a time, letting the windows run
// in between. Each piece ends before a byte that starts a character, so none is cut.
bool IsValidUtf8Yielding(std::string_view text, const std::function<void()>& yield)
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
        if (yield)
            yield();
    }
    return true;
}

// The same of a file's bytes, read a piece at a time.
bool IsValidUtf8Streamed(const FileBytes& bytes, const std::function<void()>& yield)
{
    constexpr size_t kPiece = size_t { 8 } << 20;
    std::vector<uint8_t> scratch;
    std::string carried; // a character cut by the last piece's end
    for (uint64_t at = 0; at < bytes.Size();) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(bytes.Size() - at, kPiece));
        const auto read = bytes.Read(at, want, scratch);
        at += want;
        carried.append(reinterpret_cast<const char*>(read.data()), read.size());
        // A character the piece's end cuts waits for the rest of it.
        size_t end = carried.size();
        for (size_t back = 1; at < bytes.Size() && back <= 3 && back <= carried.size(); ++back) {
            const auto c = static_cast<unsigned char>(carried[carried.size() - back]);
            if (c < 0x80)
                break;
            if (c >= 0xC0) {
                if ((c >= 0xF0 ? 4u : c >= 0xE0 ? 3u : 2u) > back)
                    end = carried.size() - back;
                break;
            }
        }
        if (!text::IsValidUtf8(std::string_view(carried).substr(0, end)))
            return false;
        carried.erase(0, end);
        if (yield)
            yield();
    }
    return carried.empty() || text::IsValidUtf8(carried);
}

// The fields of text converted as it is read: each is copied into the sheet.
class CopiedFields {
public:
    explicit CopiedFields(SheetBuilder& builder)
        : m_builder(builder)
    {
    }
    void Field(int32_t row, int32_t column, std::string_view field, size_t)
    {
        m_builder.AddString(row, column, field, 0);
    }

private:
    SheetBuilder& m_builder;
};

// A first line "sep=X" (the letters in any case) names the divider X; that line is no
// row. Returns 0 and leaves the text alone when there is none; else the length of the
// line in sepLength.
char SeparatorLine(std::string_view text, size_t& sepLength)
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
    sepLength = end;
    return separator;
}

// The dividers outside quotes on each of the first lines of a text: what the choice of
// divider by content looks at.
struct DividerCounts {
    enum { kTab, kComma, kSemicolon };
    std::vector<std::array<uint32_t, 3>> lines; // the lines that hold anything
    std::array<uint32_t, 3> total {};
    bool commasBetweenDigits = true; // every comma stands between two digits (1,50)

    explicit DividerCounts(std::string_view text)
    {
        constexpr size_t kLinesLooked = 20;
        constexpr size_t kBytesLooked = 64 << 10;
        const size_t looked = std::min(text.size(), kBytesLooked);
        bool quoted = false, empty = true;
        std::array<uint32_t, 3> line {};
        const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
        for (size_t i = 0; i < looked && lines.size() < kLinesLooked; ++i) {
            const char c = text[i];
            if (c == '"') {
                quoted = !quoted;
            } else if (quoted) {
                continue;
            } else if (c == '\n' || c == '\r') {
                if (!empty)
                    lines.push_back(line);
                line = {};
                empty = true;
                continue;
            } else if (c == '\t' || c == ',' || c == ';') {
                const int k = c == '\t' ? kTab : c == ',' ? kComma : kSemicolon;
                ++line[k];
                ++total[k];
                if (c == ',')
                    commasBetweenDigits &= i > 0 && i + 1 < text.size() && isDigit(text[i - 1]) && isDigit(text[i + 1]);
            }
            empty = false;
        }
        // A last line cut by the bytes looked at is left out: its counts are not whole.
        if (!empty && looked == text.size() && lines.size() < kLinesLooked)
            lines.push_back(line);
    }

    // Whether every line counts the same number of this divider.
    bool Even(int k) const
    {
        return std::all_of(lines.begin(), lines.end(), [&](const auto& line) { return line[k] == lines[0][k]; });
    }

    // Comma-separated, unless semicolons divide the lines: the application's csv in the
    // many locales whose decimal mark is the comma. With both, semicolons win when they
    // divide every line alike and the commas either do not or stand between digits.
    char CommaOrSemicolon() const
    {
        if (total[kSemicolon] == 0)
            return ',';
        if (total[kComma] == 0)
            return ';';
        return Even(kSemicolon) && (!Even(kComma) || commasBetweenDigits) ? ';' : ',';
    }
};

// The divider of text under a name that says none: tab-separated when its first lines
// hold a tab and no comma outside quotes, as a tab-separated export always does; else
// comma- or semicolon-separated as they show.
char SeparatorOfContent(std::string_view text)
{
    const DividerCounts counts(text);
    if (counts.total[DividerCounts::kTab] > 0 && counts.total[DividerCounts::kComma] == 0)
        return '\t';
    return counts.CommaOrSemicolon();
}

text::TextForm FormOfEncoding(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf16LE:
        return text::TextForm::Utf16LE;
    case TextEncoding::Utf16BE:
        return text::TextForm::Utf16BE;
    case TextEncoding::Utf32LE:
        return text::TextForm::Utf32LE;
    case TextEncoding::Utf32BE:
        return text::TextForm::Utf32BE;
    case TextEncoding::Auto:
    case TextEncoding::Utf8:
    case TextEncoding::Windows1252:
        break;
    }
    return text::TextForm::Bytes;
}

class CsvReader final : public WorkbookReader {
public:
    CsvReader(const ReaderContext& context, std::string extension)
        : m_bytes(context.bytes)
        , m_extension(std::move(extension))
        , m_options(context.delimitedText)
        , m_yield(context.yield)
    {
    }

    uint64_t SheetBytes(size_t) const override { return m_bytes->Size(); }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        if (index != 0)
            throw SpreadsheetError(ErrorCode::Corrupt, "delimited text holds a single worksheet");
        std::vector<uint8_t> scratch;
        const size_t headSize = static_cast<size_t>(std::min<uint64_t>(m_bytes->Size(), 4096));
        const auto headBytes = m_bytes->Read(0, headSize, scratch);
        const text::TextFormFound found
            = text::TextFormOf({ reinterpret_cast<const char*>(headBytes.data()), headBytes.size() });
        text::TextForm form = found.form;
        size_t markLength = found.markLength;
        if (m_options.encoding != TextEncoding::Auto) {
            // A byte-order mark of the encoding said is no text; any other content is.
            form = FormOfEncoding(m_options.encoding);
            if (found.form != form)
                markLength = 0;
        }
        if (form == text::TextForm::Bytes)
            LoadBytes(builder);
        else
            LoadWide(builder, form, markLength);
    }

private:
    // The divider: the one a person said, else a first line "sep=X", else UTF-16 and
    // UTF-32 text (the application's "Unicode Text") and the names .tsv, .tab and .txt
    // (as the application saves text) say tab, .csv comma or semicolon as the lines show;
    // else the lines decide. The "sep=" line is taken off the text.
    char ChooseSeparator(std::string_view& text, bool wide) const
    {
        size_t lineLength = 0;
        const char named = SeparatorLine(text, lineLength);
        text.remove_prefix(lineLength);
        if (m_options.divider != 0)
            return m_options.divider;
        if (named != 0)
            return named;
        if (wide || m_extension == ".tsv" || m_extension == ".tab" || m_extension == ".txt")
            return '\t';
        if (m_extension == ".csv")
            return DividerCounts(text).CommaOrSemicolon();
        return SeparatorOfContent(text);
    }

    // Byte-wide text is read where it lies: the cells point into the file's own bytes,
    // which the sheet then keeps alive. A file too large to be worth reading whole before
    // its first field is read a piece at a time instead, its fields copied, so that a
    // field past the bound is refused once the reader has passed that much of it.
    void LoadBytes(SheetBuilder& builder)
    {
        if (m_bytes->Size() > g_wholeTextLimit.load(std::memory_order_relaxed))
            return LoadBytesInPieces(builder);
        const auto bytes = m_bytes->Bytes();
        std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        const char separator = ChooseSeparator(text, false);
        builder.ShareText(m_bytes, text);
        builder.Reserve(text.size() / 8, 0);
        ByteFields fields(text, m_options.encoding, builder, [&] { return IsValidUtf8Yielding(text, m_yield); });
        DelimitedTextParser<ByteFields>(separator, fields, builder, true).Parse(text, true);
    }

    void LoadBytesInPieces(SheetBuilder& builder)
    {
        ByteFields fields({}, m_options.encoding, builder, [&] { return IsValidUtf8Streamed(*m_bytes, m_yield); });
        ReadInPieces(
            builder, fields, [](std::string_view piece, bool, std::string& text) { text.append(piece); }, 0,
            "\xEF\xBB\xBF", false);
    }

    // Wide text is converted a piece at a time as the parser takes it: what is held is a
    // piece and the field it ends in, never the whole text twice.
    void LoadWide(SheetBuilder& builder, text::TextForm form, size_t markLength)
    {
        text::WideTextDecoder decoder(form);
        CopiedFields fields(builder);
        ReadInPieces(
            builder, fields,
            [&](std::string_view piece, bool final, std::string& text) { decoder.Decode(piece, final, text); },
            markLength, {}, true);
    }

    // Reads the file from offset start a piece at a time, appending each as text (convert)
    // and parsing it on from the field the last piece ended in; a mark the text begins
    // with is no text. wide: UTF-16 or UTF-32, tab-separated unless said otherwise.
    template <typename Sink, typename Convert>
    void ReadInPieces(
        SheetBuilder& builder, Sink& fields, Convert&& convert, uint64_t start, std::string_view mark, bool wide)
    {
        constexpr size_t kPiece = size_t { 1 } << 20;
        const uint64_t size = m_bytes->Size();
        std::optional<DelimitedTextParser<Sink>> parser;
        std::string text;
        std::vector<uint8_t> scratch;
        uint64_t at = start;
        builder.Reserve(static_cast<size_t>(size / 16), 0);
        do {
            // A field longer than a piece is read on in pieces as long, so that taking it
            // again from its start costs no more than reading it.
            const size_t want = static_cast<size_t>(std::min<uint64_t>(size - at, std::max(kPiece, text.size())));
            const auto piece = m_bytes->Read(at, want, scratch);
            at += want;
            const bool final = at >= size;
            convert({ reinterpret_cast<const char*>(piece.data()), piece.size() }, final, text);
            std::string_view rest = text;
            if (!parser) {
                if (!mark.empty() && rest.starts_with(mark))
                    rest.remove_prefix(mark.size());
                parser.emplace(ChooseSeparator(rest, wide), fields, builder, false);
                text.erase(0, text.size() - rest.size());
                rest = text;
            }
            text.erase(0, parser->Parse(rest, final));
            builder.NoteRead(at, size);
            if (m_yield)
                m_yield();
        } while (at < size);
    }

    std::shared_ptr<const FileBytes> m_bytes;
    std::string m_extension;
    DelimitedTextOptions m_options;
    std::function<void()> m_yield;
};

} // namespace

void SetWholeTextLimit(uint64_t bytes)
{
    g_wholeTextLimit.store(bytes, std::memory_order_relaxed);
}

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
    std::vector<uint8_t> scratch;
    const auto bytes
        = context.bytes->Read(0, static_cast<size_t>(std::min<uint64_t>(context.bytes->Size(), 16)), scratch);
    std::string_view head(reinterpret_cast<const char*>(bytes.data()), std::min<size_t>(bytes.size(), 12));
    std::string wide;
    if (const auto order = text::Utf16XmlOrder(head); order != text::ByteOrderMark::None) {
        head.remove_prefix(text::ByteOrderMarkLength(text::ByteOrderMarkOf(head)));
        wide = text::Utf16ToUtf8(head, order == text::ByteOrderMark::Utf16BE);
        head = wide;
    }
    if (head.starts_with("<?xml") || head.starts_with("\xEF\xBB\xBF<?xml"))
        throw SpreadsheetError(ErrorCode::NotAWorkbook, "it is not a workbook (an XML document of another kind)");
    std::string stem = name.filename().stem().string();
    if (stem.empty())
        stem = "Sheet1";
    data.sheets.push_back({ stem, SheetVisibility::Visible });
    return std::make_unique<CsvReader>(context, extension);
}

} // namespace vellumcast::spreadsheet::csv
