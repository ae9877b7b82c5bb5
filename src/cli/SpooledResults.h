#pragma once
// The results of one workbook as its export hands them over, held until the workbook's
// turn to be written: the entries' names in memory, their texts in memory up to a few
// megabytes and past that in a nameless temporary file, so that a workbook of any size
// costs little memory however its texts are composed and taken back.

#include "export/ResultList.h"
#include "export/ResultSink.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::cli {

class SpooledResults final : public exporting::ResultSink {
public:
    SpooledResults()
        : SpooledResults(kMemoryBytes)
    {
    }
    // Texts beyond memoryBytes in all go to the temporary file.
    explicit SpooledResults(size_t memoryBytes);
    ~SpooledResults() override;
    SpooledResults(SpooledResults&& other) noexcept;
    SpooledResults& operator=(SpooledResults&& other) noexcept;
    SpooledResults(const SpooledResults&) = delete;
    SpooledResults& operator=(const SpooledResults&) = delete;

    void BeginEntry(const exporting::ResultEntry& head) override;
    using ResultSink::Append;
    void Append(std::string_view bytes) override;
    void EndEntry() override;
    exporting::SinkMark Mark() const override;
    void RollBack(const exporting::SinkMark& mark) override;
    size_t HoldLimit() const override { return kHoldBytes; }

    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    // The names, ordinal and mode of an entry; its text is empty (read it with WriteText).
    const exporting::ResultEntry& Head(size_t index) const { return m_entries[index].head; }
    uint64_t TextSize(size_t index) const { return m_entries[index].size; }
    // Calls write with the entry's text in pieces, in order; returns the first non-zero
    // value write gives, or the errno of a failed read of the temporary file; else 0.
    int WriteText(size_t index, const std::function<int(std::string_view)>& write) const;

    static constexpr size_t kMemoryBytes = size_t(8) << 20;
    // What the export procedures may compose ahead before handing it over.
    static constexpr size_t kHoldBytes = size_t(1) << 20;

private:
    struct Entry {
        exporting::ResultEntry head;
        uint64_t offset = 0; // where its text starts among all the bytes taken
        uint64_t size = 0;
    };
    void Write(std::string_view bytes);

    size_t m_memoryBytes;
    std::vector<Entry> m_entries;
    Entry m_current;
    bool m_inEntry = false;
    uint64_t m_end = 0; // the bytes taken so far: the first in m_memory, the rest in m_file
    std::string m_memory;
    std::FILE* m_file = nullptr;
    bool m_fileFailed = false; // none could be made: everything stays in memory
    mutable uint64_t m_filePosition = 0; // where the file's next write goes, as the file stands
};

} // namespace vellumcast::cli
