#pragma once
// A test-only writer of workbooks saved with a password, as the application saves them:
// legacy workbook streams under XOR obfuscation, RC4 or RC4 CryptoAPI, and Office Open XML
// packages under Standard or Agile encryption in a compound file beside their
// EncryptionInfo. Built on the engine's libgcrypt wrappers, each scheme written from its
// own description rather than by running the reader backwards.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vellumcast::testing {

// Rc4CryptoApi40: with a 40-bit key, as the application's export-grade provider wrote it.
enum class XlsScheme { Xor, Rc4, Rc4CryptoApi, Rc4CryptoApi40 };

// The workbook stream (BIFF8, or BIFF5 under XOR obfuscation, starting with its BOF)
// encrypted: a FILEPASS record after the first BOF, sheet positions moved past it, every
// record after it encrypted but those that stay plain.
std::string EncryptWorkbookStream(const std::string& stream, XlsScheme scheme, const std::string& password);

enum class PackageScheme { Standard, Agile };

struct EncryptedStreams {
    std::string encryptionInfo;
    std::string encryptedPackage;
};

struct PackageOptions {
    uint32_t spinCount = 1000; // Agile; the application uses 100,000, which tests need not wait for
    bool integrity = true; // Agile: write the HMAC of the package
};

// The two streams of a package encrypted with password.
EncryptedStreams EncryptPackageStreams(
    const std::string& package, PackageScheme scheme, const std::string& password, PackageOptions options = {});

// A version 3 compound file holding these streams at its top level; streams under 4096
// bytes lie in the mini stream, as the format wants.
std::string CompoundFileOf(const std::vector<std::pair<std::string, std::string>>& streams);

// The compound file of an encrypted package: EncryptPackageStreams in CompoundFileOf.
std::string EncryptPackage(
    const std::string& package, PackageScheme scheme, const std::string& password, PackageOptions options = {});

} // namespace vellumcast::testing
