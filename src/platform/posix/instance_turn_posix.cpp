// The single-instance channel's turn, a lock file of the private folder, and the first process.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/posix/instance_channel_posix.h"
#include "trace/trace.h"

namespace qn::platform {

namespace channel {

bool processAlive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

namespace {

// The block and the messages carry 32 bits; a process id is a positive pid_t.
bool isProcessId(std::uint32_t processId) {
    return processId != 0 && processId <= static_cast<std::uint32_t>(INT_MAX);
}

}  // namespace

int openPidFd(std::uint32_t processId) {
    if (!isProcessId(processId)) return -1;
    return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0));
}

namespace {

std::string executableOf(const std::string& procLink) {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(procLink.c_str(), buffer, sizeof buffer - 1);
    if (length < 0) return {};
    return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace

}  // namespace channel

using namespace channel;

// --- The turn: a lock on a file of the private folder, which the kernel frees when its holder dies

class InstanceTurn {
public:
    UniqueFd file;
};

void InstanceTurnDeleter::operator()(InstanceTurn* turn) const { delete turn; }

namespace {

UniqueFd openLockFile(const std::string& path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        struct stat info;
        if (file && ::fstat(file.fd, &info) == 0 && ownedPrivately(info)) return file;
        if (!file && errno != ELOOP) return UniqueFd();
        // Not this user's alone: a lock others can hold is no lock. Replace it.
        if (trace::enabled()) trace::line("instance", "refused the lock file " + path + "; making a fresh one");
        ::unlink(path.c_str());
    }
    return UniqueFd();
}

}  // namespace

InstanceTurnPtr acquireInstanceTurn(const std::string& name, std::uint32_t timeoutMs) {
    if (channelFolder().empty()) return nullptr;
    UniqueFd file = openLockFile(entryPath(name, ".lock"));
    if (!file) return nullptr;
    if (timeoutMs == waitWithoutLimit) {
        int result;
        do {
            result = ::flock(file.fd, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        if (result != 0) return nullptr;
    } else {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::uint32_t pauseMs = 1;
        while (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) return nullptr;
            if (std::chrono::steady_clock::now() >= deadline) return nullptr;
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            pauseMs = std::min<std::uint32_t>(pauseMs * 2, 16);
        }
    }
    InstanceTurnPtr turn(new InstanceTurn);
    turn->file = std::move(file);
    return turn;
}

// --- The first process --------------------------------------------------------------------------

class Process {
public:
    std::uint32_t processId = 0;
    UniqueFd pidFd;  // tells the end of exactly this process, even if its id is reused later
    bool ended = false;  // known to have ended when it was opened
};

void ProcessDeleter::operator()(Process* process) const { delete process; }

namespace {

bool hasEnded(Process& process) {
    if (process.ended) return true;
    if (process.pidFd) {
        pollfd ended{process.pidFd.fd, POLLIN, 0};
        return ::poll(&ended, 1, 0) > 0;
    }
    return !processAlive(static_cast<pid_t>(process.processId));
}

}  // namespace

std::uint64_t processStartTime(std::uint32_t processId) {
    if (!isProcessId(processId)) return 0;
    const UniqueFd stat(::open(("/proc/" + std::to_string(processId) + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
    if (!stat) return 0;
    char buffer[1024];
    const ssize_t length = ::read(stat.fd, buffer, sizeof buffer - 1);
    if (length <= 0) return 0;
    buffer[length] = '\0';
    // The command name may hold anything, spaces and parentheses too: fields count from the last
    // ')'. The start time, in clock ticks since boot, is the 22nd field, the 20th after it.
    const char* field = std::strrchr(buffer, ')');
    for (int skipped = 0; field && skipped < 20; ++skipped) field = std::strchr(field + 1, ' ');
    return field ? std::strtoull(field + 1, nullptr, 10) : 0;
}

ProcessPtr openProcess(std::uint32_t processId, std::uint64_t startTime) {
    if (!isProcessId(processId)) return nullptr;
    ProcessPtr process(new Process);
    process->processId = processId;
    process->pidFd = UniqueFd(openPidFd(processId));
    const bool unsupported = !process->pidFd && errno == ENOSYS;
    // Opened after the first process ended and its id went to another: that one is not it.
    const bool another = startTime != 0 && processStartTime(processId) != startTime;
    if (process->pidFd && !another) return process;
    std::int32_t exitCode = 0;
    // Gone already: only an exit notice that came before still says how it ended.
    drainQueue(threadQueue());
    if (noticeFor(processId, exitCode)) {
        process->pidFd.reset();
        process->ended = true;
        return process;
    }
    if (unsupported && !another && processAlive(static_cast<pid_t>(processId))) return process;
    return nullptr;
}

void waitForMessageOrEnd(Process& process, std::uint32_t timeoutMs) {
    ThreadQueue& queue = threadQueue();
    if (!queue.pending.empty()) return;
    // poll passes over a missing descriptor (-1); with neither it only waits out the time.
    pollfd ready[2] = {{queue.socket.fd, POLLIN, 0}, {process.pidFd.fd, POLLIN, 0}};
    // Without a pidfd the end is seen only by looking: often, then.
    const int limit = static_cast<int>(std::min<std::uint32_t>(timeoutMs, process.pidFd ? INT_MAX : 50));
    while (::poll(ready, 2, limit) < 0 && errno == EINTR) {
    }
}

bool processExitCode(Process& process, std::uint32_t& exitCode) {
    std::int32_t announced = 0;
    if (noticeFor(process.processId, announced)) {
        exitCode = static_cast<std::uint32_t>(announced);
        return true;
    }
    if (!hasEnded(process)) {
        exitCode = stillActive;
        return true;
    }
    // The notice leaves before the process ends, so it is here by now if it was sent at all.
    drainQueue(threadQueue());
    if (noticeFor(process.processId, announced)) {
        exitCode = static_cast<std::uint32_t>(announced);
        return true;
    }
    return false;
}

bool isInstanceProcessRunning(std::uint32_t processId) {
    if (!isProcessId(processId)) return false;
    const std::string proc = "/proc/" + std::to_string(processId);
    struct stat info;
    // A reused id now belongs to another program: a kernel thread (no executable), another
    // user's process, or this user's other programs. None of them is a first instance.
    if (::stat(proc.c_str(), &info) != 0 || info.st_uid != ::geteuid()) return false;
    const std::string theirs = executableOf(proc + "/exe");
    return !theirs.empty() && theirs == executableOf("/proc/self/exe");
}

void sleepMilliseconds(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace qn::platform
