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

TEST(SheetPatterns, NamesAreMatchedAsUtf8Bytes)
{
    const SheetPatterns letters = Patterns({ "^Übersicht \\d+$" }, {});
    EXPECT_EQ(letters.Choose("Übersicht 3"), Choice::Taken);
    EXPECT_EQ(Patterns({ "^.ber" }, {}).Choose("Über"), Choice::LeftOut); // Ü is two bytes
    EXPECT_EQ(Patterns({ "^..ber" }, {}).Choose("Über"), Choice::Taken);
}

TEST(SheetPatterns, LongNamesAreAFailureOnlyWhenThereArePatterns)
{
    const std::string longest(SheetPatterns::MaxNameBytes, 'a');
    const std::string longer = longest + "a";
    EXPECT_EQ(SheetPatterns().Choose(longer), Choice::Taken);
    const SheetPatterns some = Patterns({ "a$" }, {});
    EXPECT_EQ(some.Choose(longest), Choice::Taken);
    EXPECT_EQ(some.Choose(longer), Choice::NameTooLong);
    EXPECT_EQ(Patterns({}, { "b" }).Choose(longer), Choice::NameTooLong);
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
        { true, "a{2", "--include pattern \"a{2\" is not a valid regular expression: a { is not closed" },
        { true, "[z-a]",
            "--include pattern \"[z-a]\" is not a valid regular expression: a range such as [z-a] runs "
            "backwards" },
        { true, "(a+)+b",
            "--include pattern \"(a+)+b\" cannot be used: it repeats a group that itself repeats or "
            "has alternatives, which can take exponential time" },
        { false, "^(Q1|Q2)*$",
            "--exclude pattern \"^(Q1|Q2)*$\" cannot be used: it repeats a group that itself "
            "repeats or has alternatives, which can take exponential time" },
        { true, "a*b*c*d*",
            "--include pattern \"a*b*c*d*\" cannot be used: it has more than three repeats (* + ? "
            "{}), which can take very long" },
    };
    for (const auto& c : cases) {
        SheetPatterns patterns;
        std::string error;
        EXPECT_FALSE(c.include ? patterns.AddInclude(c.pattern, error) : patterns.AddExclude(c.pattern, error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(patterns.Empty()) << c.pattern;
    }
    // Which problem a library names for a lone repeat differs; that it is refused does not.
    SheetPatterns patterns;
    std::string error;
    EXPECT_FALSE(patterns.AddInclude("*x", error));
    EXPECT_EQ(error.rfind("--include pattern \"*x\" is not a valid regular expression: ", 0), 0u) << error;
}

TEST(SheetPatterns, RepeatsAreCountedOutsideEscapesClassesAndGroupMarks)
{
    // None of these has more than three repeats or a repeated group that repeats.
    for (const char* pattern : { "^(?:Q1|Q2) \\d+$", "^[*+?{]+ \\(a\\)+$", "a*?b+?c??", "(?!draft)^\\w+$",
             "^(Jan|Feb)-\\d{4}$", "(ab)+c", "\\*\\+\\?\\{1\\}x{2,3}" }) {
        SheetPatterns patterns;
        std::string error;
        EXPECT_TRUE(patterns.AddInclude(pattern, error)) << pattern << ": " << error;
    }
    const SheetPatterns lazy = Patterns({ "^Q\\d+?$" }, {});
    EXPECT_EQ(lazy.Choose("Q12"), Choice::Taken);
}

TEST(SheetPatterns, PatternsMatchingNoneAreNamedAsGivenInOrder)
{
    const SheetPatterns patterns = Patterns({ "^Q", "Summary", "\\d$" }, { "draft", "^Q" });
    const std::string longName(SheetPatterns::MaxNameBytes + 1, 'Q');
    EXPECT_EQ(patterns.MatchingNone({ "Q1", "Notes", longName }),
        (std::vector<std::string> { "--include \"Summary\"", "--exclude \"draft\"" }));
    // A name too long to match matches no pattern, though it starts with Q.
    EXPECT_EQ(patterns.MatchingNone({ longName }).size(), 5u);
    EXPECT_TRUE(patterns.Included("Q1"));
    EXPECT_TRUE(patterns.Excluded("Q1"));
    EXPECT_FALSE(patterns.Excluded("Notes"));
    EXPECT_TRUE(SheetPatterns().MatchingNone({}).empty());
}

} // namespace
