#include "support/EncryptedWorkbooks.h"

#include "spreadsheet/encryption/BiffEncryption.h"
#include "spreadsheet/encryption/Ciphers.h"
#include "spreadsheet/encryption/Passwords.h"

#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>

namespace vellumcast::testing {

namespace {

using spreadsheet::encryption::Aes;
using spreadsheet::encryption::Bytes;
using spreadsheet::encryption::Chaining;
using spreadsheet::encryption::Hash;
using spreadsheet::encryption::HashAlgorithm;
using spreadsheet::encryption::Hasher;
using spreadsheet::encryption::Rc4;
using spreadsheet::encryption::Utf16Password;

constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFree = 0xFFFFFFFF;

std::string U16(uint16_t v)
{
    return { static_cast<char>(v & 0xFF), static_cast<char>(v >> 8) };
}

std::string U32(uint32_t v)
{
    return U16(static_cast<uint16_t>(v)) + U16(static_cast<uint16_t>(v >> 16));
}

std::string U64(uint64_t v)
{
    return U32(static_cast<uint32_t>(v)) + U32(static_cast<uint32_t>(v >> 32));
}

void Put32(std::string& s, size_t at, uint32_t v)
{
    s.replace(at, 4, U32(v));
}

uint16_t Load16(const std::string& s, size_t at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}

std::string Text(const Bytes& bytes)
{
    return { reinterpret_cast<const char*>(bytes.data()), bytes.size() };
}

Bytes Of(const std::string& text)
{
    return { text.begin(), text.end() };
}

// Bytes that differ from test to test only by seed: salts, verifiers and keys need not be
// random to be read back.
Bytes Pattern(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7 + 1);
    return bytes;
}

std::string Utf16Z(const std::string& ascii)
{
    std::string out;
    for (const char c : ascii + '\0')
        out += U16(static_cast<uint8_t>(c));
    return out;
}

std::string Base64(const Bytes& bytes)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t chunk = (uint32_t { bytes[i] } << 16) | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0)
            | (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        out += alphabet[(chunk >> 18) & 63];
        out += alphabet[(chunk >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(chunk >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[chunk & 63] : '=';
    }
    return out;
}

Bytes PaddedTo(Bytes bytes, size_t multiple)
{
    bytes.resize((bytes.size() + multiple - 1) / multiple * multiple, 0);
    return bytes;
}

Bytes AesEncrypt(const Bytes& key, Chaining chaining, Bytes data, const Bytes& iv = {})
{
    Aes(key, chaining).Encrypt(data, iv);
    return data;
}

// ---- Legacy workbook streams

constexpr size_t kRc4Block = 1024;

bool StaysPlain(uint16_t type)
{
    return type == 0x0809 || type == 0x002F || type == 0x0194 || type == 0x0195 || type == 0x00E1 || type == 0x0196
        || type == 0x0138;
}

// The key stream of RC4 rekeyed every 1024 bytes of the stream, applied at any position.
class BlockRc4 {
public:
    explicit BlockRc4(std::function<Bytes(uint32_t)> key)
        : m_key(std::move(key))
    {
    }
    void Apply(size_t position, uint8_t* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i, ++position) {
            const size_t block = position / kRc4Block;
            if (!m_rc4 || block != m_block) {
                m_rc4 = std::make_unique<Rc4>(m_key(static_cast<uint32_t>(block)));
                m_block = block;
                m_at = block * kRc4Block;
            }
            m_rc4->Skip(position - m_at); // over plain bytes, whose key stream goes unused
            m_rc4->Apply({ data + i, 1 });
            m_at = position + 1;
        }
    }

private:
    std::function<Bytes(uint32_t)> m_key;
    std::unique_ptr<Rc4> m_rc4;
    size_t m_block = 0;
    size_t m_at = 0;
};

} // namespace

