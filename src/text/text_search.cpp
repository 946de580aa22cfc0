#include "text/text_search.h"

#include "platform/platform.h"

namespace qn {

std::size_t lastCharacter(const std::string& text, char wanted, std::size_t from) {
    std::size_t found = std::string::npos;
    for (std::size_t i = from; i < text.size(); i = platform::nextCharacter(text, i)) {
        if (text[i] == wanted) found = i;
    }
    return found;
}

}  // namespace qn
