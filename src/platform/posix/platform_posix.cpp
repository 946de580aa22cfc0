// POSIX backend of the platform seam.

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <locale.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/library_file.h"
#include "platform/posix/process_arguments.h"
#include "platform/posix/window_helper.h"
#include "text/percent_references.h"

namespace qn::platform {

namespace {

std::string& lastError() {
    thread_local std::string text;
    return text;
}

std::vector<std::string>& processArguments() {
    static std::vector<std::string> words;
    return words;
}

// A folder of a thousand jars is searched at every start; the system's matcher converts each
// name to wide characters first, which cost more than the rest of the launcher's work. Patterns
// of ASCII, '*' and '?' are matched here on ASCII names, where a byte is a character in every
// locale; everything else still goes to fnmatch.
bool isAscii(const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    }
    return true;
}

// The user's character classes matter to the launcher only where the system's matcher compares
// names beyond ASCII; the runtime sets the process's locale itself when it starts. Loading a locale
// reads its files and the alias table, more work than the rest of a start, so it is loaded the
// first time a match needs it, and used by the matching thread alone.
std::atomic<bool> systemLocaleWanted{false};

/// The locale the launcher was asked to follow, loaded once; none while it was not asked to.
locale_t wantedLocale() {
    if (!systemLocaleWanted) return static_cast<locale_t>(0);
    static const locale_t loaded = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    return loaded;
}

/// The system's matcher in the locale the launcher follows (the process's own without one).
bool matchesInUserLocale(const char* pattern, const char* name) {
    const locale_t wanted = wantedLocale();
    const locale_t saved = wanted ? ::uselocale(wanted) : static_cast<locale_t>(0);
    const bool matches = ::fnmatch(pattern, name, 0) == 0;
    if (wanted) ::uselocale(saved);
    return matches;
}

/// A pattern of ASCII text, '*' and '?', matched byte by byte; anything else is not plain.
class PlainPattern {
public:
    explicit PlainPattern(const std::string& pattern) : pattern_(pattern) {
        plain_ = isAscii(pattern.data(), pattern.size()) && pattern.find_first_of("[\\") == std::string::npos;
        // The usual "*.jar" or "lib-*": one star between literal texts, each compared in one step.
        star_ = pattern.find('*');
        oneStar_ = star_ != std::string::npos && pattern.find('*', star_ + 1) == std::string::npos &&
                   pattern.find('?') == std::string::npos;
    }

    bool isPlain() const { return plain_; }

    bool matches(const char* name, std::size_t length) const {
        if (oneStar_) {
            const std::size_t suffix = pattern_.size() - star_ - 1;
            return length >= star_ + suffix && std::memcmp(name, pattern_.data(), star_) == 0 &&
                   std::memcmp(name + length - suffix, pattern_.data() + star_ + 1, suffix) == 0;
        }
        std::size_t p = 0, n = 0;
        std::size_t starP = std::string::npos, starN = 0;  // the last '*' and where it resumes
        while (n < length) {
            if (p < pattern_.size() && pattern_[p] == '*') {
                starP = p++;
                starN = n;
            } else if (p < pattern_.size() && (pattern_[p] == '?' || pattern_[p] == name[n])) {
                ++p;
                ++n;
            } else if (starP != std::string::npos) {
                p = starP + 1;
                n = ++starN;
            } else {
                return false;
            }
        }
        while (p < pattern_.size() && pattern_[p] == '*') ++p;
        return p == pattern_.size();
    }

private:
    const std::string& pattern_;
    bool plain_ = false;
    bool oneStar_ = false;
    std::size_t star_ = std::string::npos;
};

/// Names found in a folder, gathered in one buffer and put in byte order (as std::string
/// compares) by their first eight bytes, so that most comparisons in a large folder are one
/// integer comparison and no name moves until the list is made.
class NameList {
public:
    void add(const char* name, std::size_t length) {
        unsigned char bytes[8] = {};
        std::memcpy(bytes, name, length < 8 ? length : 8);
        std::uint64_t head = 0;
        for (unsigned char byte : bytes) head = (head << 8) | byte;
        entries_.push_back({head, text_.size(), length});
        text_.append(name, length);
    }

    std::vector<std::string> sorted() {
        const char* text = text_.data();
        std::sort(entries_.begin(), entries_.end(), [text](const Entry& a, const Entry& b) {
            if (a.head != b.head) return a.head < b.head;
            return std::string_view(text + a.offset, a.length) < std::string_view(text + b.offset, b.length);
        });
        std::vector<std::string> names;
        names.reserve(entries_.size());
        for (const Entry& entry : entries_) names.emplace_back(text + entry.offset, entry.length);
        return names;
    }

private:
    struct Entry {
        std::uint64_t head;
        std::size_t offset;
        std::size_t length;
    };
    std::string text_;
    std::vector<Entry> entries_;
};

}  // namespace

