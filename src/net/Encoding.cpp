// Percent-encoding of form fields and code-page conversion (UTF-8 / GBK).
#include "net/Encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "common/Format.h"

namespace vextal {
namespace {

// The program's table text: the 16 hex digits followed by the 21 reserved
// characters of a form field.
constexpr char kUrlTable[] = "0123456789ABCDEF\"<>%\\^[]`+$,@:;/!#?=&";
constexpr size_t kHexDigits = 16;

bool NeedsEscape(unsigned char c)
{
    if (c < 33 || c >= 123) return true;
    return std::memchr(kUrlTable + kHexDigits, c, sizeof kUrlTable - 1 - kHexDigits) != nullptr;
}

// iconv names of the Windows code pages the program may meet.
const char* IconvName(int codePage)
{
    switch (codePage) {
    case 65001: return "UTF-8";
    case 936: return "CP936";
    case 54936: return "GB18030";
    case 950: return "CP950";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 1252: return "CP1252";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: return nullptr;
    }
}

class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~IconvHandle()
    {
        if (ok()) iconv_close(m_cd);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

}  // namespace

std::string UrlEncode(const std::string& text)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if (NeedsEscape(c)) {
            out += '%';
            out += kUrlTable[c >> 4];
            out += kUrlTable[c & 15u];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The text is a C string at heart: it ends at its first 0 byte. iconv
// converts directly (no detour through UTF-16); a byte that starts no valid
// (or no mappable) sequence is dropped and the conversion goes on with the
// next byte; an incomplete sequence at the end is dropped. An unknown code
// page leaves the text as it is.
std::string ConvertCodePage(const std::string& text, int fromCodePage, int toCodePage)
{
    const char* from = IconvName(fromCodePage);
    const char* to = IconvName(toCodePage);
    if (from == nullptr || to == nullptr) return text;
    std::string src = text.substr(0, text.find('\0'));
    if (src.empty()) return src;
    IconvHandle cd(to, from);
    if (!cd.ok()) return text;

    std::string out(src.size() * 2 + 16, '\0');
    size_t used = 0;
    char* in = src.data();
    size_t inLeft = src.size();
    while (inLeft > 0) {
        char* dst = out.data() + used;
        size_t dstLeft = out.size() - used;
        size_t rc = iconv(cd.get(), &in, &inLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (rc != static_cast<size_t>(-1)) break;  // all input converted
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (errno == EILSEQ) {
            ++in;  // drop the offending byte and resynchronise on the next
            --inLeft;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        } else {
            break;  // EINVAL: incomplete sequence at the end
        }
    }
    // Flush a shift state (none for the code pages in use, but cheap).
    for (;;) {
        char* dst = out.data() + used;
        size_t dstLeft = out.size() - used;
        size_t rc = iconv(cd.get(), nullptr, nullptr, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (rc == static_cast<size_t>(-1) && errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        break;
    }
    out.resize(used);
    return out;
}

std::string ConvertUtf8Answer(const std::string& text, int fromCodePage, int toCodePage)
{
    std::string lower = ToLowerAscii(text);
    if (lower.find("encoding=\"utf-8\"") != std::string::npos || lower.find("charset=utf-8") != std::string::npos)
        return ConvertCodePage(text, fromCodePage, toCodePage);
    return text;
}

bool IsValidUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        if (len == 2 && c < 0xC2) return false;  // overlong
        for (size_t k = 1; k < len; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

}  // namespace vextal
