// The fake system's code page is Latin-1: every byte is the character of the same number.
#include "platform/text_encoding.h"

namespace qn::platform {

std::u16string toUtf16(const std::string& text) {
    std::u16string out;
    for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

std::string fromUtf16(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x100 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace qn::platform
