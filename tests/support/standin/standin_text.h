#pragma once
// UTF-16 and (modified) UTF-8 conversions of the stand-in runtime.

#include <string>

namespace standin {

std::string toUtf8(const std::u16string& text);
/// Modified UTF-8 as JNI hands it out: NUL as C0 80, supplementary characters as two surrogates.
std::string toModifiedUtf8(const std::u16string& text);
/// Decodes UTF-8 and modified UTF-8 alike.
std::u16string fromUtf8(const std::string& text);

}  // namespace standin
