#include "vm/environment.h"

#include "platform/platform.h"

namespace qn {

std::string expandEnvironment(const std::string& text) {
    // Nothing to expand: the text goes on exactly as written, whatever its length.
    if (text.find('%') == std::string::npos) return text;
    std::string expanded;
    return platform::expandEnvironmentStrings(text, expanded) ? expanded : text;
}

}  // namespace qn
