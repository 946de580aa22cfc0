#pragma once
// Searching text by characters: in a double-byte code page a byte with the value of "\" or "."
// can also be the second half of a character.

#include <cstddef>
#include <string>

namespace qn {

/// Index of the last character equal to `wanted` at or after `from`, or npos.
std::size_t lastCharacter(const std::string& text, char wanted, std::size_t from = 0);

}  // namespace qn
