#pragma once
// The shared strings of a workbook: one block of text and where each string ends. A
// workbook's cells look their strings up in no order while they are exported; two compact
// arrays keep those lookups in the processor's caches far more often than a separately
// allocated string apiece would.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet {

class SharedStringTable {
public:
    // A table moved from holds no bounds at all, and no strings.
    size_t size() const { return m_bounds.empty() ? 0 : m_bounds.size() - 1; }
    bool empty() const { return size() == 0; }
    void reserve(size_t count) { m_bounds.reserve(count + 1); }
    void push_back(std::string_view text)
    {
        m_text.append(text);
        m_bounds.push_back(m_text.size());
    }
    std::string_view back() const { return (*this)[size() - 1]; }
    // The string at index, which lies below size(); valid until the next push_back.
    std::string_view operator[](size_t index) const
    {
        return std::string_view(m_text).substr(m_bounds[index], m_bounds[index + 1] - m_bounds[index]);
    }

private:
    std::string m_text;
    std::vector<uint64_t> m_bounds { 0 }; // string i runs from m_bounds[i] to m_bounds[i + 1]
};

} // namespace vellumcast::spreadsheet
