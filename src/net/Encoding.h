#pragma once
// Percent-encoding of form fields and code-page conversion (65001 UTF-8,
// 936 GBK) through iconv. Implementations: Encoding.cpp.
#include <string>

namespace vextal {

inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageGbk = 936;

std::string UrlEncode(const std::string& text);
// Text converted from one code page to the other; invalid sequences are
// dropped rather than failing the whole text.
std::string ConvertCodePage(const std::string& text, int fromCodePage, int toCodePage);
// Converted only when the text declares UTF-8 (encoding="utf-8" or charset=utf-8, any case).
std::string ConvertUtf8Answer(const std::string& text, int fromCodePage, int toCodePage);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(const std::string& text);
// Text of the service's files (GBK) as UTF-8; text already in UTF-8 passes.
inline std::string ServiceTextToUtf8(const std::string& text);

inline std::string Utf8ToGbk(const std::string& s) { return ConvertCodePage(s, kCodePageUtf8, kCodePageGbk); }
inline std::string GbkToUtf8(const std::string& s) { return ConvertCodePage(s, kCodePageGbk, kCodePageUtf8); }
inline std::string ServiceTextToUtf8(const std::string& text) { return IsValidUtf8(text) ? text : GbkToUtf8(text); }

}  // namespace vextal
