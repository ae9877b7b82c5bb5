#pragma once
// Legacy workbooks (BIFF5 and BIFF8) saved with a password: the FILEPASS record after the
// first BOF says how the records after it are encrypted, in place, record by record. Three
// schemes: XOR obfuscation, RC4 with an MD5 key, and RC4 CryptoAPI with a SHA-1 key; both
// RC4 schemes take a new key every 1024 bytes of the stream. Record headers stay plain, as
// do a few records (BOF, FILEPASS, and those that lock or describe the file for sharing)
// and a sheet entry's stream position, which readers need before any key is known.

#include "spreadsheet/encryption/Passwords.h"

#include <cstdint>
#include <span>
#include <vector>

namespace vellumcast::spreadsheet::encryption {

// The workbook stream with every record after the FILEPASS record decrypted. filePass is
// that record's data and next the offset of the record after it; biff8 tells the BIFF8
// record (which names its scheme) from the BIFF5 one (XOR obfuscation only). Throws
// SpreadsheetError as Unlock does, Unsupported for another scheme, Corrupt when the record
// is cut short.
std::vector<uint8_t> DecryptWorkbookStream(std::span<const uint8_t> stream, std::span<const uint8_t> filePass,
    size_t next, bool biff8, const PasswordSource& password);

// The XOR obfuscation's key and verifier of a password (at most 15 single-byte
// characters), as the FILEPASS record keeps them.
struct XorKey {
    uint16_t key;
    uint16_t verifier;
};
XorKey XorKeyOf(std::span<const uint8_t> password);
// The single-byte password of a UTF-8 one: each character's low byte, or its high byte
// when the low one is zero, at most 15 of them.
std::vector<uint8_t> XorPassword(std::string_view utf8);
// The 16 bytes the data is obfuscated with.
std::vector<uint8_t> XorArrayOf(std::span<const uint8_t> password);

} // namespace vellumcast::spreadsheet::encryption
