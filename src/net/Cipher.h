#pragma once
// DES (ECB) with the program's fixed key, Base64 and the text chains built
// on them. Implementations: Cipher.cpp.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vextal {

// The fixed key of protected values; only its first 8 bytes are used.
inline constexpr const char* kCipherKey = "618wwzz#";

class CDesCipher {
public:
    explicit CDesCipher(const unsigned char* key);  // at least 8 bytes
    ~CDesCipher();
    CDesCipher(const CDesCipher&) = delete;
    CDesCipher& operator=(const CDesCipher&) = delete;

    // Each whole 8-byte block of the input, on its own; trailing bytes untouched.
    void Encrypt(const unsigned char* in, unsigned char* out, size_t length) const;
    void Decrypt(const unsigned char* in, unsigned char* out, size_t length) const;
    // Zeroes the key and both schedules.
    void Reset();

private:
    unsigned char m_key[24];
    uint32_t m_encKeys[32];
    uint32_t m_decKeys[32];
    int m_mode;
};

std::string EncryptText(const std::string& text, const std::string& key = kCipherKey);
// The input unchanged when nothing decodes; any length (no 1024-byte cap).
std::string DecryptText(const std::string& text, const std::string& key = kCipherKey);

std::string Base64Encode(const unsigned char* data, size_t length);
inline std::string Base64Encode(const std::string& bytes)
{
    return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}
// Zero-fills `out` first; returns the number of bytes decoded (at most capacity).
size_t Base64Decode(const std::string& text, unsigned char* out, size_t capacity);
// Whole decoded byte string.
std::string Base64Decode(const std::string& text);

}  // namespace vextal
