// Worksheet name patterns over RE2, with its error codes turned into sentences of our own.
#include "cli/SheetPatterns.h"

#include <re2/re2.h>

#include <algorithm>

namespace vellumcast::cli {

namespace {

const char* Problem(re2::RE2::ErrorCode code, const std::string& where)
{
    switch (code) {
    case re2::RE2::ErrorBadEscape:
        return "it escapes a character that cannot be escaped, or refers back to a group (\\1), which is not "
               "supported";
    case re2::RE2::ErrorBadCharClass:
        return "it names a character class that does not exist";
    case re2::RE2::ErrorBadCharRange:
        // RE2 says so of an unknown [:class:] too.
        return where.starts_with("[:") ? "it names a character class that does not exist"
                                       : "a range such as [z-a] runs backwards";
    case re2::RE2::ErrorMissingBracket:
        return "a [ is not closed";
    case re2::RE2::ErrorMissingParen:
    case re2::RE2::ErrorUnexpectedParen:
        return "its ( and ) do not pair up";
    case re2::RE2::ErrorTrailingBackslash:
        return "it ends in a lone \\";
    case re2::RE2::ErrorRepeatArgument:
        return "a *, + or ? repeats nothing";
    case re2::RE2::ErrorRepeatSize:
        return "a {} repeat count is not valid or is over 1000";
    case re2::RE2::ErrorRepeatOp:
        return "a repeat is repeated, such as a**";
    case re2::RE2::ErrorBadPerlOp:
        return "it holds a (? group that is not supported, such as a lookahead (?=…) or lookbehind";
    case re2::RE2::ErrorBadUTF8:
        return "it is not valid UTF-8";
    case re2::RE2::ErrorBadNamedCapture:
        return "a named group (?P<name>…) is not valid";
    case re2::RE2::ErrorPatternTooLarge:
        return "it is too large to match";
    default:
        return "it is not a valid regular expression";
    }
}

} // namespace

bool SheetPatterns::AddInclude(const std::string& pattern, std::string& error)
{
    return Add("--include", pattern, m_include, error);
}

bool SheetPatterns::AddExclude(const std::string& pattern, std::string& error)
{
    return Add("--exclude", pattern, m_exclude, error);
}

bool SheetPatterns::Add(const char* option, const std::string& pattern, std::vector<Pattern>& into, std::string& error)
{
    re2::RE2::Options options;
    options.set_log_errors(false); // said as our own sentence instead
    options.set_never_capture(true);
    auto compiled = std::make_shared<const re2::RE2>(pattern, options);
    if (!compiled->ok()) {
        error = std::string(option) + " pattern \"" + pattern
            + "\" is not a valid regular expression: " + Problem(compiled->error_code(), compiled->error_arg());
        return false;
    }
    into.push_back({ std::move(compiled), std::string(option) + " \"" + pattern + "\"" });
    return true;
}

std::string SheetPatterns::FirstMatching(const std::vector<Pattern>& patterns, std::string_view name)
{
    for (const Pattern& pattern : patterns) {
        if (re2::RE2::PartialMatch(re2::StringPiece(name.data(), name.size()), *pattern.compiled))
            return pattern.given;
    }
    return {};
}

std::vector<std::string> SheetPatterns::MatchingNone(const std::vector<std::string_view>& names) const
{
    std::vector<std::string> none;
    for (const auto* patterns : { &m_include, &m_exclude }) {
        for (const Pattern& pattern : *patterns) {
            const bool any = std::any_of(names.begin(), names.end(), [&](std::string_view name) {
                return re2::RE2::PartialMatch(re2::StringPiece(name.data(), name.size()), *pattern.compiled);
            });
            if (!any)
                none.push_back(pattern.given);
        }
    }
    return none;
}

SheetPatterns::Choice SheetPatterns::Choose(std::string_view name) const
{
    if (!m_include.empty() && !Included(name))
        return Choice::LeftOut;
    return Excluded(name) ? Choice::LeftOut : Choice::Taken;
}

} // namespace vellumcast::cli
