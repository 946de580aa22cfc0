#include "vm/path_lists.h"

#include "platform/platform.h"
#include "res/resource_ids.h"
#include "trace/trace.h"

namespace qn {

std::string withoutEmptyItems(const std::string& list) {
    const char separator = platform::conventions().listSeparator;
    // A class path of a thousand jars passes here: the stretches between empty items are copied
    // whole, not item by item.
    const std::string doubled(2, separator);
    std::string result;
    result.reserve(list.size());
    std::size_t start = list.find_first_not_of(separator);
    while (start != std::string::npos) {
        const std::size_t end = list.find(doubled, start);
        result.append(list, start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos) break;
        start = list.find_first_not_of(separator, end);
        if (start != std::string::npos) result += separator;
    }
    if (!result.empty() && result.back() == separator) result.pop_back();
    return result;
}

bool holdsListSeparator(const std::string& path) {
    // Neither ";" nor ":" is ever the second byte of a double-byte character.
    return path.find(platform::conventions().listSeparator) != std::string::npos;
}

LauncherError unlistablePath(const std::string& path) {
    return {IDS_PATH_HOLDS_LIST_SEPARATOR, std::string(1, platform::conventions().listSeparator), path};
}

std::optional<std::string> cleanedPathListOption(const std::string& option) {
    for (const char* prefix : {"-Djava.class.path=", "-Djava.library.path="}) {
        const std::string name(prefix);
        if (option.compare(0, name.size(), name) != 0) continue;
        const std::string list = option.substr(name.size());
        const std::string items = withoutEmptyItems(list);
        if (items.empty()) {
            trace::line("paths", "left out " + trace::quoted(option) + ": no item but the current folder");
            return std::nullopt;
        }
        if (items == list) return option;
        trace::line("paths", "empty items dropped from " + trace::quoted(option));
        return name + items;
    }
    return option;
}

}  // namespace qn
