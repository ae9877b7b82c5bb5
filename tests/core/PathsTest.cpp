// Paths as each system spells them, read on every system: a Windows path typed in cmd.exe
// (backslashes, a drive, a share, the long-path prefix) gives its file name and folder
// as Windows reads it, and a POSIX path keeps "\" and ":" as parts of a name.
#include "core/Paths.h"

#include <gtest/gtest.h>

using namespace vellumcast::core;

TEST(Paths, FileNameAndFolderAsEachSystemReadsThem)
{
    struct Case {
        PathStyle style;
        const char* path;
        const char* name;
        const char* folder;
    };
    const auto posix = PathStyle::Posix;
    const auto windows = PathStyle::Windows;
    const Case cases[] = {
        { posix, "report", "report", "." },
        { posix, "/data/sales.xlsx", "sales.xlsx", "/data" },
        { posix, "/sales.xlsx", "sales.xlsx", "/" },
        { posix, "data//sales.xlsx", "sales.xlsx", "data" },
        { posix, "data\\sales.xlsx", "data\\sales.xlsx", "." },
        { posix, "C:sales.xlsx", "C:sales.xlsx", "." },
        { windows, "report", "report", "." },
        { windows, "data\\a.xlsx", "a.xlsx", "data" },
        { windows, "..\\data\\a.xlsx", "a.xlsx", "..\\data" },
        { windows, "Z:/mixed\\a.xlsx", "a.xlsx", "Z:/mixed" },
        { windows, "C:\\x\\", "", "C:\\x" },
        { windows, "C:\\a.xlsx", "a.xlsx", "C:\\" },
        { windows, "C:a.xlsx", "a.xlsx", "C:" },
        { windows, "C:", "", "C:" },
        { windows, "\\a.xlsx", "a.xlsx", "\\" },
        { windows, "\\\\server\\share\\a.xlsx", "a.xlsx", "\\\\server\\share\\" },
        { windows, "\\\\server\\share\\in\\a.xlsx", "a.xlsx", "\\\\server\\share\\in" },
        { windows, "\\\\?\\C:\\long\\a.xlsx", "a.xlsx", "\\\\?\\C:\\long" },
        { windows, "\\\\?\\C:\\a.xlsx", "a.xlsx", "\\\\?\\C:\\" },
        { windows, "\\\\?\\UNC\\server\\share\\a.xlsx", "a.xlsx", "\\\\?\\UNC\\server\\share\\" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FileNameOfPath(c.path, c.style), c.name);
        EXPECT_EQ(FolderOfPath(c.path, c.style), c.folder);
    }
}

TEST(Paths, AJoinedPathHasOneKindOfSeparator)
{
    struct Case {
        PathStyle style;
        const char* folder;
        const char* joined; // with "a.txt"
    };
    const Case cases[] = {
        { PathStyle::Posix, "out", "out/a.txt" },
        { PathStyle::Posix, "/", "/a.txt" },
        { PathStyle::Posix, "out\\", "out\\/a.txt" },
        { PathStyle::Posix, "", "a.txt" },
        { PathStyle::Windows, "out", "out\\a.txt" },
        { PathStyle::Windows, ".", ".\\a.txt" },
        { PathStyle::Windows, "out/sub", "out/sub/a.txt" },
        { PathStyle::Windows, "C:\\out/sub/", "C:\\out\\sub\\a.txt" },
        { PathStyle::Windows, "C:", "C:a.txt" },
        { PathStyle::Windows, "C:\\", "C:\\a.txt" },
        { PathStyle::Windows, "\\\\server\\share", "\\\\server\\share\\a.txt" },
        { PathStyle::Windows, "\\\\?\\C:\\out", "\\\\?\\C:\\out\\a.txt" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(JoinPath(c.folder, "a.txt", c.style), c.joined) << c.folder;
}

TEST(Paths, EndingSeparatorsGoButARootStays)
{
    EXPECT_EQ(WithoutEndingSeparators("data//", PathStyle::Posix), "data");
    EXPECT_EQ(WithoutEndingSeparators("/", PathStyle::Posix), "/");
    EXPECT_EQ(WithoutEndingSeparators("data\\", PathStyle::Posix), "data\\");
    EXPECT_EQ(WithoutEndingSeparators("data\\/", PathStyle::Windows), "data");
    EXPECT_EQ(WithoutEndingSeparators("C:\\", PathStyle::Windows), "C:\\");
    EXPECT_EQ(WithoutEndingSeparators("\\\\server\\share\\", PathStyle::Windows), "\\\\server\\share\\");
}
