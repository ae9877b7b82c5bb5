// The command line as a Windows user drives it, and the same on Linux where the behaviour
// is shared: paths typed with backslashes land where the Linux build puts them for the
// same path form, wildcards cmd.exe leaves alone are expanded, a file another program
// holds open is said to be so, and the help's examples can be typed into cmd.exe. (The
// names Windows forbids are saved alike on both systems: scripts/compare-windows-output.sh.)

#include "cli/CliRun.h"
#include "core/Files.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#endif

using namespace vellumcast;
namespace vt = vellumcast::testing;
using vt::FilesIn;
using vt::RunCli;

namespace {

// The separator people type on this system.
constexpr char kSeparator = core::kSystemPathStyle == core::PathStyle::Windows ? '\\' : '/';

// path spelt with the separator people type on this system.
std::string Typed(std::string path)
{
    std::replace(path.begin(), path.end(), '/', kSeparator);
    return path;
}

std::filesystem::path Fs(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The working folder for the life of the object.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& folder)
        : m_earlier(std::filesystem::current_path())
    {
        std::filesystem::current_path(Fs(folder));
    }
    ~WorkingFolder() { std::filesystem::current_path(m_earlier); }

private:
    std::filesystem::path m_earlier;
};

} // namespace

// "..\data\a.csv" with no -o writes its text into the working folder, as "../data/a.csv" does
// on Linux, and every printed path uses one separator.
TEST(CommandLinePaths, TypedPathsLandWhereEachFormSaysAndPrintWithOneSeparator)
{
    vt::TempDir dir;
    std::filesystem::create_directories(Fs(dir.File("data")));
    std::filesystem::create_directories(Fs(dir.File("work/out")));
    dir.Write("data/a.csv", "1,2\n");
    const std::string work = dir.File("work");
    const WorkingFolder inWork(work);
    const std::string sep(1, kSeparator);

    struct Case {
        std::vector<std::string> arguments;
        std::string printed; // the path the text was saved at
        std::string saved; // where that is, from dir
    };
    const Case cases[] = {
        { { Typed("../data/a.csv") }, "." + sep + "a_a.txt", "work/a_a.txt" },
        { { "-o", "out", Typed("../data/a.csv") }, "out" + sep + "a_a.txt", "work/out/a_a.txt" },
        { { "-o", Typed("out/"), Typed("../data/a.csv") }, Typed("out/a_a.txt"), "work/out/a_a.txt" },
        { { "-o", Typed(work + "/out"), Typed(dir.File("data/a.csv")) }, Typed(work + "/out/a_a.txt"),
            "work/out/a_a.txt" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        std::filesystem::remove(Fs(dir.File(c.saved)));
        std::vector<std::string> arguments { "-m", "sheet" };
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const vt::CliRun run = RunCli(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, c.printed + "\n");
        EXPECT_EQ(vt::ReadBytes(dir.File(c.saved)), "\"1\"\t\"2\"\r\n");
    }
    EXPECT_EQ(FilesIn(dir.File("data")), std::vector<std::string> { "a.csv" }); // nothing beside the workbook
}

// cmd.exe passes "*.csv" on as it is: the program expands it, names in any script
// included. A POSIX shell expands wildcards itself, so a "*" reaching the program there
// is part of a file's name.
TEST(CommandLinePaths, WildcardsAreExpandedWhereTheShellLeavesThemToTheProgram)
{
    vt::TempDir dir, out;
    const std::string folder = Typed(dir.Path()) + kSeparator;
    if (core::kSystemPathStyle == core::PathStyle::Windows) {
        for (const char* name : { "b.csv", "日本.csv", "c.txt" })
            dir.Write(name, "x\n");
        const vt::CliRun run = RunCli({ "-o", out.Path(), folder + "*.csv" });
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(FilesIn(out.Path()), (std::vector<std::string> { "b.txt", "日本.txt" }));
        const vt::CliRun none = RunCli({ "-o", out.Path(), folder + "*.ods" });
        EXPECT_EQ(none.status, 1);
        EXPECT_EQ(none.err, "vellumcast-cli: " + folder + "*.ods: no file or folder matches this name\n");
    } else {
        dir.Write("a*.csv", "x\n");
        dir.Write("ab.csv", "y\n");
        const vt::CliRun run = RunCli({ "-o", out.Path(), folder + "a*.csv" });
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(FilesIn(out.Path()), (std::vector<std::string> { "a_.txt" }));
        EXPECT_NE(vt::ReadBytes(out.File("a_.txt")).find("\"x\""), std::string::npos); // a*.csv's, not ab.csv's
    }
}

TEST(CommandLinePaths, AFileAnotherProgramHoldsOpenIsSaidToBeSo)
{
#ifndef _WIN32
    GTEST_SKIP() << "POSIX files are not held by the programs that open them";
#else
    vt::TempDir dir, out;
    const std::string book = dir.Write("book.csv", "1\n");
    const std::string saved = out.Write("book.txt", "earlier");
    for (const std::string& held : { book, saved }) {
        SCOPED_TRACE(held);
        const HANDLE other = ::CreateFileW(
            Fs(held).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        const vt::CliRun run = RunCli({ "-q", "-o", out.Path(), book });
        ::CloseHandle(other);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("another program has the file open"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("ermission denied"), std::string::npos) << run.err;
        EXPECT_EQ(vt::ReadBytes(saved), "earlier");
    }
#endif
}

TEST(CommandLinePaths, TheHelpsExamplesCanBeTypedIntoCmd)
{
    const std::string help = cli::UsageText();
    // cmd.exe passes single quotes on as part of the text; double quotes work in every shell.
    EXPECT_EQ(help.find("e.g. '"), std::string::npos);
    EXPECT_NE(help.find("\"{book}.{ext}_{sheet}\""), std::string::npos);
    EXPECT_NE(help.find("Notepad"), std::string::npos); // --bom is pointed out where it is needed
}
