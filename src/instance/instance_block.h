#pragma once
// The shared block through which a first instance publishes how to reach it and a later instance
// leaves its arguments. Its layout is a format between processes, also of other versions of the
// launcher: never reorder or resize it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "paths/conventions.h"

namespace qn {

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the instance block's numbers are little-endian; this build would read them wrongly"
#endif

inline constexpr std::size_t argumentAreaSize = 1040;

struct InstanceBlock {
    std::uint32_t listenerThreadId;  // written by the first instance's thread-creation call
    std::uint32_t firstProcessId;
    std::uint32_t requestMessage;    // request and reply
    unsigned char argumentArea[argumentAreaSize];
};

static_assert(sizeof(InstanceBlock) == 1052, "the block is 1052 bytes");
static_assert(offsetof(InstanceBlock, listenerThreadId) == 0, "layout");
static_assert(offsetof(InstanceBlock, firstProcessId) == 4, "layout");
static_assert(offsetof(InstanceBlock, requestMessage) == 8, "layout");
static_assert(offsetof(InstanceBlock, argumentArea) == 12, "layout");

/// True when every argument with its NUL, plus the closing NUL, fits in the argument area.
bool argumentsFit(const std::vector<std::string>& arguments);
/// Zeroes the area and packs the arguments; false (area untouched) when they do not fit.
bool packArguments(const std::vector<std::string>& arguments, unsigned char (&area)[argumentAreaSize]);
/// Reads the list back: positions 0 to 1038 are scanned, a NUL ends an argument, a second NUL
/// right after ends the list, and an argument still open when the scan ends is dropped.
std::vector<std::string> unpackArguments(const unsigned char (&area)[argumentAreaSize]);

/// The executable's path with every path separator replaced by an underscore: the name of the
/// block, the message and (with a suffix) the event.
std::string instanceName(const std::string& executablePath, const PlatformConventions& conventions);

}  // namespace qn
