#include "export/ResultSink.h"

#include "export/ResultList.h"

namespace vellumcast::exporting {

size_t ResultSink::TakeLines(const ResultEntry& head, std::string text, const std::vector<size_t>& lineEnds,
    const std::vector<int64_t>& ordinals, bool skipEmpty)
{
    ResultEntry line { head.fileName, head.sheetName, head.ordinal, {}, head.mode };
    const std::string_view all(text);
    size_t begin = 0;
    size_t made = 0;
    for (size_t i = 0; i < lineEnds.size(); ++i) {
        const size_t end = lineEnds[i];
        line.ordinal = ordinals.empty() ? head.ordinal + static_cast<int64_t>(i) : ordinals[i];
        if (end > begin || !skipEmpty) {
            Begin(line);
            Write(all.substr(begin, end - begin));
            Commit();
            ++made;
        }
        begin = end;
    }
    return made;
}

} // namespace vellumcast::exporting