std::string EncryptWorkbookStream(const std::string& stream, XlsScheme scheme, const std::string& password)
{
    if (stream.size() < 4 || Load16(stream, 0) != 0x0809)
        throw std::invalid_argument("a workbook stream starts with its BOF");
    const bool biff5 = stream.size() >= 6 && Load16(stream, 4) == 0x0500;
    if (biff5 && scheme != XlsScheme::Xor)
        throw std::invalid_argument("BIFF5 workbooks are only ever obfuscated with XOR");
    std::string filePass;
    std::function<void(size_t position, size_t length, char* data, size_t size)> encrypt;
    const Bytes utf16 = Utf16Password(password);
    switch (scheme) {
    case XlsScheme::Xor: {
        const auto bytes = spreadsheet::encryption::XorPassword(password);
        const auto key = spreadsheet::encryption::XorKeyOf(bytes);
        const auto array = spreadsheet::encryption::XorArrayOf(bytes);
        filePass = (biff5 ? "" : U16(0)) + U16(key.key) + U16(key.verifier);
        // Rotate left by 5, then XOR with the array from the place of the position after the record.
        encrypt = [array](size_t position, size_t length, char* data, size_t size) {
            for (size_t i = 0; i < size; ++i) {
                const auto byte = static_cast<uint8_t>(data[i]);
                const auto rotated = static_cast<uint8_t>((byte << 5) | (byte >> 3));
                data[i] = static_cast<char>(rotated ^ array[(position + length + i) % 16]);
            }
        };
        break;
    }
    case XlsScheme::Rc4: {
        const Bytes salt = Pattern(16, 1);
        const Bytes first = Hash(HashAlgorithm::Md5, { utf16 });
        Hasher hasher(HashAlgorithm::Md5);
        for (int i = 0; i < 16; ++i)
            hasher.Add(std::span(first).first(5)).Add(salt);
        Bytes base = hasher.Finish();
        base.resize(5);
        auto key = [base](uint32_t block) { return Hasher(HashAlgorithm::Md5).Add(base).AddU32(block).Finish(); };
        Bytes verifier = Pattern(16, 2);
        Bytes verifierHash = Hash(HashAlgorithm::Md5, { verifier });
        Rc4 rc4(key(0));
        rc4.Apply(verifier);
        rc4.Apply(verifierHash);
        filePass = U16(1) + U16(1) + U16(1) + Text(salt) + Text(verifier) + Text(verifierHash);
        auto cipher = std::make_shared<BlockRc4>(key);
        encrypt = [cipher](size_t position, size_t, char* data, size_t size) {
            cipher->Apply(position, reinterpret_cast<uint8_t*>(data), size);
        };
        break;
    }
    case XlsScheme::Rc4CryptoApi:
    case XlsScheme::Rc4CryptoApi40: {
        const Bytes salt = Pattern(16, 3);
        const Bytes base = Hash(HashAlgorithm::Sha1, { salt, utf16 });
        const bool short40 = scheme == XlsScheme::Rc4CryptoApi40;
        // A 40-bit key is its first five bytes and eleven zeros.
        auto key = [base, short40](uint32_t block) {
            Bytes k = Hasher(HashAlgorithm::Sha1).Add(base).AddU32(block).Finish();
            k.resize(short40 ? 5 : 16);
            k.resize(16, 0);
            return k;
        };
        Bytes verifier = Pattern(16, 4);
        Bytes verifierHash = Hash(HashAlgorithm::Sha1, { verifier });
        Rc4 rc4(key(0));
        rc4.Apply(verifier);
        rc4.Apply(verifierHash);
        const std::string header = U32(0x04) + U32(0) + U32(0x6801) + U32(0x8004) + U32(short40 ? 40 : 128) + U32(1)
            + U32(0) + U32(0) + Utf16Z("Microsoft Enhanced Cryptographic Provider v1.0");
        filePass = U16(1) + U16(4) + U16(2) + U32(0x04) + U32(static_cast<uint32_t>(header.size())) + header + U32(16)
            + Text(salt) + Text(verifier) + U32(20) + Text(verifierHash);
        auto cipher = std::make_shared<BlockRc4>(key);
        encrypt = [cipher](size_t position, size_t, char* data, size_t size) {
            cipher->Apply(position, reinterpret_cast<uint8_t*>(data), size);
        };
        break;
    }
    }

    const size_t afterBof = 4 + size_t { Load16(stream, 2) };
    const std::string record = U16(0x002F) + U16(static_cast<uint16_t>(filePass.size())) + filePass;
    std::string out = stream.substr(0, afterBof) + record + stream.substr(afterBof);
    for (size_t at = afterBof + record.size(); at + 4 <= out.size();) {
        const uint16_t type = Load16(out, at);
        const size_t length = Load16(out, at + 2);
        const size_t data = at + 4;
        if (type == 0x0085) { // BOUNDSHEET: its sheet's position moves with the record put in
            uint32_t position = 0;
            std::memcpy(&position, out.data() + data, 4);
            Put32(out, data, position + static_cast<uint32_t>(record.size()));
        }
        if (!StaysPlain(type)) {
            const size_t from = data + (type == 0x0085 ? 4 : 0);
            encrypt(from, length, out.data() + from, data + length - from);
        }
        at = data + length;
    }
    return out;
}

