#include "text/percent_references.h"

namespace qn {

std::string expandPercentReferences(
    const std::string& text,
    const std::function<std::optional<std::string>(const std::string&)>& lookup) {
    std::string result;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find('%', pos);
        if (open == std::string::npos) break;
        const std::size_t close = text.find('%', open + 1);
        if (close == std::string::npos) break;
        result.append(text, pos, open - pos);
        const std::string name = text.substr(open + 1, close - open - 1);
        const auto value = name.empty() ? std::nullopt : lookup(name);
        if (value) {
            result += *value;
        } else {
            result.append(text, open, close - open + 1);  // undefined: kept as written
        }
        pos = close + 1;
    }
    result.append(text, pos, std::string::npos);
    return result;
}

}  // namespace qn
