// Worksheet name patterns over std::regex, with the library's error codes turned into
// sentences of our own (its what() texts differ between standard libraries).
#include "cli/SheetPatterns.h"

#include <algorithm>

namespace vellumcast::cli {

namespace {

const char* Problem(std::regex_constants::error_type code)
{
    using namespace std::regex_constants;
    switch (code) {
    case error_collate:
        return "it names a collating element that does not exist";
    case error_ctype:
        return "it names a character class that does not exist";
    case error_escape:
        return "it ends in a lone \\ or escapes a character that cannot be escaped";
    case error_backref:
        return "it refers back to a group it does not have";
    case error_brack:
        return "a [ is not closed";
    case error_paren:
        return "its ( and ) do not pair up";
    case error_brace:
        return "a { is not closed";
    case error_badbrace:
        return "a {} repeat count is not valid";
    case error_range:
        return "a range such as [z-a] runs backwards";
    case error_space:
    case error_complexity:
    case error_stack:
        return "it is too large to match";
    case error_badrepeat:
        return "a *, +, ? or { repeats nothing";
    default:
        return "it is not a valid regular expression";
    }
}

// Why a pattern would take too long to match, or nullptr: counts its repeats and finds a
// repeated group that repeats within or has alternatives. Escapes and bracket
// expressions are passed over; a "?" right after a repeat only makes it lazy.
const char* TooCostly(const std::string& pattern)
{
    struct Group {
        bool repeats = false;
        bool alternatives = false;
    };
    std::vector<Group> groups(1);
    int repeats = 0;
    bool afterRepeat = false;
    Group closed; // the group just closed, which a repeat may follow
    bool groupJustClosed = false;
    size_t escaped = std::string::npos; // where the last escaped character is
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        const bool groupMark = c == '?' && i > 0 && pattern[i - 1] == '(' && escaped != i - 1; // (?: (?= (?!
        const bool quantifier = c == '*' || c == '+' || c == '{' || (c == '?' && !afterRepeat && !groupMark);
        if (quantifier) {
            if (c == '{')
                i = std::min(pattern.find('}', i), pattern.size() - 1);
            if (groupJustClosed && (closed.repeats || closed.alternatives))
                return "it repeats a group that itself repeats or has alternatives, which can take exponential "
                       "time";
            if (++repeats > SheetPatterns::MaxRepeats)
                return "it has more than three repeats (* + ? {}), which can take very long";
            groups.back().repeats = true;
        }
        afterRepeat = quantifier;
        groupJustClosed = false;
        if (quantifier)
            continue;
        if (c == '\\') {
            escaped = ++i;
        } else if (c == '[') {
            for (++i; i < pattern.size() && pattern[i] != ']'; ++i)
                i += pattern[i] == '\\' ? 1 : 0;
        } else if (c == '(') {
            groups.emplace_back();
        } else if (c == ')' && groups.size() > 1) {
            closed = groups.back();
            groups.pop_back();
            groups.back().repeats = groups.back().repeats || closed.repeats;
            groupJustClosed = true;
        } else if (c == '|') {
            groups.back().alternatives = true;
        }
    }
    return nullptr;
}

} // namespace

bool SheetPatterns::AddInclude(const std::string& pattern, std::string& error)
{
    return Add("--include", pattern, m_include, m_includeTexts, error);
}

bool SheetPatterns::AddExclude(const std::string& pattern, std::string& error)
{
    return Add("--exclude", pattern, m_exclude, m_excludeTexts, error);
}

bool SheetPatterns::Add(const char* option, const std::string& pattern, std::vector<std::regex>& into,
    std::vector<std::string>& texts, std::string& error)
{
    const std::string start = std::string(option) + " pattern \"" + pattern + "\" ";
    try {
        std::regex compiled(pattern, std::regex::ECMAScript | std::regex::nosubs);
        if (const char* cost = TooCostly(pattern)) {
            error = start + "cannot be used: " + cost;
            return false;
        }
        into.push_back(std::move(compiled));
        texts.push_back(pattern);
        return true;
    } catch (const std::regex_error& failure) {
        error = start + "is not a valid regular expression: " + Problem(failure.code());
        return false;
    }
}

bool SheetPatterns::AnyMatches(const std::vector<std::regex>& patterns, std::string_view name)
{
    for (const std::regex& pattern : patterns) {
        if (std::regex_search(name.begin(), name.end(), pattern))
            return true;
    }
    return false;
}

std::vector<std::string> SheetPatterns::MatchingNone(const std::vector<std::string_view>& names) const
{
    std::vector<std::string> none;
    const auto check
        = [&](const char* option, const std::vector<std::regex>& patterns, const std::vector<std::string>& texts) {
              for (size_t p = 0; p < patterns.size(); ++p) {
                  const bool any = std::any_of(names.begin(), names.end(), [&](std::string_view name) {
                      return name.size() <= MaxNameBytes && std::regex_search(name.begin(), name.end(), patterns[p]);
                  });
                  if (!any)
                      none.push_back(std::string(option) + " \"" + texts[p] + "\"");
              }
          };
    check("--include", m_include, m_includeTexts);
    check("--exclude", m_exclude, m_excludeTexts);
    return none;
}

SheetPatterns::Choice SheetPatterns::Choose(std::string_view name) const
{
    if (Empty())
        return Choice::Taken;
    if (name.size() > MaxNameBytes)
        return Choice::NameTooLong;
    if (!m_include.empty() && !AnyMatches(m_include, name))
        return Choice::LeftOut;
    return AnyMatches(m_exclude, name) ? Choice::LeftOut : Choice::Taken;
}

} // namespace vellumcast::cli
