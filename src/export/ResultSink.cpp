#include "export/ResultSink.h"

#include "export/ResultList.h"

namespace vellumcast::exporting {

size_t ResultSink::TakeLines(const ResultEntry& head, std::string text, const std::vector<size_t>& lineEnds,
    int64_t firstOrdinal, bool skipEmpty)
{
    ResultEntry line { head.fileName, head.sheetName, firstOrdinal, {}, head.mode };
    const std::string_view all(text);
    size_t begin = 0;
    size_t made = 0;
    for (const size_t end : lineEnds) {
        if (end > begin || !skipEmpty) {
            BeginEntry(line);
            Append(all.substr(begin, end - begin));
            EndEntry();
            ++made;
        }
        begin = end;
        ++line.ordinal;
    }
    return made;
}

} // namespace vellumcast::exporting
