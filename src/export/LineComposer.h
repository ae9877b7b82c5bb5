#pragma once
// Composes one output line from the cells of a row or a column: text (cells between
// dividers, quoted as asked) or a JSON array (JSON Lines).

#include "options/ExportOptions.h"
#include "spreadsheet/Cell.h"

#include <cstring>
#include <string>
#include <string_view>

namespace vellumcast::exporting {

class LineComposer {
public:
    explicit LineComposer(const options::ExportOptions& options)
        : m_json(options.lineFormat == options::LineFormat::JsonLines)
        , m_typed(m_json && options.cellValues == options::CellValues::Raw)
        , m_divider(m_json ? "," : options.divider)
        , m_lineEnd(options.lineFeedOnly || m_json ? "\n" : "\r\n")
        , m_ending(m_json ? "]" + m_lineEnd : m_lineEnd)
        , m_includeBlankCells(options.includeBlankCells)
        , m_quoteCells(options.quoteCells && !m_json)
        , m_csvQuoting(options.csvQuoting && !m_json)
        , m_skipEmptyLines(options.skipEmptyLines)
        // JSON escapes every line break itself: only making them spaces changes its lines.
        , m_breaks(m_json && options.cellBreaks == options::CellBreaks::Escape ? options::CellBreaks::Keep
                                                                               : options.cellBreaks)
        , m_plain(!m_csvQuoting && !m_json && m_breaks == options::CellBreaks::Keep)
    {
    }

    // What ends every line: CR LF, or LF alone when asked for (always, in JSON Lines).
    const std::string& LineEnd() const { return m_lineEnd; }

    // The most bytes a cell's text of size bytes may become in a line, its divider and
    // quotes included: its quotes doubled, its line breaks escaped, or in JSON every byte
    // a \u escape at worst.
    size_t Widest(size_t size) const { return size * m_widening + 2 + m_divider.size(); }

    // The line that starts a worksheet's lines where all of a workbook's worksheets share
    // one text: its name, or in JSON Lines {"sheet": NAME}.
    void AddSheetLine(std::string& out, std::string_view name) const
    {
        if (!m_json) {
            out += name;
            out += m_lineEnd;
            return;
        }
        out += "{\"sheet\": ";
        AppendJsonString(out, name);
        out += "}";
        out += m_lineEnd;
    }
    // What ends a worksheet's lines there: three empty lines; none in JSON Lines, whose
    // every line is a value.
    void AddSheetEnd(std::string& out) const
    {
        if (m_json)
            return;
        for (int i = 0; i < 3; ++i)
            out += m_lineEnd;
    }

    // Starts a line at the end of out. The line's cells gather in a small buffer that is
    // moved to out when full and at the line's end: a line of hundreds of megabytes is
    // never held twice, and most lines reach out in one append rather than a few per cell.
    void Begin(std::string& out)
    {
        m_out = &out;
        m_start = out.size();
        m_used = 0;
        m_anyText = false;
    }

    // Adds one cell's text: a blank cell is left out unless blank cells are included.
    // Plain quoting wraps the text in double quotes without escaping anything; CSV
    // quoting wraps only a text holding the divider, a quote, CR or LF, doubling its quotes.
    // Line breaks in the text are first kept, made spaces or escaped, as asked. In JSON
    // Lines the text is a JSON string; with raw values, kind (the cell's, Blank where
    // there is none) types it: a number or logical value that reads as one is written
    // bare, a blank cell as null.
    // Called for every cell, so the common case (a plain text with room in the buffer) is
    // inlined into the walk and the rest kept out of line.
    [[gnu::always_inline]] void Add(std::string_view text, spreadsheet::CellKind kind = spreadsheet::CellKind::String)
    {
        if (text.empty()) {
            if (!m_includeBlankCells)
                return;
        } else {
            m_anyText = true;
        }
        const size_t most = text.size() + 2 + m_divider.size();
        if (!m_plain || most > kBufferSize - m_used) {
            AddAny(text, kind);
            return;
        }
        char* at = m_buffer + m_used;
        if (m_quoteCells)
            *at++ = '"';
        at = Copy(at, text);
        if (m_quoteCells)
            *at++ = '"';
        if (m_divider.size() == 1) // a tab or a comma, mostly
            *at++ = m_divider[0];
        else
            at = Copy(at, m_divider);
        m_used = static_cast<size_t>(at - m_buffer);
    }

    // The bytes of the line composed so far.
    size_t Composed() const { return m_out->size() - m_start + m_used; }

    // Finishes the line: drops its trailing divider and adds the line end. A line that
    // came out empty writes nothing, not even a line end; so does a line of blank cells
    // only when empty lines are skipped. Returns whether a line was written.
    bool End()
    {
        std::string& out = *m_out;
        if ((out.size() == m_start && m_used == 0) || (m_skipEmptyLines && !m_anyText)) {
            out.resize(m_start);
            m_used = 0;
            return false;
        }
        // Cells were added, so the line ends with a whole divider: in the buffer when it
        // holds any cell, as the buffer is only ever emptied between cells.
        if (m_used != 0)
            m_used -= m_divider.size();
        else
            out.resize(out.size() - m_divider.size());
        if (m_ending.size() > kBufferSize - m_used)
            Flush();
        m_used = static_cast<size_t>(Copy(m_buffer + m_used, m_ending) - m_buffer);
        Flush();
        return true;
    }

