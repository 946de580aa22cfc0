#include "text/release_file.h"

namespace qn {

std::string releaseValue(const std::string& releaseText, const std::string& name) {
    std::size_t pos = 0;
    while (pos < releaseText.size()) {
        std::size_t end = releaseText.find('\n', pos);
        if (end == std::string::npos) end = releaseText.size();
        std::string line = releaseText.substr(pos, end - pos);
        pos = end + 1;
        if (line.compare(0, name.size() + 1, name + "=") != 0) continue;
        std::string value = line.substr(name.size() + 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

}  // namespace qn
