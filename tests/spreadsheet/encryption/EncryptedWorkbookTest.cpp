// Workbooks saved with a password: each scheme opens with the application's default
// password without asking, with a real password asked for once, and says so distinctly
// when none or a wrong one is given; damaged encryption records fail cleanly.

#include "spreadsheet/Workbook.h"
#include "spreadsheet/encryption/BiffEncryption.h"
#include "spreadsheet/encryption/PackageEncryption.h"
#include "support/CfbTestContainer.h"
#include "support/EncryptedWorkbooks.h"
#include "support/Failures.h"
#include "support/TempDir.h"
#include "support/XlsbWriter.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

using testing::EncryptedStreams;
using testing::PackageScheme;
using testing::XlsScheme;

std::string U16(uint16_t v)
{
    return { static_cast<char>(v & 0xFF), static_cast<char>(v >> 8) };
}

std::string U32(uint32_t v)
{
    return U16(static_cast<uint16_t>(v)) + U16(static_cast<uint16_t>(v >> 16));
}

std::string Record(uint16_t type, const std::string& data)
{
    return U16(type) + U16(static_cast<uint16_t>(data.size())) + data;
}

constexpr int kRows = 400; // numbers enough to cross many 1024-byte blocks of the stream

// A BIFF8 workbook stream: two worksheets, "Plain" with a shared string and a column of
// numbers, "Second" with a string cell.
std::string WorkbookStream()
{
    const auto bof = [](uint16_t kind) { return Record(0x0809, U16(0x0600) + U16(kind) + std::string(12, '\0')); };
    const auto boundSheet = [](const std::string& name) {
        return Record(
            0x0085, U32(0) + std::string(2, '\0') + std::string(1, static_cast<char>(name.size())) + '\0' + name);
    };
    std::string s = bof(0x0005) + Record(0x0042, U16(1200));
    const size_t first = s.size() + 4;
    s += boundSheet("Plain");
    const size_t second = s.size() + 4;
    s += boundSheet("Second");
    s += Record(0x00FC, U32(1) + U32(1) + U16(11) + '\0' + "secret text");
    s += Record(0x000A, "");
    const auto position = [&](size_t at) { s.replace(at, 4, U32(static_cast<uint32_t>(s.size()))); };
    position(first);
    s += bof(0x0010) + Record(0x00FD, U16(0) + U16(0) + U16(0) + U32(0));
    for (int row = 1; row <= kRows; ++row) {
        double value = row * 1.5;
        std::string bytes(8, '\0');
        std::memcpy(bytes.data(), &value, 8);
        s += Record(0x0203, U16(static_cast<uint16_t>(row - 1)) + U16(1) + U16(0) + bytes);
    }
    s += Record(0x000A, "");
    position(second);
    s += bof(0x0010) + Record(0x0204, U16(2) + U16(2) + U16(0) + U16(4) + '\0' + "last") + Record(0x000A, "");
    return s;
}

std::string XlsxPackage()
{
    testing::XlsxWriter writer;
    auto& sheet = writer.AddSheet("Plain");
    sheet.SharedString(1, 1, "secret text");
    for (int row = 2; row <= kRows; ++row)
        sheet.Number(row, 2, row * 1.5);
    writer.AddSheet("Second").InlineString(3, 3, "last");
    return writer.Build(); // stored, not deflated: several 4096-byte segments
}

std::string XlsbPackage()
{
    testing::XlsbWriter writer;
    auto& sheet = writer.AddSheet("Plain");
    sheet.InlineString(1, 1, "secret text");
    for (int row = 2; row <= kRows; ++row)
        sheet.Number(row, 2, row * 1.5);
    writer.AddSheet("Second").InlineString(3, 3, "last");
    return writer.Build();
}

struct Scheme {
    const char* name;
    std::function<std::string(const std::string& password)> make;
};

const std::vector<Scheme>& Schemes()
{
    static const std::vector<Scheme> schemes = {
        { "xls XOR",
            [](const std::string& p) {
                return testing::MakeContainer(
                    "Workbook", testing::EncryptWorkbookStream(WorkbookStream(), XlsScheme::Xor, p))
                    .bytes;
            } },
        { "xls RC4",
            [](const std::string& p) {
                return testing::MakeContainer(
                    "Workbook", testing::EncryptWorkbookStream(WorkbookStream(), XlsScheme::Rc4, p))
                    .bytes;
            } },
        { "xls RC4 CryptoAPI",
            [](const std::string& p) {
                return testing::MakeContainer(
                    "Workbook", testing::EncryptWorkbookStream(WorkbookStream(), XlsScheme::Rc4CryptoApi, p))
                    .bytes;
            } },
        { "xls RC4 CryptoAPI, 40-bit key",
            [](const std::string& p) {
                return testing::MakeContainer(
                    "Workbook", testing::EncryptWorkbookStream(WorkbookStream(), XlsScheme::Rc4CryptoApi40, p))
                    .bytes;
            } },
        { "xlsx Standard",
            [](const std::string& p) { return testing::EncryptPackage(XlsxPackage(), PackageScheme::Standard, p); } },
        { "xlsx Agile",
            [](const std::string& p) { return testing::EncryptPackage(XlsxPackage(), PackageScheme::Agile, p); } },
        { "xlsb Agile",
            [](const std::string& p) { return testing::EncryptPackage(XlsbPackage(), PackageScheme::Agile, p); } },
    };
    return schemes;
}

