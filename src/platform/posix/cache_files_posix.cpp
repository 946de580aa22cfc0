// POSIX backend of the startup cache's file operations.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/cache_files.h"
#include "platform/platform.h"

extern char** environ;

namespace qn::platform {

namespace {

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// The assembly's process, for the handler that passes a termination on to it.
volatile sig_atomic_t assemblyChild = 0;
volatile sig_atomic_t assemblyTerminated = 0;

void onTermination(int) {
    assemblyTerminated = 1;
    if (assemblyChild > 0) ::kill(static_cast<pid_t>(assemblyChild), SIGKILL);
}

/// Standard streams on the null device, every other descriptor closed but `keep`, which becomes 3.
void detachDescriptors(int keep) {
    if (::dup2(keep, 3) < 0) ::_exit(1);
    const int null = ::open("/dev/null", O_RDWR);  // never 3: that one is taken now
    for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
    if (::close_range(4, ~0U, 0) != 0) {
        rlimit limit{};
        const rlim_t last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY ? limit.rlim_cur : 65536;
        for (rlim_t fd = 4; fd < last; ++fd) ::close(static_cast<int>(fd));
    }
    ::fcntl(3, F_SETFD, FD_CLOEXEC);
}

/// Signals as a new program finds them: default handlers, nothing blocked.
void defaultSignals() {
    struct sigaction plain{};
    plain.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &plain, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

/// `text` at `to` (which has room); the end returned.
char* append(char* to, const char* text) {
    while (*text) *to++ = *text++;
    return to;
}

/// The assembly's monitor: waits for the launcher's end, runs the program, keeps or removes its
/// file. It runs in a child of a process with threads, so it only makes calls that are safe there.
[[noreturn]] void monitorAssembly(int launcherEnd, char* const* argv, const char* produced, const char* keptPrefix,
                                  const char* keptSuffix, char* kept, const char* const* removeAfter) {
    detachDescriptors(launcherEnd);
    ::setpriority(PRIO_PROCESS, 0, 19);
    defaultSignals();
    struct sigaction terminate{};
    terminate.sa_handler = onTermination;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &terminate, nullptr);
    char byte;
    while (::read(3, &byte, 1) < 0 && errno == EINTR) {
    }
    ::close(3);
    bool good = false;
    if (!assemblyTerminated) {
        const pid_t child = ::fork();
        if (child == 0) {
            struct sigaction plain{};
            plain.sa_handler = SIG_DFL;
            for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &plain, nullptr);
            ::execve(argv[0], argv, environ);
            ::_exit(127);
        }
        assemblyChild = child;
        if (assemblyTerminated && child > 0) ::kill(child, SIGKILL);
        int status = 0;
        while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        good = child > 0 && !assemblyTerminated && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    struct stat info;
    if (good && ::stat(produced, &info) == 0 && S_ISREG(info.st_mode)) {
        char digits[24];
        int count = 0;
        for (auto size = static_cast<std::uint64_t>(info.st_size); count == 0 || size > 0; size /= 10) {
            digits[count++] = static_cast<char>('0' + size % 10);
        }
        char* end = append(kept, keptPrefix);
        while (count > 0) *end++ = digits[--count];
        *append(end, keptSuffix) = '\0';
        good = ::rename(produced, kept) == 0;
    } else {
        good = false;
    }
    if (!good) ::unlink(produced);
    for (const char* const* file = removeAfter; *file; ++file) ::unlink(*file);
    ::_exit(good ? 0 : 1);
}

}  // namespace

std::optional<FileFacts> fileFacts(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    FileFacts facts;
    facts.size = static_cast<std::uint64_t>(info.st_size);
    facts.modified = nanoseconds(info.st_mtim);
    facts.isFolder = S_ISDIR(info.st_mode);
    return facts;
}

std::int64_t currentFileTime() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

std::string userCacheFolder() {
    // A relative XDG value is invalid by its own rules and is ignored.
    const auto cacheHome = environmentVariable("XDG_CACHE_HOME");
    if (cacheHome && !cacheHome->empty() && (*cacheHome)[0] == '/') return *cacheHome;
    const auto home = environmentVariable("HOME");
    if (!home || home->empty()) return {};
    return *home + "/.cache";
}

bool ensureFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    struct stat info;
    return errno == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool createNewFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool writeWholeFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    // A full disk may only show at close.
    const bool closed = ::close(fd) == 0;
    return closed && written == content.size();
}

std::string readFileStart(const std::string& path, std::size_t maxBytes) { return readFileAt(path, 0, maxBytes); }

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::optional<std::uint64_t> freeDiskSpace(const std::string& folder) {
    struct statvfs info;
    if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string readFileAt(const std::string& path, std::uint64_t offset, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string content(maxBytes, '\0');
    std::size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::pread(fd, &content[got], maxBytes - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    content.resize(got);
    return content;
}

bool startAssembly(const Assembly& assembly) {
    // Everything the monitor needs is made before the fork: after it, no allocation.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(assembly.program.c_str()));
    for (const std::string& argument : assembly.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<const char*> removeAfter;
    for (const std::string& file : assembly.removeAfter) removeAfter.push_back(file.c_str());
    removeAfter.push_back(nullptr);
    std::vector<char> kept(assembly.keptPrefix.size() + assembly.keptSuffix.size() + 24);

    // The monitor reads the end of this pipe's other side: it comes when this process ends.
    int launcherEnd[2];
    if (::pipe2(launcherEnd, O_CLOEXEC) != 0) return false;
    const pid_t first = ::fork();
    if (first == 0) {
        // A new session, so the terminal's signals and the shell's job control pass it by; the
        // middle process ends at once, so the monitor belongs to no one of ours.
        ::setsid();
        const pid_t monitor = ::fork();
        if (monitor != 0) ::_exit(monitor < 0 ? 1 : 0);
        ::close(launcherEnd[1]);
        monitorAssembly(launcherEnd[0], argv.data(), assembly.produced.c_str(), assembly.keptPrefix.c_str(),
                        assembly.keptSuffix.c_str(), kept.data(), removeAfter.data());
    }
    ::close(launcherEnd[0]);
    if (first < 0) {
        ::close(launcherEnd[1]);
        return false;
    }
    int status = 0;
    while (::waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    // launcherEnd[1] stays open until the process ends; programs it starts never inherit it.
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qn::platform
