#pragma once
// The cryptography the encrypted workbook formats use, on libgcrypt: hashes and HMACs
// (MD5, SHA-1, SHA-2), RC4, and AES in ECB and CBC modes, with base64 for the agile
// descriptor's values. Nothing here knows a file format; failures of the library (a key
// of a length the cipher lacks) are SpreadsheetError(Unsupported).

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

struct gcry_md_handle;
struct gcry_cipher_handle;

namespace vellumcast::spreadsheet::encryption {

using Bytes = std::vector<uint8_t>;

enum class HashAlgorithm : uint8_t { Md5, Sha1, Sha256, Sha384, Sha512 };

// The digest's length in bytes.
size_t HashSize(HashAlgorithm algorithm);

// A digest, or with a key an HMAC, fed piece by piece.
class Hasher {
public:
    explicit Hasher(HashAlgorithm algorithm);
    Hasher(HashAlgorithm algorithm, std::span<const uint8_t> hmacKey);
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    Hasher& Add(std::span<const uint8_t> bytes);
    Hasher& AddU32(uint32_t value); // little-endian, as the formats count blocks and rounds
    // The digest of everything added since the last Finish, which starts anew.
    Bytes Finish();

private:
    gcry_md_handle* m_handle = nullptr;
    int m_algorithm;
};

// The digest of the parts joined.
Bytes Hash(HashAlgorithm algorithm, std::initializer_list<std::span<const uint8_t>> parts);

// RC4: the key stream XORed over data, in place; Skip passes over key stream unused.
class Rc4 {
public:
    explicit Rc4(std::span<const uint8_t> key);
    ~Rc4();
    Rc4(const Rc4&) = delete;
    Rc4& operator=(const Rc4&) = delete;
    void Apply(std::span<uint8_t> data);
    void Skip(size_t count);

private:
    gcry_cipher_handle* m_handle = nullptr;
};

enum class Chaining : uint8_t { Ecb, Cbc };

// AES with a key of 16, 24 or 32 bytes. Data is a whole number of 16-byte blocks; the IV
// (CBC only) is one block.
class Aes {
public:
    static constexpr size_t kBlockSize = 16;
    Aes(std::span<const uint8_t> key, Chaining chaining);
    ~Aes();
    Aes(const Aes&) = delete;
    Aes& operator=(const Aes&) = delete;
    void Decrypt(std::span<uint8_t> data, std::span<const uint8_t> iv = {});
    void Encrypt(std::span<uint8_t> data, std::span<const uint8_t> iv = {});

private:
    void Prepare(size_t size, std::span<const uint8_t> iv);
    gcry_cipher_handle* m_handle = nullptr;
    Chaining m_chaining;
};

// The bytes of base64 text (whitespace allowed); nothing when it is not base64.
bool DecodeBase64(std::string_view text, Bytes& out);

} // namespace vellumcast::spreadsheet::encryption