// Opens with a source that gives answer (nothing: no password) and counts the questions.
std::unique_ptr<Workbook> Open(const std::string& bytes, std::optional<std::string> answer, int* asked = nullptr)
{
    Application application;
    application.SetPasswordSource([answer, asked]() {
        if (asked)
            ++*asked;
        return answer;
    });
    return application.OpenBytes(bytes, "locked.bin");
}

void ExpectContent(Workbook& workbook, const char* scheme)
{
    auto& sheets = workbook.Worksheets();
    ASSERT_EQ(sheets.size(), 2u) << scheme;
    EXPECT_EQ(sheets[0].Name(), "Plain") << scheme;
    EXPECT_EQ(sheets[0].CellText(1, 1), "secret text") << scheme;
    EXPECT_EQ(sheets[0].CellText(kRows, 2), std::to_string(kRows * 3 / 2)) << scheme;
    EXPECT_EQ(sheets[0].UsedRange().lastRow, kRows) << scheme;
    EXPECT_EQ(sheets[1].CellText(3, 3), "last") << scheme;
}

TEST(EncryptedWorkbooks, TheDefaultPasswordOpensWithoutAsking)
{
    for (const Scheme& scheme : Schemes()) {
        int asked = 0;
        auto workbook = Open(scheme.make("VelvetSweatshop"), std::nullopt, &asked);
        ExpectContent(*workbook, scheme.name);
        EXPECT_EQ(asked, 0) << scheme.name;
    }
}

TEST(EncryptedWorkbooks, ARealPasswordIsAskedForOnceAndOpens)
{
    for (const Scheme& scheme : Schemes()) {
        int asked = 0;
        auto workbook = Open(scheme.make("Ünïcode pässword"), "Ünïcode pässword", &asked);
        ExpectContent(*workbook, scheme.name);
        EXPECT_EQ(asked, 1) << scheme.name;
    }
}

TEST(EncryptedWorkbooks, NoPasswordOrAWrongOneSaySoApart)
{
    for (const Scheme& scheme : Schemes()) {
        const std::string bytes = scheme.make("right one");
        testing::ExpectFailure([&] { Open(bytes, std::nullopt); }, ErrorCode::PasswordProtected,
            { "locked.bin", "the workbook is password-protected" });
        testing::ExpectFailure([&] { Application().OpenBytes(bytes, "locked.bin"); }, ErrorCode::PasswordProtected,
            { "password-protected" });
        int asked = 0;
        try {
            Open(bytes, "wrong one", &asked);
            ADD_FAILURE() << scheme.name << " opened with a wrong password";
        } catch (const SpreadsheetError& error) {
            const std::string message = error.what();
            EXPECT_EQ(error.code(), ErrorCode::WrongPassword) << scheme.name;
            EXPECT_NE(message.find("the password given does not open it"), std::string::npos) << message;
            EXPECT_EQ(message.find("wrong one"), std::string::npos) << "the password shows in: " << message;
            EXPECT_EQ(message.find("password-protected"), std::string::npos) << message;
        }
        EXPECT_EQ(asked, 1) << scheme.name;
    }
}

// Excel 5 and 95 obfuscated their workbooks with XOR too; their FILEPASS record names no
// scheme.
TEST(EncryptedWorkbooks, Biff5XorOpens)
{
    const auto bof = [](uint16_t kind) { return Record(0x0809, U16(0x0500) + U16(kind) + std::string(4, '\0')); };
    std::string s = bof(0x0005) + Record(0x0085, U32(0) + std::string(2, '\0') + "\x05" + "Sheet");
    s += Record(0x000A, "");
    s.replace(bof(0x0005).size() + 4, 4, U32(static_cast<uint32_t>(s.size())));
    s += bof(0x0010) + Record(0x0204, U16(0) + U16(0) + U16(0) + U16(12) + "old workbook") + Record(0x000A, "");
    for (const std::string password : { "VelvetSweatshop", "short" }) {
        const std::string bytes
            = testing::MakeContainer("Book", testing::EncryptWorkbookStream(s, XlsScheme::Xor, password)).bytes;
        auto workbook = Open(bytes, password);
        EXPECT_EQ(workbook->Worksheets().at(0).CellText(1, 1), "old workbook") << password;
    }
}

// A package another program encrypted under Agile encryption (SHA-512, AES-256, with
// its HMAC), whose password is "123".
TEST(EncryptedWorkbooks, ARealAgilePackageOpensWithItsPassword)
{
    Application application;
    application.SetPasswordSource([] { return std::optional<std::string>("123"); });
    auto workbook = application.Open(testing::Fixture("workbooks/pass_protected.xlsx"));
    ASSERT_EQ(workbook->Worksheets().size(), 1u);
    EXPECT_EQ(workbook->Worksheets()[0].Name(), "Sheet1");
}