    // Appends text as a JSON string: in quotes, with a quote, a backslash and every
    // control character escaped, and each byte that is not part of valid UTF-8 written as
    // U+FFFD (JSON is Unicode text, and a reader would refuse the line).
    static void AppendJsonString(std::string& out, std::string_view text)
    {
        const size_t start = out.size();
        out.resize(start + 6 * text.size() + 2);
        char* const end = JsonString(out.data() + start, text);
        out.resize(static_cast<size_t>(end - out.data()));
    }

private:
    // Small enough to keep one beside every column's line of a wide worksheet.
    static constexpr size_t kBufferSize = 512;
    // Copies text to at and returns its end. Most cells are short: a call to memcpy
    // would cost more than the copy, so those are copied in two overlapping words.
    static char* Copy(char* at, std::string_view text)
    {
        const size_t n = text.size();
        const char* from = text.data();
        if (n > 16) {
            std::memcpy(at, from, n);
        } else if (n >= 8) {
            std::memcpy(at, from, 8);
            std::memcpy(at + n - 8, from + n - 8, 8);
        } else if (n >= 4) {
            std::memcpy(at, from, 4);
            std::memcpy(at + n - 4, from + n - 4, 4);
        } else if (n != 0) {
            at[0] = from[0];
            at[n / 2] = from[n / 2];
            at[n - 1] = from[n - 1];
        }
        return at + n;
    }

    // Moves the buffer's bytes to the line.
    void Flush()
    {
        m_out->append(m_buffer, m_used);
        m_used = 0;
    }

    // A cell Add does not compose inline: one quoted as CSV or written as JSON, one whose
    // line breaks change, or one the buffer has no room for. A cell too long for the
    // buffer even when empty goes to the line directly.
    [[gnu::noinline]] void AddAny(std::string_view text, spreadsheet::CellKind kind)
    {
        if (m_breaks != options::CellBreaks::Keep)
            text = WithBreaks(text);
        if (m_json) {
            AddJson(text, kind);
            return;
        }
        const bool csvQuotes = m_csvQuoting && NeedsCsvQuotes(text);
        const bool quotes = m_csvQuoting ? csvQuotes : m_quoteCells;
        // Every quote doubled at worst.
        const size_t most = (csvQuotes ? 2 : 1) * text.size() + 2 + m_divider.size();
        if (most > kBufferSize - m_used)
            Flush();
        if (most <= kBufferSize) {
            m_used = static_cast<size_t>(AppendField(m_buffer + m_used, text, quotes, csvQuotes) - m_buffer);
            return;
        }
        std::string& line = *m_out;
        const size_t start = line.size();
        line.resize(start + most);
        char* const end = AppendField(line.data() + start, text, quotes, csvQuotes);
        line.resize(static_cast<size_t>(end - line.data()));
    }

    // The text with its line breaks made spaces or escaped; the text itself when it has
    // nothing to change.
    std::string_view WithBreaks(std::string_view text)
    {
        const bool escape = m_breaks == options::CellBreaks::Escape;
        if (text.find_first_of(escape ? std::string_view("\r\n\\") : std::string_view("\r\n"))
            == std::string_view::npos)
            return text;
        m_changed.clear();
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (!escape && (c == '\r' || c == '\n')) {
                m_changed += ' ';
                if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                    ++i; // CR LF is one break
            } else if (escape && c == '\r') {
                m_changed += "\\r";
            } else if (escape && c == '\n') {
                m_changed += "\\n";
            } else if (escape && c == '\\') {
                m_changed += "\\\\";
            } else {
                m_changed += c;
            }
        }
        return m_changed;
    }

    // A cell as a JSON value and its divider, after a "[" when it starts the line.
    void AddJson(std::string_view text, spreadsheet::CellKind kind)
    {
        // A bare value may be longer than its text (a blank's null): room for the longer.
        const std::string_view bare = BareValue(text, kind);
        const size_t most = 1 + (bare.empty() ? 6 * text.size() + 2 : bare.size()) + m_divider.size();
        if (most > kBufferSize - m_used)
            Flush();
        const bool first = m_out->size() == m_start && m_used == 0;
        char* at;
        std::string& line = *m_out;
        const bool inBuffer = most <= kBufferSize;
        if (inBuffer) {
            at = m_buffer + m_used;
        } else {
            line.resize(line.size() + most);
            at = line.data() + line.size() - most;
        }
        if (first)
            *at++ = '[';
        if (!bare.empty())
            at = Copy(at, bare);
        else
            at = JsonString(at, text);
        at = Copy(at, m_divider);
        if (inBuffer)
            m_used = static_cast<size_t>(at - m_buffer);
        else
            line.resize(static_cast<size_t>(at - line.data()));
    }

