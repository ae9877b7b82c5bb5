#include "export/TextHandOver.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

namespace vellumcast::exporting {

void TextHandOver::Start(
    std::string& out, std::optional<ResultEntry> head, std::vector<size_t>* lineEnds, std::vector<int64_t>* ordinals)
{
    m_out = nullptr;
    if (m_sink.HoldLimit() == std::numeric_limits<size_t>::max() || (!head && !m_sink.Mark().inEntry))
        return;
    if (!head && !out.empty()) {
        m_sink.Write(std::string_view(out));
        out.clear();
    }
    m_out = &out;
    m_begins = head.has_value();
    m_head = std::move(head);
    m_lines = lineEnds;
    m_ordinals = ordinals;
    m_mark = m_sink.Mark();
    m_handed = false;
    m_keep = 0;
    m_nextOrdinal = 1;
    m_made = 0;
}

void TextHandOver::AtLineEnd(std::string& out)
{
    if (m_out != &out || out.size() < m_sink.HoldLimit())
        return;
    if (!m_handed)
        m_kept.assign(out, 0, std::min(m_keep, out.size()));
    if (m_lines) {
        ResultEntry head = *m_head;
        head.ordinal = m_nextOrdinal;
        static const std::vector<int64_t> kInTurn;
        m_made
            += m_sink.TakeLines(head, std::string(out), *m_lines, m_ordinals ? *m_ordinals : kInTurn, m_skipEmptyLines);
        m_nextOrdinal += static_cast<int64_t>(m_lines->size());
        m_lines->clear();
        if (m_ordinals)
            m_ordinals->clear();
    } else {
        if (m_begins && !m_handed)
            m_sink.Begin(*m_head);
        m_sink.Write(std::string_view(out));
    }
    out.clear();
    m_handed = true;
}

void TextHandOver::TakeBack(std::string& out, size_t size)
{
    if (m_out == &out && m_handed) {
        m_sink.RollBack(m_mark);
        m_handed = false;
        m_nextOrdinal = 1;
        m_made = 0;
        out.assign(m_kept, 0, size);
        return;
    }
    out.resize(size);
}

} // namespace vellumcast::exporting
