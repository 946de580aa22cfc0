#pragma once
// A shared library's file checked before the loader maps it.

#include <cstdint>
#include <optional>
#include <string>

namespace qn::platform {

/// How many bytes from the start of an ELF file hold its header and program headers, judged from
/// its first 64 bytes; 0 for a file that is not little-endian ELF (the loader judges those).
std::uint64_t elfHeadersLength(const std::string& head);
/// Why an ELF file of fileSize bytes, whose first bytes are `head` (at least elfHeadersLength of
/// them, or the whole file), cannot be mapped as its headers describe; nothing when it can.
std::optional<std::string> elfLayoutProblem(const std::string& head, std::uint64_t fileSize);
/// elfLayoutProblem for the file at path; nothing when it cannot be opened (the loader says why).
std::optional<std::string> incompleteLibrary(const std::string& path);

}  // namespace qn::platform
