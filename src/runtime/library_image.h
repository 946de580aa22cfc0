#pragma once
// The machine a library file was built for, read from its PE or ELF header without loading it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/image_machine.h"

namespace qn {

/// The bytes of a file's start that are enough to read its machine.
constexpr std::size_t imageHeaderSize = 4096;

/// The machine of a PE or ELF image from its first bytes; nothing when they are not a readable
/// header of either (such a file is not judged by its machine).
std::optional<ImageMachine> imageMachine(std::string_view header);

/// True when a library of `library` can be loaded into a process of `process`.
bool sameMachine(const ImageMachine& library, const ImageMachine& process);

}  // namespace qn
