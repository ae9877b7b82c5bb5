#include "spreadsheet/encryption/BiffEncryption.h"

#include "spreadsheet/container/ByteCursor.h"
#include "spreadsheet/encryption/Ciphers.h"
#include "spreadsheet/encryption/CryptoApi.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace vellumcast::spreadsheet::encryption {

namespace {

using container::ByteCursor;
using container::LoadU16;

constexpr size_t kRc4BlockSize = 1024;

// Records that stay plain in an encrypted stream.
bool StaysPlain(uint16_t type)
{
    switch (type) {
    case 0x0809: // BOF
    case 0x002F: // FILEPASS
    case 0x0194: // USREXCL
    case 0x0195: // FILELOCK
    case 0x00E1: // INTERFACEHDR
    case 0x0196: // RRDINFO
    case 0x0138: // RRDHEAD
        return true;
    default:
        return false;
    }
}
constexpr uint16_t kBoundSheet = 0x0085;

// Decrypts the bytes of a record's data that lie at a position of the stream.
class RecordCipher {
public:
    virtual ~RecordCipher() = default;
    virtual void Apply(size_t position, size_t recordLength, std::span<uint8_t> bytes) = 0;
};

// ---- XOR obfuscation

constexpr uint16_t kInitialCode[15] = { 0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E, 0x1872, 0xE139,
    0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3 };

constexpr uint16_t kXorMatrix[105] = { 0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5,
    0xEB6B, 0xC6F7, 0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4,
    0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45, 0xDE8A, 0xAD35,
    0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC, 0x5FD9, 0x47D3, 0x8FA6, 0x0F6D,
    0x1EDA, 0x3DB4, 0x7B68, 0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD, 0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1,
    0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483, 0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1,
    0x85C3, 0x1BA7, 0x374E, 0x6E9C, 0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4,
    0x89A9, 0x0373, 0x06E6, 0x0DCC, 0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4 };

constexpr uint8_t kPad[15]
    = { 0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80, 0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00 };

uint8_t RotateRight(uint8_t value, unsigned bits)
{
    return static_cast<uint8_t>((value >> bits) | (value << (8 - bits)));
}

class XorCipher final : public RecordCipher {
public:
    explicit XorCipher(std::vector<uint8_t> array)
        : m_array(std::move(array))
    {
    }
    // Each record starts at the array's place of the position after its data.
    void Apply(size_t position, size_t recordLength, std::span<uint8_t> bytes) override
    {
        size_t index = (position + recordLength) % 16;
        for (uint8_t& byte : bytes) {
            byte = RotateRight(static_cast<uint8_t>(byte ^ m_array[index]), 5);
            index = (index + 1) % 16;
        }
    }

private:
    std::vector<uint8_t> m_array;
};

// ---- RC4, both key derivations: a key per 1024-byte block of the stream.

class Rc4Cipher final : public RecordCipher {
public:
    // keyOfBlock gives the RC4 key of a block number.
    explicit Rc4Cipher(std::function<Bytes(uint32_t)> keyOfBlock)
        : m_keyOfBlock(std::move(keyOfBlock))
    {
    }
    void Apply(size_t position, size_t, std::span<uint8_t> bytes) override
    {
        while (!bytes.empty()) {
            MoveTo(position);
            const size_t here = std::min(bytes.size(), kRc4BlockSize - position % kRc4BlockSize);
            m_rc4->Apply(bytes.first(here));
            m_at += here;
            position += here;
            bytes = bytes.subspan(here);
        }
    }

private:
    void MoveTo(size_t position)
    {
        const size_t block = position / kRc4BlockSize;
        if (!m_rc4 || block != m_block || position < m_at) {
            m_rc4 = std::make_unique<Rc4>(m_keyOfBlock(static_cast<uint32_t>(block)));
            m_block = block;
            m_at = block * kRc4BlockSize;
        }
        m_rc4->Skip(position - m_at);
        m_at = position;
    }

