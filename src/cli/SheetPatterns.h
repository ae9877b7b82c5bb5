#pragma once
// Which worksheets an export takes by their names: patterns given with --include and
// --exclude, each a regular expression in RE2's syntax (that of grep -E and Perl, without
// back-references and lookaround).
//
// A pattern matches a name when it matches anywhere in it, as grep matches a line; "^" and
// "$" anchor it to the whole name ("^Sheet1$" takes Sheet1 but not Sheet10). Matching is
// case-sensitive unless the pattern starts with (?i), and over the name's UTF-8
// characters: "." stands for one letter, accented or not. RE2 matches in time linear in
// the name, whatever the pattern, so no pattern is refused for what it might cost.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace re2 {
class RE2;
}

namespace vellumcast::cli {

class SheetPatterns {
public:
    // Adds a pattern; false, with error naming the option and the pattern and saying what
    // is wrong with it, when it is not a valid regular expression.
    bool AddInclude(const std::string& pattern, std::string& error);
    bool AddExclude(const std::string& pattern, std::string& error);

    enum class Choice { Taken, LeftOut };
    // Taken when some include pattern matches the name (or none was given) and no exclude
    // pattern does.
    Choice Choose(std::string_view name) const;

    bool Empty() const { return m_include.empty() && m_exclude.empty(); }
    bool HasIncludes() const { return !m_include.empty(); }
    // Whether some include or some exclude pattern matches the name.
    bool Included(std::string_view name) const { return !FirstMatching(m_include, name).empty(); }
    bool Excluded(std::string_view name) const { return !ExcludedBy(name).empty(); }
    // The first exclude pattern matching the name, as the option was given: --exclude "P";
    // "" when none does.
    std::string ExcludedBy(std::string_view name) const { return FirstMatching(m_exclude, name); }

    // The patterns that match none of names, as the options were given: --include "P" or
    // --exclude "P".
    std::vector<std::string> MatchingNone(const std::vector<std::string_view>& names) const;

private:
    // A pattern compiled, shared by the copies of the options (matching is thread-safe),
    // and the option as given.
    struct Pattern {
        std::shared_ptr<const re2::RE2> compiled;
        std::string given; // --include "P"
    };
    static bool Add(const char* option, const std::string& pattern, std::vector<Pattern>& into, std::string& error);
    // The first of patterns matching name, as given; "" when none does.
    static std::string FirstMatching(const std::vector<Pattern>& patterns, std::string_view name);

    std::vector<Pattern> m_include;
    std::vector<Pattern> m_exclude;
};

} // namespace vellumcast::cli