// A known pair from a real file: the workbook obfuscated with "1950" keeps key 0x499A and
// verifier 0xCC61 in its FILEPASS record.
TEST(EncryptedWorkbooks, XorKeyAndVerifierAreTheApplications)
{
    const std::vector<uint8_t> password = encryption::XorPassword("1950");
    const encryption::XorKey key = encryption::XorKeyOf(password);
    EXPECT_EQ(key.key, 0x499A);
    EXPECT_EQ(key.verifier, 0xCC61);
}

// Damaged encryption descriptions of a sound encrypted package: each fails with a clear
// code, never a crash or a hang.
TEST(EncryptedWorkbooks, DamagedEncryptionInfoFailsCleanly)
{
    const EncryptedStreams agile
        = testing::EncryptPackageStreams(XlsxPackage(), PackageScheme::Agile, "VelvetSweatshop");
    const EncryptedStreams standard
        = testing::EncryptPackageStreams(XlsxPackage(), PackageScheme::Standard, "VelvetSweatshop");
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    struct Case {
        const char* name;
        std::string info;
        std::string package;
        ErrorCode code;
    };
    std::string flipped = agile.encryptedPackage;
    flipped[flipped.size() / 2] ^= 0x01;
    std::string overstated = agile.encryptedPackage;
    overstated[5] = '\x01'; // a declared size of a terabyte
    const std::vector<Case> cases = {
        { "empty", "", agile.encryptedPackage, ErrorCode::Corrupt },
        { "version only", agile.encryptionInfo.substr(0, 4), agile.encryptedPackage, ErrorCode::Corrupt },
        { "XML cut short", agile.encryptionInfo.substr(0, agile.encryptionInfo.size() / 2), agile.encryptedPackage,
            ErrorCode::Corrupt },
        { "unknown version", "\x09\x00\x09\x00" + agile.encryptionInfo.substr(4), agile.encryptedPackage,
            ErrorCode::Unsupported },
        { "base64 damaged", replaced(agile.encryptionInfo, "encryptedKeyValue=\"", "encryptedKeyValue=\"*"),
            agile.encryptedPackage, ErrorCode::Corrupt },
        { "odd key size", replaced(agile.encryptionInfo, "keyBits=\"256\"", "keyBits=\"100\""), agile.encryptedPackage,
            ErrorCode::Corrupt },
        { "other cipher", replaced(agile.encryptionInfo, "cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"RC2\""),
            agile.encryptedPackage, ErrorCode::Unsupported },
        { "spin count past the limit", replaced(agile.encryptionInfo, "spinCount=\"1000\"", "spinCount=\"4000000000\""),
            agile.encryptedPackage, ErrorCode::Unsupported },
        { "no attribute", replaced(agile.encryptionInfo, "hashSize=", "hashSiz="), agile.encryptedPackage,
            ErrorCode::Corrupt },
        { "package damaged", agile.encryptionInfo, flipped, ErrorCode::Corrupt },
        { "package shorter than declared", agile.encryptionInfo, overstated, ErrorCode::Corrupt },
        { "package cut short", agile.encryptionInfo, agile.encryptedPackage.substr(0, 6), ErrorCode::Corrupt },
        { "standard header cut", standard.encryptionInfo.substr(0, 40), standard.encryptedPackage, ErrorCode::Corrupt },
        { "standard verifier cut", standard.encryptionInfo.substr(0, standard.encryptionInfo.size() - 20),
            standard.encryptedPackage, ErrorCode::Corrupt },
        { "standard package cut", standard.encryptionInfo, standard.encryptedPackage.substr(0, 100),
            ErrorCode::Corrupt },
    };
    for (const Case& c : cases) {
        const std::string bytes
            = testing::CompoundFileOf({ { "EncryptionInfo", c.info }, { "EncryptedPackage", c.package } });
        EXPECT_EQ(testing::ErrorCodeOf([&] { Open(bytes, std::nullopt); }), c.code) << c.name;
    }
}

TEST(EncryptedWorkbooks, DamagedFilePassFailsCleanly)
{
    const std::string stream = testing::EncryptWorkbookStream(WorkbookStream(), XlsScheme::Rc4CryptoApi, "x");
    const size_t filePass = 4 + 16; // after the BOF
    const size_t length
        = static_cast<uint8_t>(stream[filePass + 2]) | (static_cast<uint8_t>(stream[filePass + 3]) << 8);
    for (const size_t kept : { size_t { 0 }, size_t { 2 }, size_t { 6 }, size_t { 20 }, length - 1 }) {
        std::string cut = stream.substr(0, filePass) + Record(0x002F, stream.substr(filePass + 4, kept))
            + stream.substr(filePass + 4 + length);
        EXPECT_EQ(
            testing::ErrorCodeOf([&] { Open(testing::MakeContainer("Workbook", cut).bytes, "x"); }), ErrorCode::Corrupt)
            << kept;
    }
}

} // namespace
} // namespace vellumcast::spreadsheet
