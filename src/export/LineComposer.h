#pragma once
// Composes one output line from the cells of a row or a column.

#include <string>
#include <string_view>

namespace vellumcast::exporting {

class LineComposer {
public:
    LineComposer(std::string_view divider, bool includeBlankCells, bool quoteCells)
        : m_divider(divider)
        , m_includeBlankCells(includeBlankCells)
        , m_quoteCells(quoteCells)
    {
    }

    void Begin() { m_line.clear(); }

    // Adds one cell's text exactly as given: a blank cell is left out unless blank cells
    // are included; quoting wraps the text in double quotes without escaping anything.
    void Add(std::string_view text)
    {
        if (!m_includeBlankCells && text.empty())
            return;
        if (m_quoteCells) {
            m_line += '"';
            m_line += text;
            m_line += '"';
        } else {
            m_line += text;
        }
        m_line += m_divider;
    }

    // Appends the finished line and its CR LF to out, without the trailing divider. A
    // line that came out empty writes nothing, not even a line end. Returns whether a
    // line was written.
    bool End(std::string& out)
    {
        if (m_line.empty())
            return false;
        // Cells were added, so the line ends with a whole divider.
        out.append(m_line, 0, m_line.size() - m_divider.size());
        out += "\r\n";
        return true;
    }

private:
    std::string m_divider;
    bool m_includeBlankCells;
    bool m_quoteCells;
    std::string m_line;
};

} // namespace vellumcast::exporting
