// Base64Decode (both forms) and DecryptText on arbitrary text: no crash, no
// read or write outside the buffers, and the stated relations hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/Cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text = size ? std::string(reinterpret_cast<const char*>(data), size) : std::string();

    // The whole decode, and the buffer form with a capacity taken from the input.
    std::string whole = vextal::Base64Decode(text);
    size_t capacity = size ? data[0] % 64 : 0;
    std::vector<unsigned char> buf(capacity + 1, 0xA5);  // one guard byte
    size_t n = vextal::Base64Decode(text, buf.data(), capacity);
    if (n > capacity || buf[capacity] != 0xA5) std::abort();
    if (n != (whole.size() < capacity ? whole.size() : capacity)) std::abort();
    if (std::memcmp(buf.data(), whole.data(), n) != 0) std::abort();
    for (size_t i = n; i < capacity; ++i)
        if (buf[i] != 0) std::abort();  // zero-filled first

    // Nothing decodes: the text comes back unchanged.
    std::string plain = vextal::DecryptText(text);
    if (whole.empty() && plain != text) std::abort();
    if (!whole.empty() && plain.find('\0') != std::string::npos) std::abort();

    // Every text without 0 bytes survives the round trip.
    std::string cut = text.substr(0, text.find('\0'));
    if (vextal::DecryptText(vextal::EncryptText(cut)) != cut) std::abort();
    return 0;
}
