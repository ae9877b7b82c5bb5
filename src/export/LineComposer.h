#pragma once
// Composes one output line from the cells of a row or a column.

#include "options/ExportOptions.h"

#include <cstring>
#include <string>
#include <string_view>

namespace vellumcast::exporting {

class LineComposer {
public:
    explicit LineComposer(const options::ExportOptions& options)
        : m_divider(options.divider)
        , m_lineEnd(options.lineFeedOnly ? "\n" : "\r\n")
        , m_includeBlankCells(options.includeBlankCells)
        , m_quoteCells(options.quoteCells)
        , m_csvQuoting(options.csvQuoting)
        , m_skipEmptyLines(options.skipEmptyLines)
    {
    }

    // What ends every line: CR LF, or LF alone when asked for.
    const std::string& LineEnd() const { return m_lineEnd; }

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
    // Called for every cell, so the common case (a plain text with room in the buffer) is
    // inlined into the walk and the rest kept out of line.
    [[gnu::always_inline]] void Add(std::string_view text)
    {
        if (text.empty()) {
            if (!m_includeBlankCells)
                return;
        } else {
            m_anyText = true;
        }
        const size_t most = text.size() + 2 + m_divider.size();
        if (m_csvQuoting || most > kBufferSize - m_used) {
            AddAny(text);
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
        if (m_lineEnd.size() > kBufferSize - m_used)
            Flush();
        m_used = static_cast<size_t>(Copy(m_buffer + m_used, m_lineEnd) - m_buffer);
        Flush();
        return true;
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

    // A cell Add does not compose inline: one quoted as CSV, or one the buffer has no
    // room for. A cell too long for the buffer even when empty goes to the line directly.
    [[gnu::noinline]] void AddAny(std::string_view text)
    {
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

    std::string m_divider;
    std::string m_lineEnd;
    bool m_includeBlankCells;
    bool m_quoteCells;
    bool m_csvQuoting;
    bool m_skipEmptyLines;
    bool m_anyText = false;
    std::string* m_out = nullptr; // the text the current line is composed into
    size_t m_start = 0; // where the current line starts in it
    size_t m_used = 0; // the bytes of the line in the buffer, not yet in m_out
    char m_buffer[kBufferSize] {};
};

} // namespace vellumcast::exporting
