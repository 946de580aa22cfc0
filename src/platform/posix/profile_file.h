#pragma once
// The POSIX backend's profile files: read, decoded and parsed once per start while unchanged, and
// written whole or not at all.

#include <cstdint>
#include <string>

namespace qn::platform::posix {

/// How often a profile file was read from disk and parsed (the cache's misses) in this process.
std::uint64_t profileFileLoads();

/// Puts content into the file in place (for a folder that takes no new file): the space is
/// reserved first, so a full disk leaves the file as it was; false then.
bool rewriteInPlace(const std::string& path, const std::string& content);

}  // namespace qn::platform::posix
