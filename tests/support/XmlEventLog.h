#pragma once
// Records what an XML reader reports, one entry per event, so that two readers (the
// scanner and Expat, or the scanner with and without a direct path) can be compared.
// Attributes are listed in order, a namespaced name as URI, '|' and local name; text
// pieces are joined, since readers cut them differently. The log stops growing at 4 MiB.

#include "spreadsheet/xml/Xml.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace vellumcast::testing {

class XmlEventLog : public spreadsheet::xml::XmlHandler {
public:
    void StartElement(
        std::string_view uri, std::string_view local, const spreadsheet::xml::XmlAttributes& attributes) override
    {
        Flush();
        log += "<{" + std::string(uri) + "}" + std::string(local);
        for (const char** a = attributes.Raw(); *a; a += 2) {
            std::string name(a[0]);
            std::replace(name.begin(), name.end(), '\x01', '|');
            log += " " + name + "=[" + a[1] + "]";
        }
        log += ">";
        Bound();
    }
    void EndElement(std::string_view uri, std::string_view local) override
    {
        Flush();
        log += "</{" + std::string(uri) + "}" + std::string(local) + ">";
        Bound();
    }
    void Characters(std::string_view piece) override
    {
        if (text.size() < kMaxLog)
            text += piece;
    }
    // Ends the text being collected; call before reading the log.
    void Flush()
    {
        if (!text.empty())
            log += "'" + text + "'";
        text.clear();
    }

    std::string log;
    std::string text;

private:
    static constexpr size_t kMaxLog = size_t { 1 } << 22;
    void Bound()
    {
        if (log.size() > kMaxLog)
            log.resize(kMaxLog);
    }
};

} // namespace vellumcast::testing
