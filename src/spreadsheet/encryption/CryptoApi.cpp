#include "spreadsheet/encryption/CryptoApi.h"

namespace vellumcast::spreadsheet::encryption {

CryptoApiHeader ReadCryptoApiHeader(container::ByteCursor& cursor)
{
    CryptoApiHeader header;
    header.flags = cursor.U32();
    const uint32_t headerSize = cursor.U32();
    if (headerSize < 32)
        Corrupt("the workbook's encryption header is too short");
    container::ByteCursor fields(cursor.Take(headerSize), "the workbook's encryption header");
    fields.Skip(8); // the flags again, the size of extra data
    header.cipher = fields.U32();
    header.hash = fields.U32();
    header.keyBits = fields.U32();
    // The provider type, two reserved words and the provider's name say nothing needed.

    const uint32_t saltSize = cursor.U32();
    if (saltSize != 16)
        Corrupt("the workbook's encryption verifier has a salt of " + std::to_string(saltSize) + " bytes, not 16");
    const auto salt = cursor.Take(saltSize);
    header.salt.assign(salt.begin(), salt.end());
    const auto verifier = cursor.Take(16);
    header.encryptedVerifier.assign(verifier.begin(), verifier.end());
    header.verifierHashSize = cursor.U32();
    const auto hash = cursor.Take(cursor.Remaining());
    header.encryptedVerifierHash.assign(hash.begin(), hash.end());
    if (header.verifierHashSize != 20 || header.encryptedVerifierHash.size() < 20)
        Corrupt("the workbook's encryption verifier is not a SHA-1 hash");
    return header;
}

} // namespace vellumcast::spreadsheet::encryption