    // What a typed cell is written as without quotes: null for a blank one, true or
    // false, or its number when its text reads as a JSON number; "" when it is a string.
    std::string_view BareValue(std::string_view text, spreadsheet::CellKind kind) const
    {
        using spreadsheet::CellKind;
        if (!m_typed)
            return {};
        if (kind == CellKind::Blank)
            return text.empty() ? "null" : std::string_view();
        if (kind != CellKind::Number && kind != CellKind::Boolean && kind != CellKind::TextWithValue)
            return {};
        if (text == "TRUE")
            return "true";
        if (text == "FALSE")
            return "false";
        return IsJsonNumber(text) ? text : std::string_view();
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, as JSON writes numbers. Raw dates
    // (2026-12-09) and times are not: they stay strings.
    static bool IsJsonNumber(std::string_view text)
    {
        size_t i = 0;
        const auto digits = [&] {
            const size_t from = i;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9')
                ++i;
            return i - from;
        };
        if (i < text.size() && text[i] == '-')
            ++i;
        const size_t integerStart = i;
        const size_t integer = digits();
        if (integer == 0 || (integer > 1 && text[integerStart] == '0'))
            return false;
        if (i < text.size() && text[i] == '.') {
            ++i;
            if (digits() == 0)
                return false;
        }
        if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
            ++i;
            if (i < text.size() && (text[i] == '+' || text[i] == '-'))
                ++i;
            if (digits() == 0)
                return false;
        }
        return i == text.size();
    }

    // Writes text as a JSON string at `at`; returns where it ends. At most 6 bytes per
    // byte of text, and 2 for the quotes.
    static char* JsonString(char* at, std::string_view text)
    {
        constexpr char kHex[] = "0123456789abcdef";
        *at++ = '"';
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        const auto* const end = p + text.size();
        while (p < end) {
            const unsigned char c = *p;
            if (c >= 0x80) {
                const size_t length = Utf8Length(p, end);
                if (length == 0) {
                    at = Copy(at, "\xEF\xBF\xBD"); // U+FFFD for a byte that is no UTF-8
                    ++p;
                } else {
                    at = Copy(at, std::string_view(reinterpret_cast<const char*>(p), length));
                    p += length;
                }
                continue;
            }
            ++p;
            if (c == '"' || c == '\\') {
                *at++ = '\\';
                *at++ = static_cast<char>(c);
            } else if (c >= 0x20) {
                *at++ = static_cast<char>(c);
            } else if (c == '\n') {
                at = Copy(at, "\\n");
            } else if (c == '\r') {
                at = Copy(at, "\\r");
            } else if (c == '\t') {
                at = Copy(at, "\\t");
            } else {
                at = Copy(at, "\\u00");
                *at++ = kHex[c >> 4];
                *at++ = kHex[c & 0xF];
            }
        }
        *at++ = '"';
        return at;
    }

    // The length of the valid UTF-8 character starting at p (its first byte 0x80 or
    // more), or 0 when it is not one: a stray continuation byte, an overlong form, a
    // surrogate, past U+10FFFF, or cut short.
    static size_t Utf8Length(const unsigned char* p, const unsigned char* end)
    {
        const unsigned char c = p[0];
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF; // the second byte's bounds
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return 0;
        }
        if (static_cast<size_t>(end - p) < length || p[1] < low || p[1] > high)
            return 0;
        for (size_t i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF)
                return 0;
        }
        return length;
    }

    bool NeedsCsvQuotes(std::string_view text) const
    {
        return text.find_first_of("\"\r\n") != std::string_view::npos
            || (!m_divider.empty() && text.find(m_divider) != std::string_view::npos);
    }

    // Writes text and the divider at `at`, the text in quotes when asked and its quotes
    // doubled when asked; returns where they end.
    char* AppendField(char* at, std::string_view text, bool quotes, bool doubleQuotes) const
    {
        if (quotes)
            *at++ = '"';
        if (doubleQuotes) {
            for (const char c : text) {
                if (c == '"')
                    *at++ = '"';
                *at++ = c;
            }
        } else {
            at = Copy(at, text);
        }
        if (quotes)
            *at++ = '"';
        return Copy(at, m_divider);
    }

    bool m_json; // lines are JSON arrays
    bool m_typed; // and numbers, logical values and blanks are typed
    std::string m_divider;
    std::string m_lineEnd;
    std::string m_ending; // what ends a line: the line end, in JSON after "]"
    bool m_includeBlankCells;
    bool m_quoteCells;
    bool m_csvQuoting;
    bool m_skipEmptyLines;
    options::CellBreaks m_breaks;
    bool m_plain; // no cell needs more than copying and plain quotes
    size_t m_widening = m_json ? 6 : 2; // Widest's bytes per byte of text
    std::string m_changed; // a text whose line breaks were made spaces or escaped
    bool m_anyText = false;
    std::string* m_out = nullptr; // the text the current line is composed into
    size_t m_start = 0; // where the current line starts in it
    size_t m_used = 0; // the bytes of the line in the buffer, not yet in m_out
    char m_buffer[kBufferSize] {};
};

} // namespace vellumcast::exporting
