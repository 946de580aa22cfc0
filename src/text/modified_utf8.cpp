#include "text/modified_utf8.h"

#include "text/utf8.h"

namespace qn {

namespace {

constexpr char16_t replacementCharacter = 0xFFFD;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

void appendCodePoint(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

}  // namespace

std::u16string decodeModifiedUtf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        int extra;
        char32_t value;
        char32_t smallest;  // overlong forms are malformed, except C0 80 for NUL
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, value = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, value = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, value = lead & 0x07, smallest = 0x10000;
        } else {
            out += replacementCharacter;
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        for (int k = 0; k < extra; ++k, ++end) {
            if (end >= text.size() || !isContinuation(static_cast<unsigned char>(text[end]))) break;
            value = (value << 6) | (static_cast<unsigned char>(text[end]) & 0x3F);
        }
        if (end != i + 1 + static_cast<std::size_t>(extra)) {
            // Truncated sequence: replace what was read and go on at the byte that broke it.
            out += replacementCharacter;
            i = end;
            continue;
        }
        const bool nul = lead == 0xC0 && value == 0;
        if ((value < smallest && !nul) || value > 0x10FFFF) {
            out += replacementCharacter;
        } else {
            // Encoded surrogates pass through as code units: that is how the runtime writes
            // supplementary characters.
            appendCodePoint(out, value);
        }
        i = end;
    }
    return out;
}

std::string encodeUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xE000) {
            const bool pair = c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                              text[i + 1] < 0xE000;
            if (pair) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
            } else {
                c = replacementCharacter;
            }
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string withCrLfLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace qn
