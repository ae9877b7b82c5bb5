#pragma once
// The encryption header and verifier that the CryptoAPI schemes share: RC4 CryptoAPI in
// legacy workbooks (FILEPASS) and Standard encryption of Office Open XML packages
// (EncryptionInfo). Read from the header's flags on, after the version.

#include "spreadsheet/container/ByteCursor.h"
#include "spreadsheet/encryption/Ciphers.h"

#include <cstdint>

namespace vellumcast::spreadsheet::encryption {

namespace algorithm {
inline constexpr uint32_t kRc4 = 0x6801;
inline constexpr uint32_t kAes128 = 0x660E;
inline constexpr uint32_t kAes192 = 0x660F;
inline constexpr uint32_t kAes256 = 0x6610;
inline constexpr uint32_t kSha1 = 0x8004;
} // namespace algorithm

struct CryptoApiHeader {
    uint32_t flags = 0; // fCryptoAPI 0x04, fExternal 0x10, fAES 0x20
    uint32_t cipher = 0; // AlgID
    uint32_t hash = 0; // AlgIDHash
    uint32_t keyBits = 0;
    Bytes salt;
    Bytes encryptedVerifier; // 16 bytes
    uint32_t verifierHashSize = 0;
    Bytes encryptedVerifierHash; // the rest: 20 bytes for RC4, 32 for AES
};

// Reads the flags, the header (whose size comes first) and the verifier. Throws
// SpreadsheetError(Corrupt) when they are cut short or their sizes do not hold.
CryptoApiHeader ReadCryptoApiHeader(container::ByteCursor& cursor);

} // namespace vellumcast::spreadsheet::encryption
