#pragma once
// The machine a library file or this executable was built for: a 64-bit process cannot load a
// 32-bit runtime library, nor the reverse.

#include <cstdint>

namespace qn {

enum class ImageFormat { Pe, Elf };

struct ImageMachine {
    ImageFormat format;
    std::uint16_t machine;  // IMAGE_FILE_MACHINE_* or EM_*
    int bits;               // 32 or 64
};

}  // namespace qn
