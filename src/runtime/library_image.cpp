#include "runtime/library_image.h"

namespace qn {

namespace {

std::uint32_t littleEndian(std::string_view bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::uint32_t bigEndian(std::string_view bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::optional<ImageMachine> peMachine(std::string_view header) {
    constexpr std::size_t newHeaderOffset = 0x3c;
    if (header.size() < newHeaderOffset + 4) return std::nullopt;
    const std::uint32_t peOffset = littleEndian(header, newHeaderOffset, 4);
    // The signature, the machine, and the optional header's magic that says PE32 or PE32+.
    constexpr std::size_t magicOffset = 24;
    if (peOffset > header.size() || header.size() - peOffset < magicOffset + 2) return std::nullopt;
    if (header.substr(peOffset, 4) != std::string_view("PE\0\0", 4)) return std::nullopt;
    const auto machine = static_cast<std::uint16_t>(littleEndian(header, peOffset + 4, 2));
    const std::uint32_t magic = littleEndian(header, peOffset + magicOffset, 2);
    if (magic != 0x10b && magic != 0x20b) return std::nullopt;
    return ImageMachine{ImageFormat::Pe, machine, magic == 0x20b ? 64 : 32};
}

std::optional<ImageMachine> elfMachine(std::string_view header) {
    constexpr std::size_t machineOffset = 18;
    if (header.size() < machineOffset + 2) return std::nullopt;
    const int elfClass = static_cast<unsigned char>(header[4]);
    const int encoding = static_cast<unsigned char>(header[5]);
    if ((elfClass != 1 && elfClass != 2) || (encoding != 1 && encoding != 2)) return std::nullopt;
    const std::uint32_t machine =
        encoding == 1 ? littleEndian(header, machineOffset, 2) : bigEndian(header, machineOffset, 2);
    return ImageMachine{ImageFormat::Elf, static_cast<std::uint16_t>(machine), elfClass == 2 ? 64 : 32};
}

}  // namespace

std::optional<ImageMachine> imageMachine(std::string_view header) {
    if (header.substr(0, 2) == "MZ") return peMachine(header);
    if (header.substr(0, 4) == "\x7f" "ELF") return elfMachine(header);
    return std::nullopt;
}

bool sameMachine(const ImageMachine& library, const ImageMachine& process) {
    return library.format == process.format && library.machine == process.machine &&
           library.bits == process.bits;
}

}  // namespace qn
