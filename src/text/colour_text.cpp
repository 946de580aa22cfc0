#include "text/colour_text.h"

namespace qn::platform {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

/// One component at `pos`, which moves past it and its trailing blanks.
std::optional<std::uint8_t> component(const std::string& text, std::size_t& pos) {
    while (pos < text.size() && isBlank(text[pos])) ++pos;
    int value = 0;
    std::size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        if (value > 255) return std::nullopt;
        ++pos, ++digits;
    }
    if (digits == 0) return std::nullopt;
    while (pos < text.size() && isBlank(text[pos])) ++pos;
    return static_cast<std::uint8_t>(value);
}

}  // namespace

std::optional<Rgb> parseColourText(const std::string& text) {
    std::uint8_t values[3];
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',') return std::nullopt;
            ++pos;
        }
        const auto value = component(text, pos);
        if (!value) return std::nullopt;
        values[i] = *value;
    }
    if (pos != text.size()) return std::nullopt;
    return Rgb{values[0], values[1], values[2]};
}

}  // namespace qn::platform