    std::function<Bytes(uint32_t)> m_keyOfBlock;
    std::unique_ptr<Rc4> m_rc4;
    size_t m_block = 0;
    size_t m_at = 0;
};

// RC4 with an MD5 key (the "Office 97/2000 compatible" encryption): the salt, the
// verifier and its MD5 hash, both encrypted with block 0's key.
std::unique_ptr<RecordCipher> OpenRc4(ByteCursor& record, const PasswordSource& password)
{
    const auto saltSpan = record.Take(16);
    const Bytes salt(saltSpan.begin(), saltSpan.end());
    const auto verifierSpan = record.Take(16);
    const auto hashSpan = record.Take(16);
    return Unlock(password, [&](const std::string& candidate) -> std::optional<std::unique_ptr<RecordCipher>> {
        const Bytes first = Hash(HashAlgorithm::Md5, { Utf16Password(candidate) });
        Hasher hasher(HashAlgorithm::Md5);
        for (int i = 0; i < 16; ++i)
            hasher.Add(std::span(first).first(5)).Add(salt);
        Bytes truncated = hasher.Finish();
        truncated.resize(5);
        auto keyOfBlock
            = [truncated](uint32_t block) { return Hasher(HashAlgorithm::Md5).Add(truncated).AddU32(block).Finish(); };
        Rc4 rc4(keyOfBlock(0));
        Bytes verifier(verifierSpan.begin(), verifierSpan.end());
        Bytes hash(hashSpan.begin(), hashSpan.end());
        rc4.Apply(verifier);
        rc4.Apply(hash);
        if (Hash(HashAlgorithm::Md5, { verifier }) != hash)
            return std::nullopt;
        return std::make_unique<Rc4Cipher>(keyOfBlock);
    });
}

// RC4 CryptoAPI: the key is SHA-1 of the salted password's hash and the block number, cut
// to the key size; a 40-bit key is padded to 128 bits with zeros.
std::unique_ptr<RecordCipher> OpenRc4CryptoApi(ByteCursor& record, const PasswordSource& password)
{
    const CryptoApiHeader header = ReadCryptoApiHeader(record);
    if (header.cipher != 0 && header.cipher != algorithm::kRc4)
        throw SpreadsheetError(ErrorCode::Unsupported, "the workbook is encrypted with a cipher other than RC4");
    if (header.hash != 0 && header.hash != algorithm::kSha1)
        throw SpreadsheetError(ErrorCode::Unsupported, "the workbook's encryption uses a hash other than SHA-1");
    const uint32_t keyBits = header.keyBits == 0 ? 40 : header.keyBits;
    if (keyBits % 8 != 0 || keyBits < 40 || keyBits > 128)
        Corrupt("the workbook's RC4 key size of " + std::to_string(keyBits) + " bits is not one RC4 CryptoAPI has");
    return Unlock(password, [&](const std::string& candidate) -> std::optional<std::unique_ptr<RecordCipher>> {
        const Bytes base = Hash(HashAlgorithm::Sha1, { header.salt, Utf16Password(candidate) });
        auto keyOfBlock = [base, keyBits](uint32_t block) {
            Bytes key = Hasher(HashAlgorithm::Sha1).Add(base).AddU32(block).Finish();
            key.resize(keyBits / 8);
            if (keyBits == 40)
                key.resize(16, 0);
            return key;
        };
        Rc4 rc4(keyOfBlock(0));
        Bytes verifier = header.encryptedVerifier;
        Bytes hash(header.encryptedVerifierHash.begin(), header.encryptedVerifierHash.begin() + 20);
        rc4.Apply(verifier);
        rc4.Apply(hash);
        if (Hash(HashAlgorithm::Sha1, { verifier }) != hash)
            return std::nullopt;
        return std::make_unique<Rc4Cipher>(keyOfBlock);
    });
}

std::unique_ptr<RecordCipher> OpenXor(ByteCursor& record, const PasswordSource& password)
{
    const uint16_t key = record.U16();
    const uint16_t verifier = record.U16();
    return Unlock(password, [&](const std::string& candidate) -> std::optional<std::unique_ptr<RecordCipher>> {
        const std::vector<uint8_t> bytes = XorPassword(candidate);
        if (bytes.empty())
            return std::nullopt;
        const XorKey made = XorKeyOf(bytes);
        if (made.key != key || made.verifier != verifier)
            return std::nullopt;
        return std::make_unique<XorCipher>(XorArrayOf(bytes));
    });
}

} // namespace

