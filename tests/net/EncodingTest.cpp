// UrlEncode, ConvertCodePage and ConvertUtf8Answer, on real GBK bytes.
#include <gtest/gtest.h>

#include <string>

#include "net/Cipher.h"
#include "net/Encoding.h"

using namespace vextal;

namespace {
const std::string kJijinUtf8 = "\xE5\x9F\xBA\xE9\x87\x91";  // 基金
const std::string kJijinGbk = "\xBB\xF9\xBD\xF0";
}  // namespace

TEST(UrlEncode, ReservedBytesControlAndHighBytes)
{
    EXPECT_EQ(UrlEncode(kJijinGbk), "%BB%F9%BD%F0");  // each GBK byte its own escape
    EXPECT_EQ(UrlEncode(std::string("a \0\xFF", 4)), "a%20%00%FF");

    // Exactly these 69 bytes pass unescaped: the bytes from 33 to 122 less the
    // 21 reserved ones.
    std::string kept;
    for (int b = 0; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        std::string enc = UrlEncode(one);
        if (enc == one) kept += one;
        else EXPECT_EQ(enc.size(), 3u) << b;
    }
    EXPECT_EQ(kept, "'()*-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz");

    // The password chain of the login data: no raw Base64 "+", "/" or "=" survives.
    EXPECT_EQ(UrlEncode(EncryptText("password1")), "HIO3SAOR3doJ9VKKc4wieg%3D%3D");
}

TEST(ConvertCodePage, Utf8AndGbkBothWays)
{
    EXPECT_EQ(ConvertCodePage(kJijinUtf8, 65001, 936), kJijinGbk);
    // "数据格式错误" with ASCII around it; the full-width space A1A1 is U+3000.
    const std::string utf8 = "():\xE6\x95\xB0\xE6\x8D\xAE\xE6\xA0\xBC\xE5\xBC\x8F\xE9\x94\x99\xE8\xAF\xAF \xE3\x80\x80 x";
    const std::string gbk = "():\xCA\xFD\xBE\xDD\xB8\xF1\xCA\xBD\xB4\xED\xCE\xF3 \xA1\xA1 x";
    EXPECT_EQ(Utf8ToGbk(utf8), gbk);
    EXPECT_EQ(GbkToUtf8(gbk), utf8);
    EXPECT_EQ(Utf8ToGbk(""), "");

    // Long texts convert whole (the output buffer grows as needed).
    std::string longUtf8, longGbk;
    for (int i = 0; i < 40000; ++i) {
        longUtf8 += kJijinUtf8;
        longGbk += kJijinGbk;
    }
    EXPECT_EQ(Utf8ToGbk(longUtf8), longGbk);
    EXPECT_EQ(GbkToUtf8(longGbk), longUtf8);
}

TEST(ConvertCodePage, BadBytesAreDroppedNotFatal)
{
    // An invalid UTF-8 byte is dropped and the rest converts.
    EXPECT_EQ(Utf8ToGbk("a\xFF" "b" + kJijinUtf8), "ab" + kJijinGbk);
    // A character GBK cannot hold (U+1F600) is dropped.
    EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80" "b"), "ab");
    // A cut GBK character at the end is dropped; a bad one in the middle too.
    EXPECT_EQ(GbkToUtf8("A\xBB"), "A");
    EXPECT_EQ(GbkToUtf8("A\xFF" "B"), "AB");
    // The text ends at its first 0 byte, as the C string it was.
    EXPECT_EQ(Utf8ToGbk(std::string("ab\0cd", 5)), "ab");
    // A code page without a converter leaves the text alone.
    EXPECT_EQ(ConvertCodePage(kJijinUtf8, 65001, 12345), kJijinUtf8);
}

TEST(ConvertUtf8Answer, OnlyDeclaredUtf8IsConverted)
{
    const std::string body = "?><string>" + kJijinUtf8 + "</string>";
    for (const char* decl : {"encoding=\"utf-8\"", "encoding=\"UTF-8\"", "ENCODING=\"Utf-8\""}) {
        std::string answer = std::string("<?xml version=\"1.0\" ") + decl + body;
        EXPECT_EQ(ConvertUtf8Answer(answer, 65001, 936),
                  std::string("<?xml version=\"1.0\" ") + decl + "?><string>" + kJijinGbk + "</string>")
            << decl;
    }
    std::string page = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">" + kJijinUtf8;
    EXPECT_EQ(ConvertUtf8Answer(page, 65001, 936),
              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">" + kJijinGbk);

    // Without a UTF-8 declaration the bytes come back as they are, even when
    // they are UTF-8; other declarations and spaced-out forms do not count.
    for (const std::string& answer :
         {"<?xml version=\"1.0\"" + body, "<?xml version=\"1.0\" encoding=\"gb2312\"" + body,
          "<?xml version=\"1.0\" encoding = \"utf-8\"" + body, "charset=utf8 " + kJijinUtf8}) {
        EXPECT_EQ(ConvertUtf8Answer(answer, 65001, 936), answer);
    }
}

TEST(Encoding, ServiceFilesInGbkBecomeUtf8)
{
    const std::string gbk = "\xbb\xf9\xbd\xf0";  // 基金
    EXPECT_FALSE(vextal::IsValidUtf8(gbk));
    EXPECT_EQ(vextal::ServiceTextToUtf8(gbk), "基金");
    EXPECT_EQ(vextal::ServiceTextToUtf8("基金 abc"), "基金 abc");
    EXPECT_FALSE(vextal::IsValidUtf8("\xe5\x9f"));      // cut
    EXPECT_FALSE(vextal::IsValidUtf8("\xc0\xaf"));      // overlong
}
