#include "spreadsheet/xml/Xml.h"

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/xml/XmlEncodings.h"
#include "spreadsheet/xml/XmlText.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace vellumcast::spreadsheet::xml {

namespace {

// Separates the namespace URI from the local name in the names Expat reports. A control
// character cannot appear in an XML 1.0 name or namespace URI.
constexpr char kSeparator = '\x01';

struct SplitName {
    std::string_view uri;
    std::string_view local;
};

SplitName Split(const char* name)
{
    const std::string_view full(name);
    const size_t at = full.find(kSeparator);
    if (at == std::string_view::npos)
        return { {}, full };
    return { full.substr(0, at), full.substr(at + 1) };
}

// Thrown through Read's sink once the handler has stopped the parser, so the rest of the
// member is not inflated for nothing.
struct StopReading { };

} // namespace

std::string_view XmlAttributes::Get(std::string_view localName, bool* found) const
{
    for (const char** attribute = m_attributes; attribute && *attribute; attribute += 2) {
        if (Split(attribute[0]).local == localName) {
            if (found)
                *found = true;
            return attribute[1];
        }
    }
    if (found)
        *found = false;
    return {};
}

std::string_view XmlAttributes::Get(std::string_view namespaceUri, std::string_view localName, bool* found) const
{
    for (const char** attribute = m_attributes; attribute && *attribute; attribute += 2) {
        const SplitName name = Split(attribute[0]);
        if (name.local == localName && name.uri == namespaceUri) {
            if (found)
                *found = true;
            return attribute[1];
        }
    }
    if (found)
        *found = false;
    return {};
}

struct XmlParser::State {
    XML_Parser parser = nullptr;
    XmlHandler* handler = nullptr;
    std::exception_ptr pending; // an exception thrown inside a callback, rethrown by Feed
    std::string refusal; // why the document was refused (DTD, depth)
    int depth = 0;
    bool stopped = false;
    bool inCallback = false;
    bool finished = false;
    bool suspended = false;
    std::string rest; // of a piece not yet handed to Expat when it paused
    bool restFinal = false; // that piece was the last
    bool parsingFinal = false; // the piece Expat paused in was the last

    // Throws what the parse of a piece met: a handler's exception, a refusal or a fault.
    void Check(XML_Status status)
    {
        if (pending) {
            finished = true;
            std::rethrow_exception(std::exchange(pending, nullptr));
        }
        if (!refusal.empty()) {
            finished = true;
            throw SpreadsheetError(ErrorCode::Corrupt, refusal);
        }
        if (stopped || status == XML_STATUS_SUSPENDED)
            return;
        if (status != XML_STATUS_OK) {
            finished = true;
            const XML_Error error = XML_GetErrorCode(parser);
            throw SpreadsheetError(ErrorCode::Corrupt,
                "the XML is malformed (" + std::string(XML_ErrorString(error)) + " at line "
                    + std::to_string(XML_GetCurrentLineNumber(parser)) + ")");
        }
    }

    // Runs a handler call; an exception stops the parser instead of unwinding through Expat.
    template <typename Call> void Guard(Call&& call)
    {
        if (pending || stopped || !refusal.empty())
            return;
        inCallback = true;
        try {
            call();
        } catch (...) {
            pending = std::current_exception();
            XML_StopParser(parser, XML_FALSE);
        }
        inCallback = false;
    }

    void Refuse(std::string why)
    {
        if (refusal.empty())
            refusal = std::move(why);
        XML_StopParser(parser, XML_FALSE);
    }

    static void OnStart(void* data, const XML_Char* name, const XML_Char** attributes)
    {
        auto* self = static_cast<State*>(data);
        if (++self->depth > kMaxDepth) {
            self->Refuse("the XML nests elements more than " + std::to_string(kMaxDepth) + " deep");
            return;
        }
        self->Guard([&] {
            const SplitName split = Split(name);
            self->handler->StartElement(split.uri, split.local, XmlAttributes(attributes));
        });
    }

    static void OnEnd(void* data, const XML_Char* name)
    {
        auto* self = static_cast<State*>(data);
        --self->depth;
        self->Guard([&] {
            const SplitName split = Split(name);
            self->handler->EndElement(split.uri, split.local);
        });
    }

    static void OnCharacters(void* data, const XML_Char* text, int length)
    {
        auto* self = static_cast<State*>(data);
        self->Guard([&] { self->handler->Characters(std::string_view(text, static_cast<size_t>(length))); });
    }

