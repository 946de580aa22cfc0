#pragma once
// %NAME% references in configuration values.

#include <string>

namespace qn {

/// The text with every %NAME% replaced by the variable's value; unchanged when expansion fails.
std::string expandEnvironment(const std::string& text);

}  // namespace qn
