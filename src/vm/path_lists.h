#pragma once
// The path lists the runtime reads, its class path and its library path, whoever wrote them: no
// item that the runtime would read against the working folder reaches it.

#include <optional>
#include <string>

#include "vm/launcher_error.h"

namespace qn {

/// The list without empty items: the runtime reads an empty item as the current folder.
std::string withoutEmptyItems(const std::string& list);
/// True when the path holds the platform's list separator: in a list the runtime reads it as two
/// paths, the second one relative to the current folder.
bool holdsListSeparator(const std::string& path);
/// The report for such a path: it cannot be handed to the runtime in a list (text 263).
LauncherError unlistablePath(const std::string& path);
/// A -Djava.class.path= or -Djava.library.path= option as the runtime should get it: without
/// empty items, and nothing at all when no item is left (an empty class path is the current
/// folder too); the trace says what was dropped. Any other option comes back as it is.
std::optional<std::string> cleanedPathListOption(const std::string& option);

}  // namespace qn
