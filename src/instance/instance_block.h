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

/// Written by a first instance of this version after its block; a launcher of before neither
/// writes nor reads it, so it reads zero in a block such a launcher made.
inline constexpr std::uint32_t extensionMagic = 0x32494E51;  // "QNI2"

struct InstanceExtension {
    std::uint32_t magic;          // extensionMagic: the first instance takes every kind of request
    std::uint32_t startTimeLow;   // the first process's start, which tells it from a later
    std::uint32_t startTimeHigh;  // process given the same id
    std::uint32_t requestId;      // of the request now in the block; 0 when none or not ours
    std::uint32_t areaCheck;      // hash of the argument area as that request left it
    std::uint32_t listSize;       // 0: the list is in the area; else the size of the argument file
};

struct ExtendedInstanceBlock {
    InstanceBlock block;
    InstanceExtension extension;
};

static_assert(offsetof(ExtendedInstanceBlock, extension) == sizeof(InstanceBlock), "after the block");
inline constexpr std::size_t instanceBlockSize = sizeof(ExtendedInstanceBlock);
static_assert(instanceBlockSize == 1076, "the extended block is 1076 bytes");

/// True when every argument with its NUL, plus the closing NUL, fits in the argument area.
bool argumentsFit(const std::vector<std::string>& arguments);
/// Zeroes the area and packs the arguments; false (area untouched) when they do not fit.
bool packArguments(const std::vector<std::string>& arguments, unsigned char (&area)[argumentAreaSize]);
/// Reads the list back: positions 0 to 1038 are scanned, a NUL ends an argument, a second NUL
/// right after ends the list, and an argument still open when the scan ends is dropped.
std::vector<std::string> unpackArguments(const unsigned char (&area)[argumentAreaSize]);

/// True when the area carries the list so that any launcher reads it back unchanged: it fits,
/// and no argument after the first is empty (an empty one there ends the list for the reader).
bool fitsArea(const std::vector<std::string>& arguments);
/// True when bytes follow the list's closing NULs: an older launcher packed a list with an empty
/// argument in it, which the reading rule cuts short.
bool areaListWasCut(const unsigned char (&area)[argumentAreaSize]);
/// A hash of the whole area, which ties an extension's request to the area's content.
std::uint32_t areaCheck(const unsigned char (&area)[argumentAreaSize]);

/// The argument file of a list the area cannot carry: a header (magic, request id, count), then
/// each argument as a 32-bit length and its bytes.
std::vector<unsigned char> encodeArgumentFile(std::uint32_t requestId, const std::vector<std::string>& arguments);
/// False when the bytes are not a whole argument file of this request.
bool decodeArgumentFile(const unsigned char* bytes, std::size_t size, std::uint32_t requestId,
                        std::vector<std::string>& arguments);

/// The executable's path with every path separator replaced by an underscore: the name of the
/// block, the message and (with a suffix) the event.
std::string instanceName(const std::string& executablePath, const PlatformConventions& conventions);

}  // namespace qn
