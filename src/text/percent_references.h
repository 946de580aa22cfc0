#pragma once
// The %NAME% reference rule, for platforms without an expansion of their own.

#include <functional>
#include <optional>
#include <string>

namespace qn {

/// The expansion rule for platforms without one of their own: undefined names, "%%" and a lone
/// "%" stay as written.
std::string expandPercentReferences(
    const std::string& text,
    const std::function<std::optional<std::string>(const std::string&)>& lookup);

}  // namespace qn
