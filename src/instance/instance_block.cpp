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

bool fitsArea(const std::vector<std::string>& arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i].empty()) return false;
    }
    return argumentsFit(arguments);
}

bool areaListWasCut(const unsigned char (&area)[argumentAreaSize]) {
    std::size_t end = 0;
    while (end + 1 < argumentAreaSize && !(area[end] == 0 && area[end + 1] == 0)) ++end;
    for (std::size_t at = end + 2; at < argumentAreaSize; ++at) {
        if (area[at] != 0) return true;
    }
    return false;
}

std::uint32_t areaCheck(const unsigned char (&area)[argumentAreaSize]) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const unsigned char byte : area) {
        hash ^= byte;
        hash *= 16777619u;
    }
    return hash;
}

namespace {

constexpr std::uint32_t argumentFileMagic = 0x41494E51;  // "QNIA"

void putNumber(std::vector<unsigned char>& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(value >> shift));
}

bool takeNumber(const unsigned char* bytes, std::size_t size, std::size_t& at, std::uint32_t& value) {
    if (size - at < 4) return false;
    value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    at += 4;
    return true;
}

}  // namespace

std::vector<unsigned char> encodeArgumentFile(std::uint32_t requestId, const std::vector<std::string>& arguments) {
    std::vector<unsigned char> bytes;
    putNumber(bytes, argumentFileMagic);
    putNumber(bytes, requestId);
    putNumber(bytes, static_cast<std::uint32_t>(arguments.size()));
    for (const std::string& argument : arguments) {
        putNumber(bytes, static_cast<std::uint32_t>(argument.size()));
        bytes.insert(bytes.end(), argument.begin(), argument.end());
    }
    return bytes;
}

bool decodeArgumentFile(const unsigned char* bytes, std::size_t size, std::uint32_t requestId,
                        std::vector<std::string>& arguments) {
    std::size_t at = 0;
    std::uint32_t magic = 0, id = 0, count = 0;
    if (!takeNumber(bytes, size, at, magic) || magic != argumentFileMagic || !takeNumber(bytes, size, at, id) ||
        id != requestId || !takeNumber(bytes, size, at, count)) {
        return false;
    }
    std::vector<std::string> read;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t length = 0;
        if (!takeNumber(bytes, size, at, length) || size - at < length) return false;
        read.emplace_back(reinterpret_cast<const char*>(bytes + at), length);
        at += length;
    }
    if (at != size) return false;
    arguments = std::move(read);
    return true;
}

std::string instanceName(const std::string& executablePath, const PlatformConventions& conventions) {
    std::string name = executablePath;
    std::replace(name.begin(), name.end(), conventions.pathSeparator, '_');
    return name;
}

}  // namespace qn