XorKey XorKeyOf(std::span<const uint8_t> password)
{
    XorKey result { 0, 0 };
    if (password.empty() || password.size() > 15)
        return result;
    result.key = kInitialCode[password.size() - 1];
    size_t element = std::size(kXorMatrix) - 1;
    for (size_t i = password.size(); i-- > 0;) {
        uint8_t character = password[i];
        for (int bit = 0; bit < 7; ++bit, --element) {
            if (character & 0x40)
                result.key ^= kXorMatrix[element];
            character = static_cast<uint8_t>(character << 1);
        }
    }
    // The verifier runs over the length and the characters, last first.
    uint16_t verifier = 0;
    const auto step = [&](uint8_t byte) {
        const uint16_t carried = (verifier & 0x4000) ? 1 : 0;
        verifier = static_cast<uint16_t>((((verifier << 1) & 0x7FFF) | carried) ^ byte);
    };
    for (size_t i = password.size(); i-- > 0;)
        step(password[i]);
    step(static_cast<uint8_t>(password.size()));
    result.verifier = verifier ^ 0xCE4B;
    return result;
}

std::vector<uint8_t> XorPassword(std::string_view utf8)
{
    const std::vector<uint8_t> utf16 = Utf16Password(utf8);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < utf16.size() && bytes.size() < 15; i += 2)
        bytes.push_back(utf16[i] != 0 ? utf16[i] : utf16[i + 1]);
    return bytes;
}

std::vector<uint8_t> XorArrayOf(std::span<const uint8_t> password)
{
    const uint16_t key = XorKeyOf(password).key;
    std::vector<uint8_t> array(16);
    for (size_t i = 0; i < array.size(); ++i) {
        const uint8_t character = i < password.size() ? password[i] : kPad[i - password.size()];
        const uint8_t keyByte = (i % 2 == 0) ? static_cast<uint8_t>(key & 0xFF) : static_cast<uint8_t>(key >> 8);
        array[i] = RotateRight(static_cast<uint8_t>(character ^ keyByte), 1);
    }
    return array;
}

std::vector<uint8_t> DecryptWorkbookStream(std::span<const uint8_t> stream, std::span<const uint8_t> filePass,
    size_t next, bool biff8, const PasswordSource& password)
{
    ByteCursor record(filePass, "the FILEPASS record");
    std::unique_ptr<RecordCipher> cipher;
    if (!biff8) {
        cipher = OpenXor(record, password);
    } else {
        const uint16_t scheme = record.U16();
        if (scheme == 0) {
            cipher = OpenXor(record, password);
        } else if (scheme == 1) {
            const uint16_t major = record.U16();
            const uint16_t minor = record.U16();
            if (major == 1 && minor == 1)
                cipher = OpenRc4(record, password);
            else if ((major == 2 || major == 3 || major == 4) && minor == 2)
                cipher = OpenRc4CryptoApi(record, password);
            else
                throw SpreadsheetError(ErrorCode::Unsupported,
                    "the workbook's encryption is of a version not read (" + std::to_string(major) + "."
                        + std::to_string(minor) + ")");
        } else {
            throw SpreadsheetError(ErrorCode::Unsupported, "the workbook's encryption is of a kind not read");
        }
    }

    std::vector<uint8_t> plain(stream.begin(), stream.end());
    // Record headers are plain, so the records are found as in any stream; a record that
    // runs past the end is left for the reader to report.
    for (size_t at = next; at <= plain.size() && plain.size() - at >= 4;) {
        const uint16_t type = LoadU16(plain.data() + at);
        const size_t length = LoadU16(plain.data() + at + 2);
        const size_t data = at + 4;
        const size_t end = std::min(data + length, plain.size());
        if (!StaysPlain(type)) {
            const size_t from = std::min(end, data + (type == kBoundSheet ? 4 : 0));
            cipher->Apply(from, length, std::span(plain).subspan(from, end - from));
        }
        if (data + length >= plain.size())
            break;
        at = data + length;
    }
    return plain;
}

} // namespace vellumcast::spreadsheet::encryption
