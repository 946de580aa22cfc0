// Profile files of the POSIX backend. Windows caches a profile file between calls while it is
// unchanged; so does this reader: a start asks for some forty values, and reading a large file
// each time made the start slow.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/platform.h"
#include "platform/posix/profile_file.h"
#include "text/profile_format.h"
#include "trace/trace.h"

namespace qn::platform {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    /// Closes now; false when the close reports an error (a delayed write failure).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

/// What identifies one version of a file: a rename gives a new inode, a write a new time.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

FileStamp stampOf(const struct stat& info) {
    return FileStamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool readAll(int fd, std::string& bytes, off_t sizeHint) {
    bytes.clear();
    if (sizeHint > 0) bytes.reserve(static_cast<std::size_t>(sizeHint));
    char chunk[65536];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return false;
        if (count == 0) return true;
        bytes.append(chunk, static_cast<std::size_t>(count));
    }
}

enum class LoadResult { Loaded, Missing, Unreadable, Undecodable };

struct LoadedFile {
    LoadResult result = LoadResult::Missing;
    FileStamp stamp;
    profile::DecodedText text;
    std::shared_ptr<const profile::Document> document;
};

LoadedFile loadFile(const std::string& path, bool parse) {
    LoadedFile loaded;
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        loaded.result = errno == ENOENT || errno == ENOTDIR ? LoadResult::Missing : LoadResult::Unreadable;
        return loaded;
    }
    struct stat info;
    std::string bytes;
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || !readAll(fd.get(), bytes, info.st_size)) {
        loaded.result = LoadResult::Unreadable;
        return loaded;
    }
    loaded.stamp = stampOf(info);
    auto text = profile::decode(bytes);
    if (!text) {
        loaded.result = LoadResult::Undecodable;
        return loaded;
    }
    loaded.result = LoadResult::Loaded;
    loaded.text = std::move(*text);
    if (parse) loaded.document = std::make_shared<const profile::Document>(loaded.text.text);
    return loaded;
}

const char* describe(LoadResult result) {
    switch (result) {
        case LoadResult::Loaded: return "read";
        case LoadResult::Missing: return "missing";
        case LoadResult::Unreadable: return "cannot be read";
        case LoadResult::Undecodable: return "cannot be decoded";
    }
    return "";
}

struct CacheEntry {
    FileStamp stamp;
    LoadResult result;
    std::shared_ptr<const profile::Document> document;  // null unless the file was read
};

std::mutex cacheMutex;
std::map<std::string, CacheEntry>& cache() {
    static std::map<std::string, CacheEntry> entries;
    return entries;
}
std::uint64_t loads = 0;

/// The parsed file, or null with the reason it has none.
std::shared_ptr<const profile::Document> document(const std::string& path, LoadResult& result) {
    struct stat info;
    const bool present = ::stat(path.c_str(), &info) == 0;
    std::lock_guard<std::mutex> lock(cacheMutex);
    const auto cached = cache().find(path);
    if (present && cached != cache().end() && cached->second.stamp == stampOf(info)) {
        result = cached->second.result;
        return cached->second.document;
    }
    LoadedFile loaded = loadFile(path, true);
    ++loads;
    result = loaded.result;
    if (trace::enabled() && result != LoadResult::Loaded) {
        trace::line("profile", path + ": " + describe(result));
    }
    if (result == LoadResult::Missing) {
        cache().erase(path);
    } else {
        // The stamp is the opened file's own, so a file replaced meanwhile is read again next time.
        cache()[path] = CacheEntry{loaded.stamp, result, loaded.document};
    }
    return loaded.document;
}

void forget(const std::string& path) {
    std::lock_guard<std::mutex> lock(cacheMutex);
    cache().erase(path);
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool writeAllAt(int fd, const std::string& bytes, off_t offset) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t count = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                       offset + static_cast<off_t>(done));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

bool replaceThroughNewFile(const std::string& target, const std::string& content, bool exists,
                           mode_t existingMode, bool& folderRefused) {
    std::string temporary = target + ".XXXXXX";
    Descriptor fd(::mkstemp(temporary.data()));
    if (!fd) {
        folderRefused = true;
        return false;
    }
    // mkstemp's file is private; a changed file keeps its mode, a new one gets the usual one.
    const mode_t mode = exists ? existingMode : (0666 & ~currentUmask());
    bool written = ::fchmod(fd.get(), mode) == 0 && writeAllAt(fd.get(), content, 0) &&
                   ::fsync(fd.get()) == 0;
    written = fd.close() && written;
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

namespace posix {

std::uint64_t profileFileLoads() {
    std::lock_guard<std::mutex> lock(cacheMutex);
    return loads;
}

bool rewriteInPlace(const std::string& path, const std::string& content) {
    Descriptor fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    struct stat info;
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::string original;
    if (!readAll(fd.get(), original, info.st_size)) return false;
    if (!content.empty()) {
        const int reserved = ::posix_fallocate(fd.get(), 0, static_cast<off_t>(content.size()));
        if (reserved != 0) return false;  // nothing has changed yet
    }
    if (!writeAllAt(fd.get(), content, 0) ||
        ::ftruncate(fd.get(), static_cast<off_t>(content.size())) != 0 || ::fsync(fd.get()) != 0) {
        // The reserved space makes this rare; put the old bytes back, which fit where they were.
        writeAllAt(fd.get(), original, 0);
        if (::ftruncate(fd.get(), static_cast<off_t>(original.size())) != 0) {
            // Nothing more can be done; the caller reports the failed write.
        }
        return false;
    }
    return fd.close();
}

}  // namespace posix

std::uint32_t profileString(const std::string& section, const std::string& key, char* buffer,
                            std::uint32_t size, const std::string& file) {
    LoadResult result;
    const auto parsed = document(file, result);
    const std::string value = parsed ? parsed->lookup(section, key).value_or("") : std::string();
    return profile::copyToBuffer(value, buffer, size);
}

bool profileFileReadable(const std::string& file) {
    LoadResult result;
    document(file, result);
    return result == LoadResult::Loaded;
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
    // A line break in a name or value would write keys nobody asked for.
    for (const std::string* text : {&section, &key, &value}) {
        if (text->find_first_of("\r\n") != std::string::npos) return false;
    }
    std::string target = file;
    if (char* resolved = ::realpath(file.c_str(), nullptr)) {
        target = resolved;  // a link keeps pointing at the changed file
        std::free(resolved);
    }
    // The file may be the configuration file itself: a file that exists but cannot be read or
    // decoded must not be replaced by one holding only this key.
    LoadedFile loaded = loadFile(target, false);
    if (loaded.result != LoadResult::Loaded && loaded.result != LoadResult::Missing) {
        if (trace::enabled()) trace::line("profile", target + ": not written, " + describe(loaded.result));
        return false;
    }
    const bool exists = loaded.result == LoadResult::Loaded;
    const auto bytes = profile::encode(profile::update(loaded.text.text, section, key, value),
                                       loaded.text.encoding);
    if (!bytes) return false;
    forget(file);
    forget(target);

    struct stat info{};
    if (exists) ::stat(target.c_str(), &info);
    bool folderRefused = false;
    if (replaceThroughNewFile(target, *bytes, exists, info.st_mode & 07777, folderRefused)) return true;
    // A folder that takes no new file may still hold a writable file: change that in place.
    if (folderRefused && exists) return posix::rewriteInPlace(target, *bytes);
    return false;
}

}  // namespace qn::platform
