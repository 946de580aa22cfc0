#pragma once
// Colours written as text, as the browser settings keep the link colours: "red,green,blue".

#include <cstdint>
#include <optional>
#include <string>

namespace qn::platform {

struct Rgb {
    std::uint8_t red, green, blue;
    bool operator==(const Rgb& other) const {
        return red == other.red && green == other.green && blue == other.blue;
    }
};

/// Three decimal numbers from 0 to 255 separated by commas, blanks allowed around each number;
/// nothing for any other text, so a damaged setting keeps the default colour.
std::optional<Rgb> parseColourText(const std::string& text);

}  // namespace qn::platform
