// Every entry writer speaks the same verbs: one sequence of begins, writes, cuts, commits
// and abandons must give the same entries in the results list and in the command line's
// spool, and the same files whether the list is saved afterwards, the save session is
// written directly, or the spool passes the entries on to the output folder in its turn.

#include "cli/SavingOutlet.h"
#include "cli/SpooledResults.h"
#include "export/ResultList.h"
#include "results/SaveResults.h"
#include "support/RecordingPorts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using options::SaveMode;

namespace {

// One verb: Begin of an entry of sheet, Write of text, Cut to size, Commit (cut short or
// not) or Abandon.
struct Verb {
    enum Kind { Begin, Write, Cut, Commit, CommitCutShort, Abandon } kind;
    std::string text; // the sheet Begin names, or the bytes Write adds
    uint64_t size = 0;
};

Verb B(std::string sheet)
{
    return { Verb::Begin, std::move(sheet) };
}
Verb W(std::string text)
{
    return { Verb::Write, std::move(text) };
}
Verb Cut(uint64_t size)
{
    return { Verb::Cut, {}, size };
}
const Verb kCommit { Verb::Commit, {} };
const Verb kCutShort { Verb::CommitCutShort, {} };
const Verb kAbandon { Verb::Abandon, {} };

// Speaks the verbs to writer; with marking, marks the sink after each commit and abandon,
// as the export marks it between worksheets, so that what came before goes on in turn.
void Play(exporting::EntryWriter& writer, const std::vector<Verb>& verbs, exporting::ResultSink* marking = nullptr)
{
    for (const Verb& verb : verbs) {
        switch (verb.kind) {
        case Verb::Begin:
            writer.Begin({ "b.txt", verb.text, 0, {}, SaveMode::EachSheet });
            break;
        case Verb::Write:
            writer.Write(verb.text);
            break;
        case Verb::Cut:
            writer.Cut(verb.size);
            break;
        case Verb::Commit:
            writer.Commit();
            break;
        case Verb::CommitCutShort:
            writer.CommitCutShort();
            break;
        case Verb::Abandon:
            writer.Abandon();
            break;
        }
        if (marking && (verb.kind == Verb::Commit || verb.kind == Verb::CommitCutShort || verb.kind == Verb::Abandon))
            marking->Mark();
    }
}

std::string Described(const exporting::ResultEntry& head, std::string text)
{
    return head.sheetName.Copy() + (head.cutShort ? " (cut short): " : ": ") + text;
}

std::map<std::string, std::string> Files(const vt::TempDir& dir)
{
    std::map<std::string, std::string> files;
    for (const std::string& name : vt::FilesIn(dir.Path()))
        files[name] = vt::ReadBytes(dir.File(name));
    return files;
}

} // namespace

TEST(EntryWriter, TheListTheSpoolAndTheSaveGiveTheSameEntriesAndFiles)
{
    const struct {
        const char* what;
        std::vector<Verb> verbs;
        std::vector<std::string> entries; // as the results list holds them
    } cases[] = {
        { "written in pieces, and empty", { B("S"), W("ab"), W(""), W("cd"), kCommit, B("T"), kCommit },
            { "S: abcd", "T: " } },
        { "cut back and written over", { B("S"), W("hello world"), Cut(5), W("!"), kCommit }, { "S: hello!" } },
        { "cut to nothing, or past its end",
            { B("S"), W("abc"), Cut(10), W("d"), kCommit, B("T"), W("gone"), Cut(0), W("xyz"), kCommit },
            { "S: abcd", "T: xyz" } },
        { "abandoned before and after writing: its name stays free",
            { B("S"), W("gone"), kAbandon, B("S"), kAbandon, kAbandon, B("S"), W("kept"), kCommit }, { "S: kept" } },
        { "cut short, after a whole one of its name",
            { B("S"), W("whole"), kCommit, B("S"), W("part"), Cut(2), kCutShort },
            { "S: whole", "S (cut short): pa" } },
        { "many, the first ones abandoned",
            { B("A"), W("1"), kAbandon, B("B"), W("22"), kCommit, B("C"), W("333"), kAbandon, B("D"),
                W(std::string(40, 'd')), Cut(20), kCommit, B("E"), W("5"), kCommit },
            { "B: 22", "D: " + std::string(20, 'd'), "E: 5" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vt::RecordingReporter reporter;
        vt::CountingPump pump;

        exporting::ResultList list;
        Play(list, c.verbs);
        std::vector<std::string> listed;
        for (const exporting::ResultEntry& entry : list)
            listed.push_back(Described(entry, entry.text.Copy()));
        EXPECT_EQ(listed, c.entries);

        // The spool holds them, in memory and past it, whatever its turn.
        cli::SpooledResults held(16);
        Play(held, c.verbs);
        std::vector<std::string> spooled;
        for (size_t i = 0; i < held.size(); ++i) {
            std::string text;
            EXPECT_EQ(held.WriteText(i,
                          [&](std::string_view piece) {
                              text += piece;
                              return 0;
                          }),
                0);
            spooled.push_back(Described(held.Head(i), text));
        }
        EXPECT_EQ(spooled, c.entries);

        vt::TempDir saved;
        results::SaveResults(saved.Path(), {}, list, { reporter, pump });
        const std::map<std::string, std::string> expected = Files(saved);
        EXPECT_EQ(expected.size(), c.entries.size());

        vt::TempDir written;
        {
            results::SaveSession session(written.Path(), std::nullopt, {}, { reporter, pump });
            Play(session, c.verbs);
        }
        EXPECT_EQ(Files(written), expected);

        for (const bool marking : { false, true }) {
            SCOPED_TRACE(marking ? "marked between entries" : "never marked");
            vt::TempDir passed;
            results::SaveSession session(passed.Path(), std::nullopt, {}, { reporter, pump });
            cli::SavingOutlet outlet(session);
            cli::OutletSlot turn { &outlet };
            cli::SpooledResults spool(16, &turn);
            Play(spool, c.verbs, marking ? &spool : nullptr);
            spool.PassOnRest(outlet);
            outlet.RethrowFailure();
            EXPECT_EQ(Files(passed), expected);
        }
        EXPECT_TRUE(reporter.reports.empty());
    }
}