// ---- Office Open XML packages

namespace {

constexpr uint8_t kVerifierInputBlock[] = { 0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79 };
constexpr uint8_t kVerifierValueBlock[] = { 0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E };
constexpr uint8_t kKeyValueBlock[] = { 0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6 };
constexpr uint8_t kHmacKeyBlock[] = { 0x5F, 0xB2, 0xAD, 0x01, 0x0C, 0xB9, 0xE1, 0xF6 };
constexpr uint8_t kHmacValueBlock[] = { 0xA0, 0x67, 0x7F, 0x02, 0xB2, 0x2C, 0x84, 0x33 };

Bytes Spun(HashAlgorithm hash, const Bytes& salt, const Bytes& utf16, uint32_t rounds)
{
    Bytes value = Hash(hash, { salt, utf16 });
    for (uint32_t i = 0; i < rounds; ++i)
        value = Hasher(hash).AddU32(i).Add(value).Finish();
    return value;
}

EncryptedStreams Standard(const std::string& package, const std::string& password)
{
    const Bytes salt = Pattern(16, 5);
    const Bytes spun = Spun(HashAlgorithm::Sha1, salt, Utf16Password(password), 50'000);
    const Bytes final = Hasher(HashAlgorithm::Sha1).Add(spun).AddU32(0).Finish();
    Bytes inner(64, 0x36), outer(64, 0x5C);
    for (size_t i = 0; i < final.size(); ++i) {
        inner[i] ^= final[i];
        outer[i] ^= final[i];
    }
    Bytes key = Hash(HashAlgorithm::Sha1, { inner });
    key.resize(16);

    const Bytes verifier = Pattern(16, 6);
    const Bytes verifierHash = PaddedTo(Hash(HashAlgorithm::Sha1, { verifier }), 16);
    const std::string header = U32(0x24) + U32(0) + U32(0x660E) + U32(0x8004) + U32(128) + U32(0x18) + U32(0) + U32(0)
        + Utf16Z("Microsoft Enhanced RSA and AES Cryptographic Provider");
    EncryptedStreams streams;
    streams.encryptionInfo = U16(4) + U16(2) + U32(0x24) + U32(static_cast<uint32_t>(header.size())) + header + U32(16)
        + Text(salt) + Text(AesEncrypt(key, Chaining::Ecb, verifier)) + U32(20)
        + Text(AesEncrypt(key, Chaining::Ecb, verifierHash));
    streams.encryptedPackage = U64(package.size()) + Text(AesEncrypt(key, Chaining::Ecb, PaddedTo(Of(package), 16)));
    return streams;
}

EncryptedStreams Agile(const std::string& package, const std::string& password, PackageOptions options)
{
    const HashAlgorithm hash = HashAlgorithm::Sha512;
    const Bytes dataSalt = Pattern(16, 7);
    const Bytes keySalt = Pattern(16, 8);
    const Bytes secret = Pattern(32, 9);
    const Bytes spun = Spun(hash, keySalt, Utf16Password(password), options.spinCount);
    const auto keyFor = [&](std::span<const uint8_t> block) {
        Bytes key = Hash(hash, { spun, block });
        key.resize(32);
        return key;
    };
    const auto ivFor = [&](std::span<const uint8_t> block) {
        Bytes iv = Hash(hash, { dataSalt, block });
        iv.resize(16);
        return iv;
    };
    const Bytes verifierInput = Pattern(16, 10);
    const Bytes verifierInputEncrypted = AesEncrypt(keyFor(kVerifierInputBlock), Chaining::Cbc, verifierInput, keySalt);
    const Bytes verifierValueEncrypted
        = AesEncrypt(keyFor(kVerifierValueBlock), Chaining::Cbc, Hash(hash, { verifierInput }), keySalt);
    const Bytes keyValueEncrypted = AesEncrypt(keyFor(kKeyValueBlock), Chaining::Cbc, secret, keySalt);

    EncryptedStreams streams;
    streams.encryptedPackage = U64(package.size());
    for (size_t at = 0, index = 0; at < package.size(); at += 4096, ++index) {
        const Bytes segment = PaddedTo(Of(package.substr(at, 4096)), 16);
        Bytes iv = Hasher(hash).Add(dataSalt).AddU32(static_cast<uint32_t>(index)).Finish();
        iv.resize(16);
        streams.encryptedPackage += Text(AesEncrypt(secret, Chaining::Cbc, segment, iv));
    }
    const Bytes hmacKey = Pattern(64, 11);
    const Bytes hmacValue = Hasher(hash, hmacKey).Add(Of(streams.encryptedPackage)).Finish();

    const auto cipherAttributes = [](const Bytes& salt) {
        return "saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" cipherAlgorithm=\"AES\" "
               "cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"SHA512\" saltValue=\""
            + Base64(salt) + "\"";
    };
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                      "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
                      "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
                      "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
                      "<keyData "
        + cipherAttributes(dataSalt) + "/>";
    if (options.integrity)
        xml += "<dataIntegrity encryptedHmacKey=\""
            + Base64(AesEncrypt(secret, Chaining::Cbc, hmacKey, ivFor(kHmacKeyBlock))) + "\" encryptedHmacValue=\""
            + Base64(AesEncrypt(secret, Chaining::Cbc, hmacValue, ivFor(kHmacValueBlock))) + "\"/>";
    xml += "<keyEncryptors><keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
           "<p:encryptedKey spinCount=\""
        + std::to_string(options.spinCount) + "\" " + cipherAttributes(keySalt) + " encryptedVerifierHashInput=\""
        + Base64(verifierInputEncrypted) + "\" encryptedVerifierHashValue=\"" + Base64(verifierValueEncrypted)
        + "\" encryptedKeyValue=\"" + Base64(keyValueEncrypted) + "\"/></keyEncryptor></keyEncryptors></encryption>";
    streams.encryptionInfo = U16(4) + U16(4) + U32(0x40) + xml;
    return streams;
}

} // namespace

EncryptedStreams EncryptPackageStreams(
    const std::string& package, PackageScheme scheme, const std::string& password, PackageOptions options)
{
    return scheme == PackageScheme::Standard ? Standard(package, password) : Agile(package, password, options);
}

std::string EncryptPackage(
    const std::string& package, PackageScheme scheme, const std::string& password, PackageOptions options)
{
    const EncryptedStreams streams = EncryptPackageStreams(package, scheme, password, options);
    return CompoundFileOf(
        { { "EncryptionInfo", streams.encryptionInfo }, { "EncryptedPackage", streams.encryptedPackage } });
}

std::string CompoundFileOf(const std::vector<std::pair<std::string, std::string>>& streams)
{
    constexpr size_t S = 512;
    const auto sectorsOf = [](size_t size, size_t unit) { return (size + unit - 1) / unit; };

    // Small streams go to the mini stream, chained in the mini allocation table.
    std::string mini;
    std::vector<uint32_t> miniFat;
    std::vector<uint32_t> starts(streams.size(), kEnd);
    std::vector<bool> small(streams.size());
    for (size_t i = 0; i < streams.size(); ++i) {
        const std::string& content = streams[i].second;
        small[i] = content.size() < 4096;
        if (!small[i] || content.empty())
            continue;
        starts[i] = static_cast<uint32_t>(miniFat.size());
        const size_t count = sectorsOf(content.size(), 64);
        for (size_t k = 0; k < count; ++k)
            miniFat.push_back(k + 1 < count ? static_cast<uint32_t>(miniFat.size() + 1) : kEnd);
        mini += content;
        mini.resize(miniFat.size() * 64, '\0');
    }
    const size_t directorySectors = sectorsOf(streams.size() + 1, 4);
    const size_t miniFatSectors = sectorsOf(miniFat.size() * 4, S);
    const size_t miniStreamSectors = sectorsOf(mini.size(), S);
    size_t bigSectors = 0;
    for (size_t i = 0; i < streams.size(); ++i)
        if (!small[i])
            bigSectors += sectorsOf(streams[i].second.size(), S);
    const size_t others = directorySectors + miniFatSectors + miniStreamSectors + bigSectors;
    size_t fatSectors = 1;
    while (fatSectors * (S / 4) < fatSectors + others)
        ++fatSectors;
    if (fatSectors > 109)
        throw std::invalid_argument("too large for a test compound file");

    std::vector<uint32_t> fat(fatSectors * (S / 4), kFree);
    uint32_t next = 0;
    const auto chain = [&](size_t count) {
        const uint32_t first = count ? next : kEnd;
        for (size_t k = 0; k < count; ++k, ++next)
            fat[next] = k + 1 < count ? next + 1 : kEnd;
        return first;
    };
    for (size_t k = 0; k < fatSectors; ++k)
        fat[next++] = 0xFFFFFFFD;
    const uint32_t directoryStart = chain(directorySectors);
    const uint32_t miniFatStart = chain(miniFatSectors);
    const uint32_t miniStreamStart = chain(miniStreamSectors);
    std::string body;
    body.resize((directorySectors + miniFatSectors + miniStreamSectors) * S, '\0');
    for (size_t i = 0; i < streams.size(); ++i) {
        if (small[i])
            continue;
        starts[i] = chain(sectorsOf(streams[i].second.size(), S));
        std::string data = streams[i].second;
        data.resize(sectorsOf(data.size(), S) * S, '\0');
        body += data;
    }

    // The directory: the root, then each stream as the right sibling of the one before.
    const auto entry = [&](size_t index, const std::string& name, uint8_t type, uint32_t right, uint32_t child,
                           uint32_t start, size_t size) {
        std::string e(128, '\0');
        for (size_t k = 0; k < name.size() && k < 31; ++k)
            e.replace(2 * k, 2, U16(static_cast<uint8_t>(name[k])));
        e.replace(64, 2, U16(static_cast<uint16_t>(2 * (name.size() + 1))));
        e[66] = static_cast<char>(type);
        e[67] = 1;
        Put32(e, 68, kFree);
        Put32(e, 72, right);
        Put32(e, 76, child);
        Put32(e, 116, start);
        Put32(e, 120, static_cast<uint32_t>(size));
        body.replace(index * 128, 128, e);
    };
    for (size_t i = streams.size() + 1; i < directorySectors * 4; ++i) {
        std::string unused(128, '\0');
        Put32(unused, 68, kFree);
        Put32(unused, 72, kFree);
        Put32(unused, 76, kFree);
        body.replace(i * 128, 128, unused);
    }
    entry(0, "Root Entry", 5, kFree, streams.empty() ? kFree : 1, mini.empty() ? kEnd : miniStreamStart, mini.size());
    for (size_t i = 0; i < streams.size(); ++i)
        entry(i + 1, streams[i].first, 2, i + 1 < streams.size() ? static_cast<uint32_t>(i + 2) : kFree, kFree,
            starts[i], streams[i].second.size());
    const size_t miniFatAt = directorySectors * S;
    for (size_t k = 0; k < miniFat.size(); ++k)
        Put32(body, miniFatAt + 4 * k, miniFat[k]);
    for (size_t k = miniFat.size(); k < miniFatSectors * (S / 4); ++k)
        Put32(body, miniFatAt + 4 * k, kFree);
    body.replace(miniFatAt + miniFatSectors * S, mini.size(), mini);

    std::string header(S, '\0');
    const uint8_t signature[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
    std::memcpy(header.data(), signature, 8);
    header.replace(24, 2, U16(0x3E));
    header.replace(26, 2, U16(3));
    header.replace(28, 2, U16(0xFFFE));
    header.replace(30, 2, U16(9));
    header.replace(32, 2, U16(6));
    Put32(header, 44, static_cast<uint32_t>(fatSectors));
    Put32(header, 48, directoryStart);
    Put32(header, 56, 4096);
    Put32(header, 60, miniFatSectors ? miniFatStart : kEnd);
    Put32(header, 64, static_cast<uint32_t>(miniFatSectors));
    Put32(header, 68, kEnd);
    for (size_t k = 0; k < 109; ++k)
        Put32(header, 76 + 4 * k, k < fatSectors ? static_cast<uint32_t>(k) : kFree);
    std::string fatBytes;
    for (const uint32_t value : fat)
        fatBytes += U32(value);
    return header + fatBytes + body;
}

} // namespace vellumcast::testing
