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

    void Begin()
    {
        m_line.clear();
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
        if (m_csvQuoting)
            AddCsvField(text);
        else if (m_quoteCells)
            AddQuoted(text);
        else
            m_line += text;
        m_line += m_divider;
    }

    // Appends the finished line and its line end to out, without the trailing divider. A
    // line that came out empty writes nothing, not even a line end; so does a line of
    // blank cells only when empty lines are skipped. Returns whether a line was written.
    bool End(std::string& out)
    {
        if (m_line.empty() || (m_skipEmptyLines && !m_anyText))
            return false;
        // Cells were added, so the line ends with a whole divider.
        out.append(m_line, 0, m_line.size() - m_divider.size());
        out += m_lineEnd;
        return true;
    }

private:
    void AddQuoted(std::string_view text)
    {
        m_line += '"';
        m_line += text;
        m_line += '"';
    }

    void AddCsvField(std::string_view text)
    {
        const bool needsQuotes = text.find_first_of("\"\r\n") != std::string_view::npos
            || (!m_divider.empty() && text.find(m_divider) != std::string_view::npos);
        if (!needsQuotes) {
            m_line += text;
            return;
        }
        m_line += '"';
        for (const char c : text) {
            if (c == '"')
                m_line += '"';
            m_line += c;
        }
        m_line += '"';
    }

    std::string m_divider;
    std::string m_lineEnd;
    bool m_includeBlankCells;
    bool m_quoteCells;
    bool m_csvQuoting;
    bool m_skipEmptyLines;
    bool m_anyText = false;
    std::string m_line;
};

} // namespace vellumcast::exporting
