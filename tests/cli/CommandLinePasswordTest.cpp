// The password of encrypted workbooks reaches the command line from a file or the
// environment, never an argument, and never shows in what it prints.

#include "cli/CliRun.h"
#include "support/EncryptedWorkbooks.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace vt = vellumcast::testing;

namespace {

// Sets or clears VELLUMCAST_PASSWORD for one scope.
class PasswordVariable {
public:
    explicit PasswordVariable(const std::optional<std::string>& value) { Set(value ? value->c_str() : nullptr); }
    ~PasswordVariable() { Set(nullptr); }

private:
    static void Set(const char* value)
    {
#ifdef _WIN32
        _putenv_s("VELLUMCAST_PASSWORD", value ? value : "");
#else
        if (value)
            setenv("VELLUMCAST_PASSWORD", value, 1);
        else
            unsetenv("VELLUMCAST_PASSWORD");
#endif
    }
};

std::string LockedWorkbook(const std::string& password)
{
    vt::XlsxWriter writer;
    writer.AddSheet("Sheet1").InlineString(1, 1, "behind the lock");
    return vt::EncryptPackage(writer.Build(), vt::PackageScheme::Agile, password);
}

TEST(CommandLinePassword, FromAFileOrTheEnvironment)
{
    vt::TempDir dir;
    const std::string book = dir.Write("locked.xlsx", LockedWorkbook("open sesame"));
    const std::string right = dir.Write("right.txt", "open sesame\r\nsecond line is not the password\n");
    const std::string wrong = dir.Write("wrong.txt", "not it\n");
    const std::string empty = dir.Write("empty.txt", "\n");
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::optional<std::string> variable;
        int status;
        const char* said; // on standard error; "" for nothing
    };
    const std::vector<Case> cases = {
        { "none", {}, std::nullopt, 1, "the workbook is password-protected" },
        { "file", { "--password-file", right }, std::nullopt, 0, "" },
        { "file given with =", { "--password-file=" + right }, std::nullopt, 0, "" },
        { "environment", {}, "open sesame", 0, "" },
        { "the file before the environment", { "--password-file", right }, "not it", 0, "" },
        { "wrong file", { "--password-file", wrong }, std::nullopt, 1, "the password given does not open it" },
        { "wrong environment", {}, "not it", 1, "the password given does not open it" },
        { "missing file", { "--password-file", dir.File("none.txt") }, std::nullopt, 2,
            "the password file does not exist" },
        { "empty file", { "--password-file", empty }, std::nullopt, 2, "the password file is empty" },
    };
    for (const Case& c : cases) {
        PasswordVariable variable(c.variable);
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.end(), { "-o", "-", book });
        const vt::CliRun run = vt::RunCli(arguments);
        EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.err;
        if (c.status == 0) {
            EXPECT_NE(run.out.find("behind the lock"), std::string::npos) << c.name;
        }
        if (*c.said) {
            EXPECT_NE(run.err.find(c.said), std::string::npos) << c.name << "\n" << run.err;
        } else {
            EXPECT_EQ(run.err, "") << c.name;
        }
        for (const std::string secret : { "open sesame", "not it" }) {
            EXPECT_EQ(run.err.find(secret), std::string::npos) << c.name << "\n" << run.err;
            EXPECT_EQ(run.out.find(secret), std::string::npos) << c.name;
        }
    }
}

TEST(CommandLinePassword, NotAnArgument)
{
    for (const std::string option : { "--password", "--password=x", "-p" }) {
        const vt::CliRun run = vt::RunCli({ option, "x", "a.xlsx" });
        EXPECT_EQ(run.status, 2) << option;
    }
    EXPECT_NE(vt::RunCli({ "--help" }).out.find("--password-file FILE"), std::string::npos);
}

} // namespace
