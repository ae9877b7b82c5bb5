// Worksheet name patterns: what they take and leave out, and the patterns refused with a
// message that names the option, the pattern and the problem.
#include "cli/SheetPatterns.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using vellumcast::cli::SheetPatterns;
using Choice = SheetPatterns::Choice;

namespace {

SheetPatterns Patterns(const std::vector<std::string>& include, const std::vector<std::string>& exclude)
{
    SheetPatterns patterns;
    std::string error;
    for (const std::string& pattern : include)
        EXPECT_TRUE(patterns.AddInclude(pattern, error)) << error;
    for (const std::string& pattern : exclude)
        EXPECT_TRUE(patterns.AddExclude(pattern, error)) << error;
    return patterns;
}

TEST(SheetPatterns, IncludeSearchesExcludeWinsAndAnchorsMatchTheWholeName)
{
    EXPECT_EQ(SheetPatterns().Choose("anything"), Choice::Taken);
    const SheetPatterns some = Patterns({ "Sheet1" }, {});
    EXPECT_EQ(some.Choose("Sheet1"), Choice::Taken);
    EXPECT_EQ(some.Choose("Sheet10"), Choice::Taken); // a search, as grep does
    EXPECT_EQ(some.Choose("sheet1"), Choice::LeftOut); // case counts
    EXPECT_EQ(some.Choose("Summary"), Choice::LeftOut);
    const SheetPatterns whole = Patterns({ "^Sheet1$" }, {});
    EXPECT_EQ(whole.Choose("Sheet1"), Choice::Taken);
    EXPECT_EQ(whole.Choose("Sheet10"), Choice::LeftOut);
    // Any include pattern takes a name; any exclude pattern leaves it out, include or not.
    const SheetPatterns both = Patterns({ "^Q[1-4]", "^Total$" }, { "draft", "^Q4" });
    EXPECT_EQ(both.Choose("Q1 2026"), Choice::Taken);
    EXPECT_EQ(both.Choose("Total"), Choice::Taken);
    EXPECT_EQ(both.Choose("Q2 draft"), Choice::LeftOut);
    EXPECT_EQ(both.Choose("Q4 2026"), Choice::LeftOut);
    EXPECT_EQ(both.Choose("Notes"), Choice::LeftOut);
    const SheetPatterns only = Patterns({}, { "^_" });
    EXPECT_EQ(only.Choose("_hidden"), Choice::LeftOut);
    EXPECT_EQ(only.Choose("Visible_"), Choice::Taken);
    EXPECT_EQ(only.Choose(""), Choice::Taken);
}

TEST(SheetPatterns, NamesAreMatchedAsUtf8Characters)
{
    const SheetPatterns letters = Patterns({ "^Übersicht \\d+$" }, {});
    EXPECT_EQ(letters.Choose("Übersicht 3"), Choice::Taken);
    EXPECT_EQ(Patterns({ "^.ber" }, {}).Choose("Über"), Choice::Taken); // Ü is one character
    EXPECT_EQ(Patterns({ "^..ber" }, {}).Choose("Über"), Choice::LeftOut);
    EXPECT_EQ(Patterns({ "(?i)^über" }, {}).Choose("ÜBERSICHT"), Choice::Taken);
}

TEST(SheetPatterns, LongNamesAndCostlyLookingPatternsMatchInLinearTime)
{
    // Patterns a backtracking engine takes exponential time over: a linear one is given
    // them, and a name that makes them fail after every try answers at once.
    const std::string many(5000, 'a');
    const SheetPatterns nested = Patterns({ "(a+)+b", "_(raw|data)+$", "^(a|aa)*$" }, {});
    EXPECT_EQ(nested.Choose(many + "!"), Choice::LeftOut);
    EXPECT_EQ(nested.Choose(many), Choice::Taken); // ^(a|aa)*$
    EXPECT_EQ(nested.Choose("sales_rawdata"), Choice::Taken);
    EXPECT_EQ(Patterns({ "a*b*c*d*e*$" }, {}).Choose(many + "e"), Choice::Taken);
    EXPECT_EQ(Patterns({}, { "a$" }).Choose(many), Choice::LeftOut);
}

TEST(SheetPatterns, BadPatternsAreRefusedWithTheReason)
{
    const struct {
        bool include;
        const char* pattern;
        const char* error;
    } cases[] = {
        { true, "[abc", "--include pattern \"[abc\" is not a valid regular expression: a [ is not closed" },
        { false, "(Q1", "--exclude pattern \"(Q1\" is not a valid regular expression: its ( and ) do not pair up" },
        { true, "Q1)", "--include pattern \"Q1)\" is not a valid regular expression: its ( and ) do not pair up" },
        { true, "[z-a]",
            "--include pattern \"[z-a]\" is not a valid regular expression: a range such as [z-a] runs "
            "backwards" },
        { true, "*x", "--include pattern \"*x\" is not a valid regular expression: a *, + or ? repeats nothing" },
        { true, "a{2000}",
            "--include pattern \"a{2000}\" is not a valid regular expression: a {} repeat count is not valid or is "
            "over 1000" },
        { true, "a**",
            "--include pattern \"a**\" is not a valid regular expression: a repeat is repeated, such as a**" },
        { false, "(?!draft)^\\w+$",
            "--exclude pattern \"(?!draft)^\\w+$\" is not a valid regular expression: it holds a (? group that is "
            "not supported, such as a lookahead (?=…) or lookbehind" },
        { true, "(a)\\1",
            "--include pattern \"(a)\\1\" is not a valid regular expression: it escapes a character that cannot be "
            "escaped, or refers back to a group (\\1), which is not supported" },
        { true, "x\\", "--include pattern \"x\\\" is not a valid regular expression: it ends in a lone \\" },
        { true, "[[:nope:]]",
            "--include pattern \"[[:nope:]]\" is not a valid regular expression: it names a character class that "
            "does not exist" },
    };
    for (const auto& c : cases) {
        SheetPatterns patterns;
        std::string error;
        EXPECT_FALSE(c.include ? patterns.AddInclude(c.pattern, error) : patterns.AddExclude(c.pattern, error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(patterns.Empty()) << c.pattern;
    }
}

TEST(SheetPatterns, WhatPeopleWriteIsTaken)
{
    for (const char* pattern : { "^(?:Q1|Q2) \\d+$", "^[*+?{]+ \\(a\\)+$", "a*?b+?c??", "^\\w+$", "^(Jan|Feb)-\\d{4}$",
             "(ab)+c", "\\*\\+\\?\\{1\\}x{2,3}", "a{2", "[[:alpha:]]" }) {
        SheetPatterns patterns;
        std::string error;
        EXPECT_TRUE(patterns.AddInclude(pattern, error)) << pattern << ": " << error;
    }
    const SheetPatterns lazy = Patterns({ "^Q\\d+?$" }, {});
    EXPECT_EQ(lazy.Choose("Q12"), Choice::Taken);
    // An unclosed { is taken as itself, as grep -E takes it.
    EXPECT_EQ(Patterns({ "a{2" }, {}).Choose("xa{2"), Choice::Taken);
}

TEST(SheetPatterns, PatternsMatchingNoneAreNamedAsGivenInOrder)
{
    const SheetPatterns patterns = Patterns({ "^Q", "Summary", "\\d$" }, { "draft", "^Q" });
    EXPECT_EQ(patterns.MatchingNone({ "Q1", "Notes" }),
        (std::vector<std::string> { "--include \"Summary\"", "--exclude \"draft\"" }));
    EXPECT_EQ(patterns.MatchingNone({ "none" }).size(), 5u);
    EXPECT_TRUE(patterns.Included("Q1"));
    EXPECT_TRUE(patterns.Excluded("Q1"));
    EXPECT_EQ(patterns.ExcludedBy("Q1 draft"), "--exclude \"draft\""); // the first that matches
    EXPECT_EQ(patterns.ExcludedBy("Notes"), "");
    EXPECT_FALSE(patterns.Excluded("Notes"));
    EXPECT_TRUE(SheetPatterns().MatchingNone({}).empty());
}

} // namespace
