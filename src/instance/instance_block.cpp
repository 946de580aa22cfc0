#include "instance/instance_block.h"

#include <algorithm>
#include <cstring>

namespace qn {

bool argumentsFit(const std::vector<std::string>& arguments) {
    std::size_t needed = 1;  // the NUL that closes the list
    for (const std::string& argument : arguments) {
        needed += argument.size() + 1;
        if (needed > argumentAreaSize) return false;
    }
    return true;
}

bool packArguments(const std::vector<std::string>& arguments, unsigned char (&area)[argumentAreaSize]) {
    if (!argumentsFit(arguments)) return false;
    std::memset(area, 0, sizeof area);
    std::size_t at = 0;
    for (const std::string& argument : arguments) {
        std::memcpy(area + at, argument.data(), argument.size());
        at += argument.size() + 1;  // the NUL is already there
    }
    return true;
}

std::vector<std::string> unpackArguments(const unsigned char (&area)[argumentAreaSize]) {
    std::vector<std::string> arguments;
    std::string current;
    // The last byte is never looked at: a pair of NULs needs a position after the first one.
    for (std::size_t at = 0; at + 1 < argumentAreaSize; ++at) {
        if (area[at] != 0) {
            current.push_back(static_cast<char>(area[at]));
            continue;
        }
        arguments.push_back(current);
        current.clear();
        if (area[at + 1] == 0) return arguments;
    }
    return arguments;
}

std::string instanceName(const std::string& executablePath, const PlatformConventions& conventions) {
    std::string name = executablePath;
    std::replace(name.begin(), name.end(), conventions.pathSeparator, '_');
    return name;
}

}  // namespace qn