void setProcessArguments(int argc, char** argv) {
    processArguments().assign(argv + (argc > 0 ? 1 : 0), argv + argc);
}

const PlatformConventions& conventions() { return posixConventions(); }

bool moduleFileName(std::string& path, std::uint32_t& errorCode) {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length < 0) {
        errorCode = static_cast<std::uint32_t>(errno);
        lastError() = std::strerror(errno);
        return false;
    }
    path.assign(buffer, static_cast<std::size_t>(length));
    return true;
}

void useSystemLocale() { systemLocaleWanted = true; }

CommandLine commandLine() { return CommandLine{false, {}, processArguments()}; }

bool isNtFamily() { return true; }

std::size_t nextCharacter(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) return text.size();
    // UTF-8: skip the continuation bytes of the character at pos.
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
    return pos;
}

bool isSpaceCharacter(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) return false;
    const char c = text[pos];
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<std::string> environmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

bool setEnvironmentVariable(const std::string& name, const std::string& value) {
    return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool expandEnvironmentStrings(const std::string& text, std::string& expanded) {
    expanded = expandPercentReferences(text, environmentVariable);
    return true;
}

bool pathExists(const std::string& path) {
    struct stat info;
    if (path.find_first_of("*?") != std::string::npos) return !findFiles(path).empty();
    return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> findFiles(const std::string& pattern) {
    const std::size_t slash = pattern.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    const std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    std::vector<std::string> names;
    if (namePattern.find_first_of("*?[") == std::string::npos) {
        struct stat info;
        if (::stat(pattern.c_str(), &info) == 0) names.push_back(namePattern);
        return names;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    const PlainPattern plain(namePattern);
    NameList found;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        const std::size_t length = std::strlen(name);
        const bool matches = plain.isPlain() && isAscii(name, length)
                                 ? plain.matches(name, length)
                                 : matchesInUserLocale(namePattern.c_str(), name);
        if (matches) found.add(name, length);
    }
    ::closedir(dir);
    // readdir's order depends on the file system's hashing; a sorted list keeps starts repeatable.
    return found.sorted();
}

void createDirectory(const std::string& path) { ::mkdir(path.c_str(), 0755); }

std::optional<std::string> readFileHead(const std::string& path, std::size_t size) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;
    std::string bytes(size, '\0');
    std::size_t done = 0;
    bool failed = false;
    while (done < size) {
        const ssize_t count = ::read(descriptor, bytes.data() + done, size - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) failed = true;
        if (count <= 0) break;
        done += static_cast<std::size_t>(count);
    }
    ::close(descriptor);
    if (failed) return std::nullopt;
    bytes.resize(done);
    return bytes;
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::optional<std::string> productVersion(const std::string&) { return std::nullopt; }

ImageMachine ownImageMachine() {
#if defined(__x86_64__)
    return {ImageFormat::Elf, 62, 64};
#elif defined(__aarch64__)
    return {ImageFormat::Elf, 183, 64};
#elif defined(__i386__)
    return {ImageFormat::Elf, 3, 32};
#else
#error "the machine of this build is not known"
#endif
}

void setCurrentDirectory(const std::string& path) {
    if (::chdir(path.c_str()) != 0) {
        // Ignored by design: the launcher goes on in the folder it was started in.
    }
}

std::string fullPath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::vector<char> buffer(PATH_MAX);
    if (!::getcwd(buffer.data(), buffer.size())) return path;
    std::string folder(buffer.data());
    if (folder.back() != '/') folder += '/';
    return folder + path;
}

bool sameFile(const std::string& first, const std::string& second) {
    struct stat a;
    struct stat b;
    if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::optional<std::string> loadString(int id) {
    // A constant table: a message is looked up once or twice, not worth building a map for.
    struct Entry {
        int id;
        const char* text;
    };
    static constexpr Entry table[] = {
#define QN_STRING(id, text) {id, text},
#include "res/string_table.inc"
#undef QN_STRING
    };
    for (const Entry& entry : table) {
        if (entry.id == id) return std::string(entry.text);
    }
    return std::nullopt;
}

namespace {
std::string& applicationName() {
    static std::string name;
    return name;
}
}  // namespace

void setApplicationName(const std::string& name) { applicationName() = name; }

void showErrorBox(WindowHandle, const std::string& text) {
    // Standard error keeps the text also when a window shows it: it may be a log someone reads.
    std::fputs(text.c_str(), stderr);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
    std::fflush(stderr);
    if (windowsWanted()) showErrorWindow(applicationName(), text);
}

void* loadLibrary(const std::string& path, std::uint32_t& errorCode) {
    // The loader maps the file as its headers describe it; a file cut short (an interrupted
    // update) ends the process with SIGBUS inside dlopen, so it is refused before.
    if (auto problem = incompleteLibrary(path)) {
        errorCode = 0;
        lastError() = path + ": " + *problem;
        return nullptr;
    }
    ::dlerror();
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!library) {
        // dlopen sets no errno; its own text is the reason.
        errorCode = 0;
        const char* reason = ::dlerror();
        lastError() = reason ? reason : "the library cannot be loaded";
    }
    return library;
}

// The runtime library finds what it needs through its own run path; the loader never searches the
// current folder unless LD_LIBRARY_PATH asks for it.
void* loadRuntimeLibrary(const std::string& path, const std::string&, std::uint32_t& errorCode) {
    return loadLibrary(path, errorCode);
}

void passOnRuntimeText(void* stream, const std::string& text) {
    // The runtime and the launcher share the C library: the runtime's FILE* is ours to use.
    std::FILE* file = stream ? static_cast<std::FILE*>(stream) : stderr;
    std::fwrite(text.data(), 1, text.size(), file);
}

void* librarySymbol(void* library, const char* name, std::uint32_t& errorCode) {
    ::dlerror();
    void* symbol = ::dlsym(library, name);
    if (!symbol) {
        errorCode = 0;
        const char* reason = ::dlerror();
        lastError() = reason ? reason : std::string(name) + " is null";
    }
    return symbol;
}

std::string lastErrorText() { return lastError(); }

// What the running thread touches. It shares it with the Thread handle, so closing the handle
// while the thread runs (a worker whose handle is not kept) frees nothing the thread still needs.
struct ThreadState {
    ThreadBody body = nullptr;
    void* parameter = nullptr;
    std::atomic<std::uint32_t> exitCode{0};
    std::atomic<bool> ended{false};
};

class Thread {
public:
    pthread_t id{};
    bool joined = false;
    std::uint32_t systemId = 0;
    std::shared_ptr<ThreadState> state = std::make_shared<ThreadState>();
};

void ThreadDeleter::operator()(Thread* thread) const {
    if (!thread->joined) ::pthread_detach(thread->id);
    delete thread;
}

namespace {

void* threadStart(void* raw) {
    const std::shared_ptr<ThreadState> state = *static_cast<std::shared_ptr<ThreadState>*>(raw);
    delete static_cast<std::shared_ptr<ThreadState>*>(raw);
    state->exitCode.store(state->body(state->parameter));
    state->ended.store(true, std::memory_order_release);
    return nullptr;
}

}  // namespace

ThreadPtr startThread(std::uint32_t stackSize, ThreadBody body, void* parameter) {
    ThreadPtr thread(new Thread);
    thread->state->body = body;
    thread->state->parameter = parameter;
    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    if (stackSize > 0 && ::pthread_attr_setstacksize(&attributes, stackSize) != 0) {
        ::pthread_attr_destroy(&attributes);
        return nullptr;
    }
    static std::atomic<std::uint32_t> lastId{0};
    thread->systemId = ++lastId;
    auto* shared = new std::shared_ptr<ThreadState>(thread->state);
    const int result = ::pthread_create(&thread->id, &attributes, threadStart, shared);
    ::pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete shared;
        thread->joined = true;  // nothing to detach
        return nullptr;
    }
    return thread;
}

std::uint32_t joinThread(Thread& thread) {
    if (!thread.joined) {
        ::pthread_join(thread.id, nullptr);
        thread.joined = true;
    }
    return thread.state->exitCode.load();
}

std::uint32_t threadId(const Thread& thread) {
    // pthread_t is opaque; a per-process counter gives each started thread a distinct id.
    return thread.systemId;
}

bool threadIsActive(Thread& thread) { return !thread.state->ended.load(std::memory_order_acquire); }

void sleepForever() {
    for (;;) ::pause();
}

MemoryStatus memoryStatus() {
    MemoryStatus status{};
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) {
        status.totalPhysical = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
    }
    // The address space a process may still use: its limit, or the x86-64 user half (128 TiB).
    std::uint64_t limit = std::uint64_t{1} << 47;
    struct rlimit addressSpace;
    if (::getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY) {
        limit = addressSpace.rlim_cur;
    }
    std::uint64_t used = 0;
    std::ifstream statm("/proc/self/statm");
    if (statm >> used) used *= static_cast<std::uint64_t>(pageSize > 0 ? pageSize : 4096);
    status.availableVirtual = used < limit ? limit - used : 0;
    return status;
}

}  // namespace qn::platform
