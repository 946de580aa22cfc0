// The fake system's code page is Latin-1: every byte is the character of the same number.
#include "platform/text_encoding.h"

namespace qn::platform {

std::u16string toUtf16(const std::string& text) {
    std::u16string out;
    for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

}  // namespace qn::platform
