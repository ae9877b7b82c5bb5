// Decrypts arbitrary bytes as an encrypted workbook's key material and data: the first
// byte picks the form. 0: an Office Open XML package, the next four bytes the length of
// the EncryptionInfo stream, then that stream and the EncryptedPackage stream. 1 or 2: a
// legacy workbook stream (BIFF8, BIFF5), the next two bytes the length of the FILEPASS
// record's data, then that data and the records after it. The default password is tried,
// then a given one. Whatever the bytes, only SpreadsheetError may come out.
// Run with VELLUMCAST_FUZZ_SEED_DIR set, it writes a seed of each scheme there and exits.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/encryption/BiffEncryption.h"
#include "spreadsheet/encryption/PackageEncryption.h"
#include "support/EncryptedWorkbooks.h"
#include "support/XlsxWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <span>
#include <string>

namespace {

using namespace vellumcast;

std::string Le(uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

// A seed of each scheme, each with a password of its own (the fuzzer gives "fuzz").
void WriteSeeds(const std::string& folder)
{
    testing::XlsxWriter writer;
    writer.AddSheet("Sheet1").InlineString(1, 1, "seed");
    const std::string package = writer.Build();
    int n = 0;
    const auto put = [&](const std::string& bytes) {
        std::ofstream(folder + "/seed" + std::to_string(n++), std::ios::binary) << bytes;
    };
    for (const auto scheme : { testing::PackageScheme::Standard, testing::PackageScheme::Agile }) {
        for (const char* password : { "VelvetSweatshop", "fuzz" }) {
            const auto streams = testing::EncryptPackageStreams(package, scheme, password, { 10, true });
            put(std::string(1, '\0') + Le(streams.encryptionInfo.size(), 4) + streams.encryptionInfo
                + streams.encryptedPackage);
        }
    }
    // A small BIFF8 stream: BOF, a sheet entry, EOF.
    const std::string bof = Le(0x0809, 2) + Le(16, 2) + Le(0x0600, 2) + Le(5, 2) + std::string(12, '\0');
    const std::string sheet = Le(0x0085, 2) + Le(12, 2) + Le(0, 4) + std::string(2, '\0') + "\x04" + '\0' + "Seed";
    const std::string stream = bof + sheet + Le(0x000A, 2) + Le(0, 2);
    for (const auto scheme : { testing::XlsScheme::Xor, testing::XlsScheme::Rc4, testing::XlsScheme::Rc4CryptoApi }) {
        const std::string encrypted = testing::EncryptWorkbookStream(stream, scheme, "fuzz");
        const size_t length
            = static_cast<uint8_t>(encrypted[bof.size() + 2]) | (static_cast<uint8_t>(encrypted[bof.size() + 3]) << 8);
        put(std::string(1, '\1') + Le(length, 2) + encrypted.substr(bof.size() + 4, length)
            + encrypted.substr(bof.size() + 4 + length));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (const char* seeds = std::getenv("VELLUMCAST_FUZZ_SEED_DIR")) {
        WriteSeeds(seeds);
        std::exit(0);
    }
    // Spinning costs the same for any bytes: a few rounds reach every path.
    spreadsheet::encryption::LimitSpinCount(1000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace vellumcast::spreadsheet;
    const std::span<const uint8_t> bytes(data, size);
    const encryption::PasswordSource password = [] { return std::optional<std::string>("fuzz"); };
    try {
        if (bytes.size() < 3)
            return 0;
        if (bytes[0] == 0) {
            if (bytes.size() < 5)
                return 0;
            const size_t length = std::min<size_t>(
                bytes[1] | (bytes[2] << 8) | (bytes[3] << 16) | (size_t { bytes[4] } << 24), bytes.size() - 5);
            (void)encryption::DecryptPackage(bytes.subspan(5, length), bytes.subspan(5 + length), password);
        } else {
            const size_t length = std::min<size_t>(bytes[1] | (bytes[2] << 8), bytes.size() - 3);
            const auto records = bytes.subspan(3 + length);
            (void)encryption::DecryptWorkbookStream(records, bytes.subspan(3, length), 0, bytes[0] == 1, password);
        }
    } catch (const SpreadsheetError&) {
    }
    return 0;
}
