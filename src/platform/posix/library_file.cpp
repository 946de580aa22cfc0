#include "platform/posix/library_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qn::platform {

namespace {

constexpr std::size_t identSize = 16;
constexpr unsigned char elfClass32 = 1, elfClass64 = 2, littleEndian = 1;
constexpr std::uint32_t loadableSegment = 1;  // PT_LOAD

std::uint64_t readLittle(const std::string& bytes, std::uint64_t offset, unsigned width) {
    std::uint64_t value = 0;
    for (unsigned i = width; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

struct Layout {
    bool wide;
    std::uint64_t tableOffset, entrySize, entryCount;
};

std::optional<Layout> layoutOf(const std::string& head) {
    if (head.size() < identSize || head.compare(0, 4, "\x7f" "ELF") != 0) return std::nullopt;
    const auto elfClass = static_cast<unsigned char>(head[4]);
    if (static_cast<unsigned char>(head[5]) != littleEndian) return std::nullopt;
    if (elfClass != elfClass32 && elfClass != elfClass64) return std::nullopt;
    const bool wide = elfClass == elfClass64;
    if (head.size() < (wide ? 64u : 52u)) return Layout{wide, 0, 0, 0};
    return Layout{wide, readLittle(head, wide ? 32 : 28, wide ? 8 : 4), readLittle(head, wide ? 54 : 42, 2),
                  readLittle(head, wide ? 56 : 44, 2)};
}

}  // namespace

std::uint64_t elfHeadersLength(const std::string& head) {
    const auto layout = layoutOf(head);
    if (!layout) return 0;
    if (layout->entrySize == 0) return layout->wide ? 64 : 52;
    // Offsets near 2^64 would wrap; such a table is damaged anyway and reported as such.
    if (layout->tableOffset > (std::uint64_t{1} << 48)) return layout->wide ? 64 : 52;
    return std::max<std::uint64_t>(layout->wide ? 64 : 52,
                                   layout->tableOffset + layout->entrySize * layout->entryCount);
}

std::optional<std::string> elfLayoutProblem(const std::string& head, std::uint64_t fileSize) {
    const auto layout = layoutOf(head);
    if (!layout) return std::nullopt;
    const std::uint64_t headerSize = layout->wide ? 64 : 52;
    const std::uint64_t entryNeeded = layout->wide ? 56 : 32;
    if (fileSize < headerSize || head.size() < headerSize) return "the file ends inside its ELF header";
    if (layout->entryCount == 0) return std::nullopt;
    if (layout->entrySize < entryNeeded) return "its ELF program headers are damaged";
    const std::uint64_t tableEnd = elfHeadersLength(head);
    if (layout->tableOffset > (std::uint64_t{1} << 48) || tableEnd > fileSize || tableEnd > head.size()) {
        return "the file ends before its program headers (it is truncated)";
    }
    for (std::uint64_t i = 0; i < layout->entryCount; ++i) {
        const std::uint64_t entry = layout->tableOffset + i * layout->entrySize;
        if (readLittle(head, entry, 4) != loadableSegment) continue;
        const std::uint64_t offset = readLittle(head, entry + (layout->wide ? 8 : 4), layout->wide ? 8 : 4);
        const std::uint64_t length = readLittle(head, entry + (layout->wide ? 32 : 16), layout->wide ? 8 : 4);
        if (offset > fileSize || length > fileSize - offset) {
            return "the file has " + std::to_string(fileSize) + " bytes but its contents reach byte " +
                   std::to_string(offset + length) + " (it is truncated)";
        }
    }
    return std::nullopt;
}

std::optional<std::string> incompleteLibrary(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> problem;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const auto fileSize = static_cast<std::uint64_t>(info.st_size);
        auto readHead = [&](std::uint64_t length) {
            std::string bytes(static_cast<std::size_t>(std::min(length, fileSize)), '\0');
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t count = ::pread(fd, bytes.data() + done, bytes.size() - done,
                                              static_cast<off_t>(done));
                if (count < 0 && errno == EINTR) continue;
                if (count <= 0) break;
                done += static_cast<std::size_t>(count);
            }
            bytes.resize(done);
            return bytes;
        };
        std::string head = readHead(64);
        const std::uint64_t needed = elfHeadersLength(head);
        // A table past the file's end is reported without reading it.
        if (needed > head.size() && needed <= fileSize) head = readHead(needed);
        problem = elfLayoutProblem(head, fileSize);
    }
    ::close(fd);
    return problem;
}

}  // namespace qn::platform
