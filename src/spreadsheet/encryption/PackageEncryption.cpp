#include "spreadsheet/encryption/PackageEncryption.h"

#include "spreadsheet/container/ByteCursor.h"
#include "spreadsheet/container/Cfb.h"
#include "spreadsheet/encryption/Ciphers.h"
#include "spreadsheet/xml/XmlScanner.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>

namespace vellumcast::spreadsheet::encryption {

namespace {

using container::ByteCursor;

std::atomic<uint32_t> g_spinCountLimit { 10'000'000 };

constexpr size_t kSegmentSize = 4096;

// The block keys that tell apart the keys and IVs made from one password or salt.
constexpr uint8_t kVerifierInputBlock[] = { 0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79 };
constexpr uint8_t kVerifierValueBlock[] = { 0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E };
constexpr uint8_t kKeyValueBlock[] = { 0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6 };
constexpr uint8_t kHmacKeyBlock[] = { 0x5F, 0xB2, 0xAD, 0x01, 0x0C, 0xB9, 0xE1, 0xF6 };
constexpr uint8_t kHmacValueBlock[] = { 0xA0, 0x67, 0x7F, 0x02, 0xB2, 0x2C, 0x84, 0x33 };

// Bytes cut or padded with 0x36 to a length, as keys and IVs are fitted to their cipher.
Bytes Fitted(Bytes bytes, size_t size)
{
    bytes.resize(size, 0x36);
    return bytes;
}

// H(salt + password), then H(round + previous) for each round.
Bytes SpunHash(HashAlgorithm hash, std::span<const uint8_t> salt, std::string_view password, uint32_t rounds)
{
    if (rounds > g_spinCountLimit.load(std::memory_order_relaxed))
        throw SpreadsheetError(ErrorCode::Unsupported,
            "the workbook's encryption asks for " + std::to_string(rounds)
                + " rounds of hashing, more than the format allows");
    const Bytes utf16 = Utf16Password(password);
    Hasher hasher(hash);
    Bytes value = hasher.Add(salt).Add(utf16).Finish();
    for (uint32_t round = 0; round < rounds; ++round)
        value = hasher.AddU32(round).Add(value).Finish();
    return value;
}

// The package's declared size, then its encrypted bytes.
struct EncryptedPackage {
    uint64_t size;
    std::span<const uint8_t> data;
};

EncryptedPackage ReadPackage(std::span<const uint8_t> stream)
{
    ByteCursor cursor(stream, "the encrypted package");
    const uint64_t size = cursor.U64();
    const auto data = stream.subspan(8);
    if (size > data.size())
        Corrupt("the encrypted package is shorter than the size it declares");
    return { size, data };
}

// ---- Standard encryption

std::string DecryptStandard(ByteCursor& info, std::span<const uint8_t> packageStream, const PasswordSource& password)
{
    const CryptoApiHeader header = ReadCryptoApiHeader(info);
    if ((header.flags & 0x10) != 0)
        throw SpreadsheetError(ErrorCode::Unsupported, "the workbook is encrypted by an external provider");
    const bool aes = header.cipher == algorithm::kAes128 || header.cipher == algorithm::kAes192
        || header.cipher == algorithm::kAes256 || (header.cipher == 0 && (header.flags & 0x20) != 0);
    if (!aes)
        throw SpreadsheetError(
            ErrorCode::Unsupported, "the workbook's package is encrypted with a cipher other than AES");
    if (header.hash != 0 && header.hash != algorithm::kSha1)
        throw SpreadsheetError(ErrorCode::Unsupported, "the workbook's encryption uses a hash other than SHA-1");
    if (header.encryptedVerifierHash.size() < 32)
        Corrupt("the workbook's encryption verifier is too short");
    const size_t keyBytes = header.keyBits / 8;
    if (header.keyBits % 8 != 0 || (keyBytes != 16 && keyBytes != 24 && keyBytes != 32))
        throw SpreadsheetError(ErrorCode::Unsupported,
            "the workbook's encryption uses an AES key of " + std::to_string(header.keyBits) + " bits");

    const Bytes key = Unlock(password, [&](const std::string& candidate) -> std::optional<Bytes> {
        // The key is the hash of the spun hash and block 0, stretched through the HMAC pads.
        const Bytes spun = SpunHash(HashAlgorithm::Sha1, header.salt, candidate, 50'000);
        Hasher hasher(HashAlgorithm::Sha1);
        const Bytes final = hasher.Add(spun).AddU32(0).Finish();
        uint8_t inner[64], outer[64];
        std::memset(inner, 0x36, sizeof inner);
        std::memset(outer, 0x5C, sizeof outer);
        for (size_t i = 0; i < final.size(); ++i) {
            inner[i] ^= final[i];
            outer[i] ^= final[i];
        }
        Bytes derived = hasher.Add(inner).Finish();
        const Bytes second = hasher.Add(outer).Finish();
        derived.insert(derived.end(), second.begin(), second.end());
        derived.resize(keyBytes);

        Aes cipher(derived, Chaining::Ecb);
        Bytes verifier = header.encryptedVerifier;
        cipher.Decrypt(verifier);
        Bytes verifierHash(header.encryptedVerifierHash.begin(), header.encryptedVerifierHash.begin() + 32);
        cipher.Decrypt(verifierHash);
        const Bytes expected = Hash(HashAlgorithm::Sha1, { verifier });
        if (!std::equal(expected.begin(), expected.end(), verifierHash.begin()))
            return std::nullopt;
        return derived;
    });

    const EncryptedPackage package = ReadPackage(packageStream);
    const size_t whole = package.data.size() / Aes::kBlockSize * Aes::kBlockSize;
    if (package.size > whole)
        Corrupt("the encrypted package is shorter than the size it declares");
    std::string plain(reinterpret_cast<const char*>(package.data.data()), whole);
    Aes(key, Chaining::Ecb).Decrypt({ reinterpret_cast<uint8_t*>(plain.data()), plain.size() });
    plain.resize(static_cast<size_t>(package.size));
    return plain;
}

// ---- Agile encryption

// How one key or the data is encrypted: the attributes keyData and encryptedKey share.
struct CipherParameters {
    bool present = false;
    uint32_t blockSize = 0;
    uint32_t keyBits = 0;
    uint32_t hashSize = 0;
    uint32_t saltSize = 0;
    HashAlgorithm hash = HashAlgorithm::Sha1;
    Bytes salt;
};

struct AgileDescriptor {
    CipherParameters keyData;
    CipherParameters passwordKey;
    uint32_t spinCount = 0;
    Bytes encryptedVerifierHashInput;
    Bytes encryptedVerifierHashValue;
    Bytes encryptedKeyValue;
    bool integrity = false;
    Bytes encryptedHmacKey;
    Bytes encryptedHmacValue;
};

constexpr std::string_view kEncryptionNamespace = "http://schemas.microsoft.com/office/2006/encryption";
constexpr std::string_view kPasswordNamespace = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";

class DescriptorReader final : public xml::XmlHandler {
public:
    explicit DescriptorReader(AgileDescriptor& descriptor)
        : m_descriptor(descriptor)
    {
    }

    void StartElement(
        std::string_view namespaceUri, std::string_view localName, const xml::XmlAttributes& attributes) override
    {
        if (namespaceUri == kEncryptionNamespace && localName == "keyData" && !m_descriptor.keyData.present) {
            ReadParameters(attributes, m_descriptor.keyData);
        } else if (namespaceUri == kEncryptionNamespace && localName == "dataIntegrity") {
            m_descriptor.integrity = true;
            m_descriptor.encryptedHmacKey = Base64(attributes, "encryptedHmacKey");
            m_descriptor.encryptedHmacValue = Base64(attributes, "encryptedHmacValue");
        } else if (namespaceUri == kPasswordNamespace && localName == "encryptedKey"
            && !m_descriptor.passwordKey.present) {
            ReadParameters(attributes, m_descriptor.passwordKey);
            m_descriptor.spinCount = Number(attributes, "spinCount");
            m_descriptor.encryptedVerifierHashInput = Base64(attributes, "encryptedVerifierHashInput");
            m_descriptor.encryptedVerifierHashValue = Base64(attributes, "encryptedVerifierHashValue");
            m_descriptor.encryptedKeyValue = Base64(attributes, "encryptedKeyValue");
        }
    }
    void EndElement(std::string_view, std::string_view) override { }

private:
    static std::string_view Required(const xml::XmlAttributes& attributes, std::string_view name)
    {
        bool found = false;
        const std::string_view value = attributes.Get(name, &found);
        if (!found)
            Corrupt("the encryption descriptor lacks the attribute " + std::string(name));
        return value;
    }

    static uint32_t Number(const xml::XmlAttributes& attributes, std::string_view name)
    {
        const std::string_view text = Required(attributes, name);
        uint32_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size())
            Corrupt("the encryption descriptor's " + std::string(name) + " is not a number");
        return value;
    }

    static Bytes Base64(const xml::XmlAttributes& attributes, std::string_view name)
    {
        Bytes bytes;
        if (!DecodeBase64(Required(attributes, name), bytes))
            Corrupt("the encryption descriptor's " + std::string(name) + " is not base64");
        return bytes;
    }

    static void ReadParameters(const xml::XmlAttributes& attributes, CipherParameters& parameters)
    {
        parameters.present = true;
        parameters.saltSize = Number(attributes, "saltSize");
        parameters.blockSize = Number(attributes, "blockSize");
        parameters.keyBits = Number(attributes, "keyBits");
        parameters.hashSize = Number(attributes, "hashSize");
        parameters.salt = Base64(attributes, "saltValue");
        const std::string_view cipher = Required(attributes, "cipherAlgorithm");
        const std::string_view chaining = Required(attributes, "cipherChaining");
        const std::string_view hash = Required(attributes, "hashAlgorithm");
        if (cipher != "AES" || chaining != "ChainingModeCBC")
            throw SpreadsheetError(ErrorCode::Unsupported,
                "the workbook is encrypted with " + std::string(cipher) + " in " + std::string(chaining)
                    + ", of which only AES in ChainingModeCBC is read");
        const std::pair<std::string_view, HashAlgorithm> hashes[] = { { "SHA1", HashAlgorithm::Sha1 },
            { "SHA-1", HashAlgorithm::Sha1 }, { "SHA256", HashAlgorithm::Sha256 }, { "SHA384", HashAlgorithm::Sha384 },
            { "SHA512", HashAlgorithm::Sha512 }, { "MD5", HashAlgorithm::Md5 } };
        const auto found
            = std::find_if(std::begin(hashes), std::end(hashes), [&](const auto& h) { return h.first == hash; });
        if (found == std::end(hashes))
            throw SpreadsheetError(ErrorCode::Unsupported,
                "the workbook's encryption uses the hash " + std::string(hash) + ", which is not read");
        parameters.hash = found->second;
        const uint32_t keyBytes = parameters.keyBits / 8;
        if (parameters.blockSize != Aes::kBlockSize || parameters.keyBits % 8 != 0
            || (keyBytes != 16 && keyBytes != 24 && keyBytes != 32))
            Corrupt("the encryption descriptor gives AES a block or key size it does not have");
        if (parameters.hashSize != HashSize(parameters.hash) || parameters.salt.empty())
            Corrupt("the encryption descriptor's hash size or salt does not fit its hash");
    }

    AgileDescriptor& m_descriptor;
};

// Decrypts a short value (a key, a hash) in CBC mode and keeps its first size bytes.
Bytes DecryptValue(std::span<const uint8_t> key, std::span<const uint8_t> iv, const Bytes& encrypted, size_t size)
{
    if (encrypted.size() < size || encrypted.size() % Aes::kBlockSize != 0)
        Corrupt("an encrypted value of the encryption descriptor has the wrong length");
    Bytes plain = encrypted;
    Aes(key, Chaining::Cbc).Decrypt(plain, iv);
    plain.resize(size);
    return plain;
}

std::string DecryptAgile(
    std::span<const uint8_t> xmlBytes, std::span<const uint8_t> packageStream, const PasswordSource& password)
{
    AgileDescriptor descriptor;
    DescriptorReader reader(descriptor);
    xml::XmlScanner scanner(reader);
    scanner.Feed({ reinterpret_cast<const char*>(xmlBytes.data()), xmlBytes.size() }, true);
    if (!descriptor.keyData.present)
        Corrupt("the encryption descriptor has no keyData");
    if (!descriptor.passwordKey.present)
        throw SpreadsheetError(ErrorCode::Unsupported, "the workbook is encrypted for a certificate, not a password");

    const CipherParameters& keyParameters = descriptor.passwordKey;
    const CipherParameters& data = descriptor.keyData;
    const Bytes passwordIv = Fitted(keyParameters.salt, keyParameters.blockSize);
    const Bytes secret = Unlock(password, [&](const std::string& candidate) -> std::optional<Bytes> {
        const Bytes spun = SpunHash(keyParameters.hash, keyParameters.salt, candidate, descriptor.spinCount);
        const auto keyFor = [&](std::span<const uint8_t> block) {
            return Fitted(Hash(keyParameters.hash, { spun, block }), keyParameters.keyBits / 8);
        };
        const Bytes input = DecryptValue(
            keyFor(kVerifierInputBlock), passwordIv, descriptor.encryptedVerifierHashInput, keyParameters.saltSize);
        const Bytes value = DecryptValue(
            keyFor(kVerifierValueBlock), passwordIv, descriptor.encryptedVerifierHashValue, keyParameters.hashSize);
        if (Hash(keyParameters.hash, { input }) != value)
            return std::nullopt;
        return DecryptValue(keyFor(kKeyValueBlock), passwordIv, descriptor.encryptedKeyValue, data.keyBits / 8);
    });

    // Data integrity: an HMAC of the whole encrypted stream, its key and value encrypted
    // with the package's key.
    if (descriptor.integrity) {
        const auto ivFor = [&](std::span<const uint8_t> block) {
            return Fitted(Hash(data.hash, { data.salt, block }), data.blockSize);
        };
        const Bytes hmacKey = DecryptValue(secret, ivFor(kHmacKeyBlock), descriptor.encryptedHmacKey, data.hashSize);
        const Bytes expected
            = DecryptValue(secret, ivFor(kHmacValueBlock), descriptor.encryptedHmacValue, data.hashSize);
        if (Hasher(data.hash, hmacKey).Add(packageStream).Finish() != expected)
            Corrupt("the encrypted package fails its integrity check: it has been damaged or changed");
    }

    const EncryptedPackage package = ReadPackage(packageStream);
    std::string plain;
    plain.reserve(static_cast<size_t>(package.size));
    Aes aes(secret, Chaining::Cbc);
    Hasher ivHasher(data.hash);
    Bytes segment;
    for (uint32_t index = 0; plain.size() < package.size; ++index) {
        const size_t at = size_t { index } * kSegmentSize;
        if (at >= package.data.size())
            Corrupt("the encrypted package is shorter than the size it declares");
        const size_t length = std::min(kSegmentSize, package.data.size() - at) / Aes::kBlockSize * Aes::kBlockSize;
        if (length == 0)
            Corrupt("the encrypted package is shorter than the size it declares");
        segment.assign(package.data.begin() + static_cast<std::ptrdiff_t>(at),
            package.data.begin() + static_cast<std::ptrdiff_t>(at + length));
        aes.Decrypt(segment, Fitted(ivHasher.Add(data.salt).AddU32(index).Finish(), data.blockSize));
        plain.append(reinterpret_cast<const char*>(segment.data()),
            static_cast<size_t>(std::min<uint64_t>(length, package.size - plain.size())));
    }
    return plain;
}

} // namespace

void LimitSpinCount(uint32_t rounds)
{
    g_spinCountLimit.store(rounds, std::memory_order_relaxed);
}

bool HoldsEncryptedPackage(const container::CompoundFile& file)
{
    return file.FindStream("EncryptionInfo") && file.FindStream("EncryptedPackage");
}

std::string DecryptPackage(const container::CompoundFile& file, const PasswordSource& password)
{
    const container::CfbStream info = file.Read(*file.FindStream("EncryptionInfo"));
    const container::CfbStream package = file.Read(*file.FindStream("EncryptedPackage"));
    return DecryptPackage(info.Bytes(), package.Bytes(), password);
}

std::string DecryptPackage(
    std::span<const uint8_t> encryptionInfo, std::span<const uint8_t> encryptedPackage, const PasswordSource& password)
{
    ByteCursor info(encryptionInfo, "the encryption information");
    const uint16_t major = info.U16();
    const uint16_t minor = info.U16();
    if (major == 4 && minor == 4) {
        info.Skip(4); // reserved, 0x40
        return DecryptAgile(encryptionInfo.subspan(info.Position()), encryptedPackage, password);
    }
    if ((major == 2 || major == 3 || major == 4) && minor == 2)
        return DecryptStandard(info, encryptedPackage, password);
    if ((major == 3 || major == 4) && minor == 3)
        throw SpreadsheetError(
            ErrorCode::Unsupported, "the workbook is encrypted by an extensible provider, which is not read");
    throw SpreadsheetError(ErrorCode::Unsupported,
        "the workbook's encryption is of a version not read (" + std::to_string(major) + "." + std::to_string(minor)
            + ")");
}

} // namespace vellumcast::spreadsheet::encryption
