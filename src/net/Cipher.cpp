// DES (FIPS 46-3) in ECB mode, Base64 and the EncryptText / DecryptText
// chains of protected values.
//
// Bit numbering follows the standard: bit 1 is the most significant bit of
// the first byte of a block. Permutation tables list, for each output bit,
// the input bit it comes from. The S-boxes and the P permutation are folded
// into eight lookup tables (SP), and the initial and final permutations into
// byte-indexed tables; all are built once from the published tables.
#include "net/Cipher.h"

#include <cstring>

namespace vextal {
namespace {

constexpr uint8_t kIP[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kFP[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

constexpr uint8_t kP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPC1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPC2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Output bit j (1-based from the most significant of outBits) is input bit
// table[j] (1-based from the most significant of inBits).
uint64_t Permute(uint64_t in, const uint8_t* table, int outBits, int inBits)
{
    uint64_t out = 0;
    for (int j = 0; j < outBits; ++j) out = (out << 1) | ((in >> (inBits - table[j])) & 1u);
    return out;
}

struct Tables {
    uint32_t sp[8][64];       // S-box i of a 6-bit input, already through P
    uint64_t ip[8][256];      // initial permutation, by byte position and value
    uint64_t fp[8][256];      // final permutation likewise
};

Tables BuildTables()
{
    Tables t{};
    for (int box = 0; box < 8; ++box) {
        for (int v = 0; v < 64; ++v) {
            // 6 input bits b1..b6: row b1b6, column b2b3b4b5.
            int row = ((v >> 4) & 2) | (v & 1);
            int col = (v >> 1) & 15;
            uint64_t s = static_cast<uint64_t>(kS[box][row * 16 + col]) << (28 - 4 * box);
            t.sp[box][v] = static_cast<uint32_t>(Permute(s, kP, 32, 32));
        }
    }
    for (int pos = 0; pos < 8; ++pos) {
        for (int v = 0; v < 256; ++v) {
            uint64_t in = static_cast<uint64_t>(v) << (56 - 8 * pos);
            t.ip[pos][v] = Permute(in, kIP, 64, 64);
            t.fp[pos][v] = Permute(in, kFP, 64, 64);
        }
    }
    return t;
}

const Tables& GetTables()
{
    static const Tables tables = BuildTables();
    return tables;
}

inline uint32_t RotL(uint32_t x, unsigned n)
{
    n &= 31u;
    return n == 0 ? x : (x << n) | (x >> (32u - n));
}

inline uint64_t ApplyByteTable(const uint64_t (&table)[8][256], uint64_t block)
{
    uint64_t out = 0;
    for (int pos = 0; pos < 8; ++pos) out |= table[pos][(block >> (56 - 8 * pos)) & 0xFFu];
    return out;
}

// The Feistel function: expansion E, key mixing, S-boxes and P. The eight
// 6-bit groups of E(R) are bits 4i .. 4i+5 of R (with wrap-around), i.e.
// the top six bits of R rotated left by 4i - 1.
inline uint32_t Feistel(const Tables& t, uint32_t r, uint32_t k0, uint32_t k1)
{
    uint32_t f = 0;
    for (unsigned i = 0; i < 4; ++i) {
        uint32_t e = (RotL(r, 4 * i + 31) >> 26) & 63u;
        f |= t.sp[i][e ^ ((k0 >> (18 - 6 * i)) & 63u)];
    }
    for (unsigned i = 4; i < 8; ++i) {
        uint32_t e = (RotL(r, 4 * i + 31) >> 26) & 63u;
        f |= t.sp[i][e ^ ((k1 >> (18 - 6 * (i - 4))) & 63u)];
    }
    return f;
}

void CryptBlocks(const uint32_t* keys, const unsigned char* in, unsigned char* out, size_t length)
{
    const Tables& t = GetTables();
    for (size_t off = 0; off + 8 <= length; off += 8) {
        uint64_t block = 0;
        for (int i = 0; i < 8; ++i) block = (block << 8) | in[off + i];
        block = ApplyByteTable(t.ip, block);
        uint32_t l = static_cast<uint32_t>(block >> 32);
        uint32_t r = static_cast<uint32_t>(block);
        for (int round = 0; round < 16; ++round) {
            uint32_t next = l ^ Feistel(t, r, keys[2 * round], keys[2 * round + 1]);
            l = r;
            r = next;
        }
        // The halves are exchanged after the last round.
        block = ApplyByteTable(t.fp, (static_cast<uint64_t>(r) << 32) | l);
        for (int i = 7; i >= 0; --i) {
            out[off + i] = static_cast<unsigned char>(block);
            block >>= 8;
        }
    }
}

void SecureZero(void* p, size_t n)
{
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (n--) *v++ = 0;
}

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Skips characters outside the alphabet, stops at "=" in the third or fourth
// place of a group; `emit` returns false to stop (buffer full).
template <typename Emit>
void Base64DecodeWith(const std::string& text, Emit emit)
{
    unsigned group[4];
    int n = 0;
    for (unsigned char c : text) {
        if (c == '=' && n >= 2) return;  // padding in the third or fourth place ends the text
        int v = Base64Value(c);
        if (v < 0) continue;              // not in the alphabet: skipped
        group[n++] = static_cast<unsigned>(v);
        if (n == 2) {
            if (!emit(static_cast<unsigned char>((group[0] << 2) | (group[1] >> 4)))) return;
        } else if (n == 3) {
            if (!emit(static_cast<unsigned char>(((group[1] & 15u) << 4) | (group[2] >> 2)))) return;
        } else if (n == 4) {
            if (!emit(static_cast<unsigned char>(((group[2] & 3u) << 6) | group[3]))) return;
            n = 0;
        }
    }
}

void KeyBytes(const std::string& key, unsigned char (&out)[8])
{
    std::memset(out, 0, sizeof out);
    std::memcpy(out, key.data(), key.size() < 8 ? key.size() : 8);
}

}  // namespace

CDesCipher::CDesCipher(const unsigned char* key) : m_key{}, m_encKeys{}, m_decKeys{}, m_mode(1)
{
    std::memcpy(m_key, key, 8);
    uint64_t k = 0;
    for (int i = 0; i < 8; ++i) k = (k << 8) | m_key[i];
    uint64_t cd = Permute(k, kPC1, 56, 64);  // parity bits dropped
    uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0FFFFFFFu;
    uint32_t d = static_cast<uint32_t>(cd) & 0x0FFFFFFFu;
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < kShifts[round]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0FFFFFFFu;
            d = ((d << 1) | (d >> 27)) & 0x0FFFFFFFu;
        }
        uint64_t sub = Permute((static_cast<uint64_t>(c) << 28) | d, kPC2, 48, 56);
        // Groups 1-4 in the first word, groups 5-8 in the second, 6 bits each.
        m_encKeys[2 * round] = static_cast<uint32_t>(sub >> 24) & 0xFFFFFFu;
        m_encKeys[2 * round + 1] = static_cast<uint32_t>(sub) & 0xFFFFFFu;
    }
    for (int round = 0; round < 16; ++round) {
        m_decKeys[2 * round] = m_encKeys[2 * (15 - round)];
        m_decKeys[2 * round + 1] = m_encKeys[2 * (15 - round) + 1];
    }
    c = d = 0;
    SecureZero(&k, sizeof k);
    SecureZero(&cd, sizeof cd);
}

CDesCipher::~CDesCipher()
{
    Reset();
}

void CDesCipher::Reset()
{
    SecureZero(m_key, sizeof m_key);
    SecureZero(m_encKeys, sizeof m_encKeys);
    SecureZero(m_decKeys, sizeof m_decKeys);
    m_mode = 0;
}

// A reset object has no key any more: it leaves the output untouched rather
// than "enciphering" with an all-zero schedule.
void CDesCipher::Encrypt(const unsigned char* in, unsigned char* out, size_t length) const
{
    if (m_mode != 1) return;
    CryptBlocks(m_encKeys, in, out, length);
}

void CDesCipher::Decrypt(const unsigned char* in, unsigned char* out, size_t length) const
{
    if (m_mode != 1) return;
    CryptBlocks(m_decKeys, in, out, length);
}

std::string EncryptText(const std::string& text, const std::string& key)
{
    if (text.empty()) return text;
    size_t length = (text.size() + 7) / 8 * 8;
    std::string buffer(length, '\0');
    std::memcpy(buffer.data(), text.data(), text.size());
    unsigned char k[8];
    KeyBytes(key, k);
    CDesCipher cipher(k);
    SecureZero(k, sizeof k);
    auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
    cipher.Encrypt(bytes, bytes, length);
    return Base64Encode(bytes, length);
}

// The whole text is decoded: a fixed 1,024-byte buffer would cut the
// latest-value payloads, which are far longer.
std::string DecryptText(const std::string& text, const std::string& key)
{
    std::string decoded = Base64Decode(text);
    if (decoded.empty()) return text;
    decoded.resize((decoded.size() + 7) / 8 * 8, '\0');
    unsigned char k[8];
    KeyBytes(key, k);
    CDesCipher cipher(k);
    SecureZero(k, sizeof k);
    auto* bytes = reinterpret_cast<unsigned char*>(decoded.data());
    cipher.Decrypt(bytes, bytes, decoded.size());
    size_t end = decoded.find('\0');
    if (end != std::string::npos) decoded.resize(end);
    return decoded;
}

std::string Base64Encode(const unsigned char* data, size_t length)
{
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        out += kBase64Alphabet[(v >> 18) & 63u];
        out += kBase64Alphabet[(v >> 12) & 63u];
        out += kBase64Alphabet[(v >> 6) & 63u];
        out += kBase64Alphabet[v & 63u];
    }
    if (length - i == 1) {
        uint32_t v = uint32_t{data[i]} << 16;
        out += kBase64Alphabet[(v >> 18) & 63u];
        out += kBase64Alphabet[(v >> 12) & 63u];
        out += "==";
    } else if (length - i == 2) {
        uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
        out += kBase64Alphabet[(v >> 18) & 63u];
        out += kBase64Alphabet[(v >> 12) & 63u];
        out += kBase64Alphabet[(v >> 6) & 63u];
        out += '=';
    }
    return out;
}

size_t Base64Decode(const std::string& text, unsigned char* out, size_t capacity)
{
    if (out == nullptr || capacity == 0) return 0;
    std::memset(out, 0, capacity);
    size_t count = 0;
    Base64DecodeWith(text, [&](unsigned char b) {
        out[count++] = b;
        return count < capacity;
    });
    return count;
}

std::string Base64Decode(const std::string& text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    Base64DecodeWith(text, [&](unsigned char b) {
        out += static_cast<char>(b);
        return true;
    });
    return out;
}

}  // namespace vextal
