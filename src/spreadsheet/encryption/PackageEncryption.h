#pragma once
// Office Open XML workbooks (xlsx, xlsm, xlsb) saved with a password: a compound file
// whose EncryptionInfo stream says how the key is made and whose EncryptedPackage stream
// holds the ZIP package, encrypted. Two schemes are read: Standard encryption (AES in ECB
// mode, the key from SHA-1 spun 50,000 times) and Agile encryption (an XML descriptor; AES
// in CBC mode per 4096-byte segment, the key from a hash spun as often as it says, and an
// HMAC over the package checked).

#include "spreadsheet/encryption/CryptoApi.h"
#include "spreadsheet/encryption/Passwords.h"

#include <cstdint>
#include <span>
#include <string>

namespace vellumcast::spreadsheet::container {
class CompoundFile;
}

namespace vellumcast::spreadsheet::encryption {

// Whether the compound file holds an encrypted package.
bool HoldsEncryptedPackage(const container::CompoundFile& file);

// The ZIP package decrypted from the compound file's streams. Throws SpreadsheetError:
// PasswordProtected or WrongPassword (Unlock), Unsupported for a scheme or cipher not read,
// Corrupt when the streams are damaged or the package fails its integrity check.
std::string DecryptPackage(const container::CompoundFile& file, const PasswordSource& password);
std::string DecryptPackage(
    std::span<const uint8_t> encryptionInfo, std::span<const uint8_t> encryptedPackage, const PasswordSource& password);

// The most rounds of hashing a key derivation may ask for: the format's own limit, ten
// million. Fuzzers lower it so that a fuzzed count costs no time.
void LimitSpinCount(uint32_t rounds);

} // namespace vellumcast::spreadsheet::encryption
