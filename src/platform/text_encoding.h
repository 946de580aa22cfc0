#pragma once
// The launcher's 8-bit text (the ANSI code page on Windows, UTF-8 elsewhere) and UTF-16, the
// form of Java's characters.

#include <string>

namespace qn::platform {

/// MultiByteToWideChar with the ANSI code page on Windows; UTF-8 decoding elsewhere (a byte that
/// starts no valid sequence becomes U+FFFD).
std::u16string toUtf16(const std::string& text);
/// The reverse; a character the 8-bit form cannot hold becomes the code page's default character.
std::string fromUtf16(const std::u16string& text);

}  // namespace qn::platform
