// DES (FIPS 46-3, ECB), Base64 and the EncryptText / DecryptText chains.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "net/Cipher.h"

using namespace vextal;

namespace {

std::vector<unsigned char> FromHex(const std::string& hex)
{
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const unsigned char* p, size_t n)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string CryptHex(bool encrypt, const std::string& keyHex, const std::string& inHex)
{
    auto key = FromHex(keyHex);
    auto in = FromHex(inHex);
    std::vector<unsigned char> out(in.size());
    CDesCipher cipher(key.data());
    if (encrypt) cipher.Encrypt(in.data(), out.data(), in.size());
    else cipher.Decrypt(in.data(), out.data(), in.size());
    return ToHex(out.data(), out.size());
}
std::string EncryptHex(const std::string& k, const std::string& in) { return CryptHex(true, k, in); }
std::string DecryptHex(const std::string& k, const std::string& in) { return CryptHex(false, k, in); }

}  // namespace

TEST(DesCipher, PublishedVectors)
{
    struct Vector {
        const char *key, *plain, *cipher;
    } vectors[] = {
        {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},  // the classic worked example
        {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},  // "Now is t"
        {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},  // NBS variable plaintext
        {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},  // NBS substitution table
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.key);
        EXPECT_EQ(EncryptHex(v.key, v.plain), v.cipher);
        EXPECT_EQ(DecryptHex(v.key, v.cipher), v.plain);
    }

    // Rivest's iterated check: X(i+1) = E(Xi, Xi) for even i, D(Xi, Xi) for odd
    // i; X16 is 1B1A2DDB4C642438 for a correct DES.
    std::string x = "9474B8E8C73BCA7D";
    for (int i = 0; i < 16; ++i) x = (i % 2 == 0) ? EncryptHex(x, x) : DecryptHex(x, x);
    EXPECT_EQ(x, "1B1A2DDB4C642438");

    // The parity bits of the key are ignored.
    auto key = FromHex("133457799BBCDFF1");
    for (auto& b : key) b ^= 1u;
    EXPECT_EQ(EncryptHex(ToHex(key.data(), 8), "0123456789ABCDEF"), "85E813540F0AB405");
}

TEST(DesCipher, BlocksInPlaceAndShortLengths)
{
    const unsigned char key[8] = {'6', '1', '8', 'w', 'w', 'z', 'z', '#'};
    CDesCipher cipher(key);

    // ECB: equal blocks give equal cipher blocks; in place works; a trailing
    // partial block is left untouched.
    unsigned char buf[20];
    for (int i = 0; i < 16; ++i) buf[i] = static_cast<unsigned char>("ABCDEFGHABCDEFGH"[i]);
    buf[16] = 1, buf[17] = 2, buf[18] = 3, buf[19] = 4;
    cipher.Encrypt(buf, buf, sizeof buf);
    EXPECT_EQ(ToHex(buf, 8), ToHex(buf + 8, 8));
    EXPECT_NE(ToHex(buf, 8), "4142434445464748");
    EXPECT_EQ(ToHex(buf + 16, 4), "01020304");
    cipher.Decrypt(buf, buf, sizeof buf);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 16), "ABCDEFGHABCDEFGH");

    // Below 8 bytes nothing happens.
    unsigned char in[7] = {1, 2, 3, 4, 5, 6, 7}, out[7] = {9, 9, 9, 9, 9, 9, 9};
    cipher.Encrypt(in, out, 7);
    EXPECT_EQ(ToHex(out, 7), "09090909090909");
}

