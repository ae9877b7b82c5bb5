#include "spreadsheet/encryption/Ciphers.h"

#include "spreadsheet/SpreadsheetError.h"

#include <gcrypt.h>

#include <mutex>
#include <string>

namespace vellumcast::spreadsheet::encryption {

namespace {

// libgcrypt wants to be told once that nothing else configures it; keys live in ordinary
// memory, as the workbook they open does.
void EnsureLibrary()
{
    static std::once_flag once;
    static bool usable = false;
    std::call_once(once, [] {
        if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
            if (!gcry_check_version(GCRYPT_VERSION))
                return;
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
        usable = true;
    });
    if (!usable)
        throw SpreadsheetError(ErrorCode::Unsupported, "the cryptography library is older than the one built with");
}

[[noreturn]] void LibraryFailed(const char* what, gcry_error_t error)
{
    throw SpreadsheetError(ErrorCode::Unsupported,
        std::string("the workbook's encryption cannot be used (") + what + ": " + gcry_strerror(error) + ")");
}

int AlgorithmOf(HashAlgorithm algorithm)
{
    switch (algorithm) {
    case HashAlgorithm::Md5:
        return GCRY_MD_MD5;
    case HashAlgorithm::Sha1:
        return GCRY_MD_SHA1;
    case HashAlgorithm::Sha256:
        return GCRY_MD_SHA256;
    case HashAlgorithm::Sha384:
        return GCRY_MD_SHA384;
    case HashAlgorithm::Sha512:
        return GCRY_MD_SHA512;
    }
    return GCRY_MD_SHA1;
}

} // namespace

size_t HashSize(HashAlgorithm algorithm)
{
    return gcry_md_get_algo_dlen(AlgorithmOf(algorithm));
}

Hasher::Hasher(HashAlgorithm algorithm)
    : Hasher(algorithm, {})
{
}

Hasher::Hasher(HashAlgorithm algorithm, std::span<const uint8_t> hmacKey)
    : m_algorithm(AlgorithmOf(algorithm))
{
    EnsureLibrary();
    const bool hmac = hmacKey.data() != nullptr;
    if (const gcry_error_t error = gcry_md_open(&m_handle, m_algorithm, hmac ? GCRY_MD_FLAG_HMAC : 0))
        LibraryFailed("hash", error);
    if (hmac) {
        if (const gcry_error_t error = gcry_md_setkey(m_handle, hmacKey.data(), hmacKey.size())) {
            gcry_md_close(m_handle);
            LibraryFailed("HMAC key", error);
        }
    }
}

Hasher::~Hasher()
{
    gcry_md_close(m_handle);
}

Hasher& Hasher::Add(std::span<const uint8_t> bytes)
{
    gcry_md_write(m_handle, bytes.data(), bytes.size());
    return *this;
}

Hasher& Hasher::AddU32(uint32_t value)
{
    const uint8_t bytes[4] = { static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24) };
    return Add(bytes);
}

Bytes Hasher::Finish()
{
    const unsigned char* digest = gcry_md_read(m_handle, m_algorithm);
    Bytes result(digest, digest + gcry_md_get_algo_dlen(m_algorithm));
    gcry_md_reset(m_handle);
    return result;
}

Bytes Hash(HashAlgorithm algorithm, std::initializer_list<std::span<const uint8_t>> parts)
{
    Hasher hasher(algorithm);
    for (const auto part : parts)
        hasher.Add(part);
    return hasher.Finish();
}

Rc4::Rc4(std::span<const uint8_t> key)
{
    EnsureLibrary();
    if (const gcry_error_t error = gcry_cipher_open(&m_handle, GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 0))
        LibraryFailed("RC4", error);
    if (const gcry_error_t error = gcry_cipher_setkey(m_handle, key.data(), key.size())) {
        gcry_cipher_close(m_handle);
        LibraryFailed("RC4 key", error);
    }
}

Rc4::~Rc4()
{
    gcry_cipher_close(m_handle);
}

void Rc4::Apply(std::span<uint8_t> data)
{
    if (!data.empty())
        gcry_cipher_decrypt(m_handle, data.data(), data.size(), nullptr, 0);
}

void Rc4::Skip(size_t count)
{
    uint8_t scratch[256];
    while (count > 0) {
        const size_t here = std::min(count, sizeof scratch);
        Apply({ scratch, here });
        count -= here;
    }
}

Aes::Aes(std::span<const uint8_t> key, Chaining chaining)
    : m_chaining(chaining)
{
    EnsureLibrary();
    int algorithm = 0;
    switch (key.size()) {
    case 16:
        algorithm = GCRY_CIPHER_AES128;
        break;
    case 24:
        algorithm = GCRY_CIPHER_AES192;
        break;
    case 32:
        algorithm = GCRY_CIPHER_AES256;
        break;
    default:
        throw SpreadsheetError(ErrorCode::Unsupported,
            "the workbook's encryption uses an AES key of " + std::to_string(key.size() * 8) + " bits");
    }
    const int mode = chaining == Chaining::Cbc ? GCRY_CIPHER_MODE_CBC : GCRY_CIPHER_MODE_ECB;
    if (const gcry_error_t error = gcry_cipher_open(&m_handle, algorithm, mode, 0))
        LibraryFailed("AES", error);
    if (const gcry_error_t error = gcry_cipher_setkey(m_handle, key.data(), key.size())) {
        gcry_cipher_close(m_handle);
        LibraryFailed("AES key", error);
    }
}

Aes::~Aes()
{
    gcry_cipher_close(m_handle);
}

void Aes::Prepare(size_t size, std::span<const uint8_t> iv)
{
    if (size % kBlockSize != 0)
        Corrupt("encrypted data of the workbook is not a whole number of cipher blocks");
    if (m_chaining == Chaining::Cbc) {
        if (const gcry_error_t error = gcry_cipher_setiv(m_handle, iv.data(), iv.size()))
            LibraryFailed("AES IV", error);
    }
}

void Aes::Decrypt(std::span<uint8_t> data, std::span<const uint8_t> iv)
{
    Prepare(data.size(), iv);
    if (data.empty())
        return;
    if (const gcry_error_t error = gcry_cipher_decrypt(m_handle, data.data(), data.size(), nullptr, 0))
        LibraryFailed("AES", error);
}

void Aes::Encrypt(std::span<uint8_t> data, std::span<const uint8_t> iv)
{
    Prepare(data.size(), iv);
    if (data.empty())
        return;
    if (const gcry_error_t error = gcry_cipher_encrypt(m_handle, data.data(), data.size(), nullptr, 0))
        LibraryFailed("AES", error);
}

bool DecodeBase64(std::string_view text, Bytes& out)
{
    out.assign(text.begin(), text.end());
    gpgrt_b64state_t state = gpgrt_b64dec_start(nullptr); // plain base64, no armour
    if (!state)
        return false;
    size_t decoded = 0;
    const gpg_error_t error = gpgrt_b64dec_proc(state, out.data(), out.size(), &decoded);
    const gpg_error_t finished = gpgrt_b64dec_finish(state);
    if ((error && gpg_err_code(error) != GPG_ERR_EOF) || finished)
        return false;
    out.resize(decoded);
    return true;
}

} // namespace vellumcast::spreadsheet::encryption
