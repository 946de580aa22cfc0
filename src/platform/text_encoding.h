#pragma once
// The launcher's 8-bit text (the ANSI code page on Windows, UTF-8 elsewhere) as UTF-16, the form
// of Java's characters. The way back, for display, is displayText in platform/dialogs.h.

#include <string>

namespace qn::platform {

/// MultiByteToWideChar with the ANSI code page on Windows; UTF-8 decoding elsewhere (a byte that
/// starts no valid sequence becomes U+FFFD).
std::u16string toUtf16(const std::string& text);

}  // namespace qn::platform
