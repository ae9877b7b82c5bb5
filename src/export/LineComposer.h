#pragma once
// Composes one output line from the cells of a row or a column.

#include "options/ExportOptions.h"

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

    // Starts a line at the end of out. The line is composed in place, so a line of
    // hundreds of megabytes is never held twice.
    void Begin(std::string& out)
    {
        m_out = &out;
        m_start = out.size();
        m_anyText = false;
    }

    // Adds one cell's text: a blank cell is left out unless blank cells are included.
    // Plain quoting wraps the text in double quotes without escaping anything; CSV
    // quoting wraps only a text holding the divider, a quote, CR or LF, doubling its quotes.
    void Add(std::string_view text)
    {
        if (text.empty()) {
            if (!m_includeBlankCells)
                return;
        } else {
            m_anyText = true;
        }
        std::string& line = *m_out;
        if (m_csvQuoting)
            AddCsvField(line, text);
        else if (m_quoteCells)
            AddQuoted(line, text);
        else
            line.append(text.data(), text.size());
        if (m_divider.size() == 1) // the usual tab or comma, as one byte
            line.push_back(m_divider.front());
        else
            line += m_divider;
    }

    // The bytes of the line composed so far.
    size_t Composed() const { return m_out->size() - m_start; }

    // Finishes the line: drops its trailing divider and adds the line end. A line that
    // came out empty writes nothing, not even a line end; so does a line of blank cells
    // only when empty lines are skipped. Returns whether a line was written.
    bool End()
    {
        std::string& out = *m_out;
        if (out.size() == m_start || (m_skipEmptyLines && !m_anyText)) {
            out.resize(m_start);
            return false;
        }
        // Cells were added, so the line ends with a whole divider.
        out.resize(out.size() - m_divider.size());
        out += m_lineEnd;
        return true;
    }

private:
    static void AddQuoted(std::string& line, std::string_view text)
    {
        line += '"';
        line += text;
        line += '"';
    }

    void AddCsvField(std::string& line, std::string_view text) const
    {
        const bool needsQuotes = text.find_first_of("\"\r\n") != std::string_view::npos
            || (!m_divider.empty() && text.find(m_divider) != std::string_view::npos);
        if (!needsQuotes) {
            line += text;
            return;
        }
        line += '"';
        for (const char c : text) {
            if (c == '"')
                line += '"';
            line += c;
        }
        line += '"';
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
};

} // namespace vellumcast::exporting
