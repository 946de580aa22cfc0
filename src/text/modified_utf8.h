#pragma once
// Text as the Java runtime hands it out (modified UTF-8) and the line breaks of display text.

#include <string>

namespace qn {

/// Decodes modified UTF-8 (GetStringUTFChars): NUL as C0 80, supplementary characters as two
/// encoded surrogates; standard four-byte forms are accepted too. A malformed byte becomes U+FFFD.
std::u16string decodeModifiedUtf8(const std::string& text);

/// Standard UTF-8 of UTF-16 text; surrogate pairs join, a lone surrogate becomes U+FFFD.
std::string encodeUtf8(const std::u16string& text);

/// The text with every line break (CR LF, lone LF, lone CR) written as CR LF, as a multi-line edit
/// control needs it.
std::string withCrLfLineBreaks(const std::string& text);

}  // namespace qn
