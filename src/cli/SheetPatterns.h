#pragma once
// Which worksheets an export takes by their names: patterns given with --include and
// --exclude, each an ECMAScript regular expression.
//
// A pattern matches a name when it matches anywhere in it, as grep matches a line; "^" and
// "$" anchor it to the whole name ("^Sheet1$" takes Sheet1 but not Sheet10). Matching is
// case-sensitive and over the name's UTF-8 bytes: a letter written in the pattern matches
// as written, but "." stands for one byte, not one non-ASCII letter.
//
// The standard library matches by backtracking, whose time grows with the power of the
// repeats in a pattern and, for a repeated group that repeats within or has alternatives
// ("(a+)+", "(a|aa)*"), exponentially; its recursion grows with the name. So a pattern
// takes at most three repeats (* + ? {}) and no repeated group of that kind, and names are
// matched up to 124 bytes (the application's 31 characters, 4 bytes each at most): a
// longer name, which only a crafted workbook holds, is a failure for the caller to report.

#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::cli {

class SheetPatterns {
public:
    // Adds a pattern; false, with error naming the option and the pattern and saying what
    // is wrong with it, when it is not a valid regular expression.
    bool AddInclude(const std::string& pattern, std::string& error);
    bool AddExclude(const std::string& pattern, std::string& error);

    static constexpr size_t MaxNameBytes = 124;
    static constexpr int MaxRepeats = 3;

    enum class Choice { Taken, LeftOut, NameTooLong };
    // Taken when some include pattern matches the name (or none was given) and no exclude
    // pattern does; NameTooLong, whatever the patterns, for a name past MaxNameBytes when
    // there are patterns.
    Choice Choose(std::string_view name) const;

    bool Empty() const { return m_include.empty() && m_exclude.empty(); }
    bool HasIncludes() const { return !m_include.empty(); }
    // Whether some include or some exclude pattern matches the name, which must be at most
    // MaxNameBytes long.
    bool Included(std::string_view name) const { return AnyMatches(m_include, name); }
    bool Excluded(std::string_view name) const { return AnyMatches(m_exclude, name); }

    // The patterns that match none of names, as the options were given: --include "P" or
    // --exclude "P". Names past MaxNameBytes match nothing.
    std::vector<std::string> MatchingNone(const std::vector<std::string_view>& names) const;

private:
    static bool Add(const char* option, const std::string& pattern, std::vector<std::regex>& into,
        std::vector<std::string>& texts, std::string& error);
    static bool AnyMatches(const std::vector<std::regex>& patterns, std::string_view name);

    std::vector<std::regex> m_include;
    std::vector<std::regex> m_exclude;
    std::vector<std::string> m_includeTexts; // the patterns as given, in order
    std::vector<std::string> m_excludeTexts;
};

} // namespace vellumcast::cli
