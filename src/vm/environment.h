#pragma once
// %NAME% references in configuration values.

#include <functional>
#include <optional>
#include <string>

namespace qn {

/// The text with every %NAME% replaced by the variable's value; unchanged when expansion fails.
std::string expandEnvironment(const std::string& text);

/// The expansion rule for platforms without one of their own: undefined names, "%%" and a lone
/// "%" stay as written.
std::string expandPercentReferences(
    const std::string& text,
    const std::function<std::optional<std::string>(const std::string&)>& lookup);

}  // namespace qn