TEST(Base64, EncodeDecodeRules)
{
    // RFC 4648 vectors.
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(Base64Encode(std::string(plain[i])), coded[i]);
        EXPECT_EQ(Base64Decode(std::string(coded[i])), plain[i]);
    }
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Base64Decode(Base64Encode(all)), all);

    // Characters outside the alphabet are skipped, line breaks included.
    EXPECT_EQ(Base64Decode(std::string("Zm9v\r\nYm Fy")), "foobar");
    EXPECT_EQ(Base64Decode(std::string("中Zm9v!")), "foo");
    // "=" in the third or fourth place of a group ends the text; in the first
    // or second place it is just skipped.
    EXPECT_EQ(Base64Decode(std::string("Zg==Zm9v")), "f");
    EXPECT_EQ(Base64Decode(std::string("Zm8=Zm9v")), "fo");
    EXPECT_EQ(Base64Decode(std::string("=Zm9v")), "foo");
    EXPECT_EQ(Base64Decode(std::string("Z=m9v")), "foo");
    // One sextet alone makes no byte.
    EXPECT_EQ(Base64Decode(std::string("Zm9vY")), "foo");
    EXPECT_EQ(Base64Decode(std::string("!!!")), "");

    // The buffer form zero-fills its capacity and stops there.
    unsigned char buf[10];
    std::fill(std::begin(buf), std::end(buf), 0xEE);
    EXPECT_EQ(Base64Decode("Zm9v", buf, 8), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "foo");
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(buf[7], 0);
    EXPECT_EQ(buf[8], 0xEE);  // beyond the capacity: untouched
    EXPECT_EQ(Base64Decode("Zm9vYmFy", buf, 4), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "foob");
    EXPECT_EQ(Base64Decode("Zm9v", buf, 0), 0u);
}

TEST(EncryptText, LengthsKnownValuesAndRoundTrips)
{
    // Zero padding to whole blocks, no extra block for a full one.
    EXPECT_EQ(EncryptText(""), "");
    EXPECT_EQ(EncryptText("abcdefgh").size(), 12u);
    EXPECT_EQ(EncryptText(std::string(16, 'x')).size(), 24u);

    // Values from openssl enc -des-ecb -nopad with the key "618wwzz#" on the
    // zero-padded text, then Base64.
    EXPECT_EQ(EncryptText("a"), "CUy1lGUsnQ0=");
    EXPECT_EQ(EncryptText("\xBB\xF9\xBD\xF0" "abc"), "7ofZjogj06Y=");  // "基金abc" in GBK
    EXPECT_EQ(EncryptText("password1"), "HIO3SAOR3doJ9VKKc4wieg==");
    // Only the first 8 bytes of the key count.
    EXPECT_EQ(EncryptText("a", "618wwzz#and more"), "CUy1lGUsnQ0=");

    // Every text without 0 bytes comes back, whatever its bytes and length.
    std::mt19937 rng(20240611);
    for (int n = 1; n <= 80; ++n) {
        std::string text(static_cast<size_t>(n), ' ');
        for (char& c : text) c = static_cast<char>(1 + rng() % 255);
        ASSERT_EQ(DecryptText(EncryptText(text)), text) << "length " << n;
    }
    // Far beyond the original 1,024-byte buffer (mended): 5,000 and 100,000 bytes.
    std::string big(5000, ' ');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 26);
    EXPECT_EQ(EncryptText(big).size(), 5000u / 3 * 4 + 4);  // 5,000 is a multiple of 8
    EXPECT_EQ(DecryptText(EncryptText(big)), big);
    std::string huge(100000, '\xBB');
    EXPECT_EQ(DecryptText(EncryptText(huge)), huge);
}

TEST(DecryptText, PassThroughCutsAndWrongKeys)
{
    // Nothing decodes: the input comes back unchanged.
    EXPECT_EQ(DecryptText(""), "");
    EXPECT_EQ(DecryptText("!!! ???"), "!!! ???");
    EXPECT_EQ(DecryptText("基金"), "基金");
    EXPECT_EQ(DecryptText("===="), "====");
    EXPECT_EQ(DecryptText("A"), "A");  // a single sextet decodes to no byte

    // A text with a 0 byte comes back cut there (the zero padding is stripped the same way).
    EXPECT_EQ(DecryptText(EncryptText(std::string("ab\0cd", 5))), "ab");

    // A decoded length that is not a multiple of 8 is padded with zeros, no overrun.
    std::string cipher = EncryptText("password1");
    std::string cut = cipher.substr(0, 14);  // 10 decoded bytes
    std::string partial = DecryptText(cut);
    EXPECT_EQ(partial.substr(0, 8), "password");

    // A wrong key gives something else.
    EXPECT_NE(DecryptText(EncryptText("secret"), "other#ke"), "secret");
    EXPECT_EQ(DecryptText(EncryptText("secret", "other#ke"), "other#ke"), "secret");
}