    // An encoding Expat does not read itself: a single-byte code page the system knows.
    static int OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info)
    {
        const auto page = CodePageOfEncoding(name);
        const auto table = page ? SingleByteTable(*page) : std::nullopt;
        if (!table)
            return XML_STATUS_ERROR;
        std::copy(table->begin(), table->end(), info->map);
        info->data = nullptr;
        info->convert = nullptr;
        info->release = nullptr;
        return XML_STATUS_OK;
    }

    // A document type that only names an external definition, as old OpenOffice manifests
    // do, is harmless: it is never loaded. One with declarations of its own is refused.
    static void OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int hasInternalSubset)
    {
        if (hasInternalSubset)
            static_cast<State*>(data)->Refuse("the XML holds a document type declaration, which is not allowed");
    }

    // With an external definition that is not loaded, Expat passes over an entity it does
    // not know; it is refused, as it is in a document without one.
    static void OnSkippedEntity(void* data, const XML_Char* name, int)
    {
        static_cast<State*>(data)->Refuse(
            "the XML refers to an entity it does not declare (" + std::string(name) + ")");
    }

    static void OnEntity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
        const XML_Char*, const XML_Char*)
    {
        static_cast<State*>(data)->Refuse("the XML declares entities, which is not allowed");
    }
};

XmlParser::XmlParser(XmlHandler& handler)
    : m_state(std::make_unique<State>())
{
    m_state->handler = &handler;
    m_state->parser = XML_ParserCreateNS(nullptr, kSeparator);
    if (!m_state->parser)
        throw std::bad_alloc();
    XML_SetUserData(m_state->parser, m_state.get());
    XML_SetElementHandler(m_state->parser, &State::OnStart, &State::OnEnd);
    XML_SetCharacterDataHandler(m_state->parser, &State::OnCharacters);
    XML_SetStartDoctypeDeclHandler(m_state->parser, &State::OnDoctype);
    XML_SetEntityDeclHandler(m_state->parser, &State::OnEntity);
    XML_SetSkippedEntityHandler(m_state->parser, &State::OnSkippedEntity);
    XML_SetUnknownEncodingHandler(m_state->parser, &State::OnUnknownEncoding, nullptr);
    XML_SetParamEntityParsing(m_state->parser, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlParser::~XmlParser()
{
    XML_ParserFree(m_state->parser);
}

void XmlParser::Feed(std::string_view piece, bool final)
{
    State& state = *m_state;
    if (state.suspended)
        throw std::logic_error("XmlParser::Feed while suspended");
    if (state.stopped || state.finished)
        return;
    do {
        const int length = static_cast<int>(std::min<size_t>(piece.size(), INT_MAX / 2));
        const bool last = final && static_cast<size_t>(length) == piece.size();
        const XML_Status status = XML_Parse(state.parser, piece.data(), length, last ? XML_TRUE : XML_FALSE);
        piece.remove_prefix(static_cast<size_t>(length));
        state.Check(status);
        if (state.stopped)
            return;
        if (status == XML_STATUS_SUSPENDED) {
            state.suspended = true;
            state.parsingFinal = last;
            state.rest.assign(piece);
            state.restFinal = final;
            return;
        }
    } while (!piece.empty());
    if (final)
        state.finished = true;
}

void XmlParser::Suspend()
{
    State& state = *m_state;
    if (!state.inCallback)
        throw std::logic_error("XmlParser::Suspend outside a handler");
    XML_StopParser(state.parser, XML_TRUE);
}

uint64_t XmlParser::EventOffset() const
{
    const XML_Index index = XML_GetCurrentByteIndex(m_state->parser);
    return index < 0 ? 0 : static_cast<uint64_t>(index);
}

bool XmlParser::Suspended() const
{
    return m_state->suspended;
}

void XmlParser::Resume()
{
    State& state = *m_state;
    if (!state.suspended)
        return;
    state.suspended = false;
    const XML_Status status = XML_ResumeParser(state.parser);
    state.Check(status);
    if (state.stopped)
        return;
    if (status == XML_STATUS_SUSPENDED) {
        state.suspended = true;
        return;
    }
    if (state.parsingFinal) {
        state.finished = true;
        return;
    }
    if (!state.rest.empty() || state.restFinal) {
        const std::string rest = std::move(state.rest);
        state.rest.clear();
        Feed(rest, state.restFinal);
    }
}

void XmlParser::Stop()
{
    State& state = *m_state;
    if (state.stopped)
        return;
    state.stopped = true;
    if (state.inCallback)
        XML_StopParser(state.parser, XML_FALSE);
}

bool XmlParser::Stopped() const
{
    return m_state->stopped;
}

void ParseXmlMember(const container::ZipArchive& archive, const container::ZipEntry& entry, XmlHandler& handler,
    const std::function<void()>& afterChunk)
{
    XmlParser parser(handler);
    try {
        archive.Read(entry, [&](std::string_view chunk) {
            parser.Feed(chunk, false);
            if (parser.Stopped())
                throw StopReading();
            if (afterChunk)
                afterChunk();
        });
    } catch (const StopReading&) {
        return;
    }
    parser.Feed({}, true);
}

void ParseXml(std::string_view document, XmlHandler& handler)
{
    XmlParser parser(handler);
    parser.Feed(document, true);
}

} // namespace vellumcast::spreadsheet::xml
