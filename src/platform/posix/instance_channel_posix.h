#pragma once
// The parts of the POSIX single-instance channel that its files share. Everything lives in one
// folder that only this user can reach (the session's runtime folder, or a per-user folder under
// /tmp, both mode 0700 and owned by the user): the block as a small mapped file
// (instance_block_posix.cpp), the turn as a lock file (instance_turn_posix.cpp), and one datagram
// socket per receiving thread, named after the thread's id (instance_datagrams_posix.cpp). Other
// users' starts therefore never see, delay or answer ours, and each user has a first instance of
// their own. A process's exit code cannot be queried by a process that is not its parent, so a
// first instance tells every requester its exit code as it ends.

#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/instance_channel.h"

struct stat;

namespace qn::platform::channel {

// --- Names --------------------------------------------------------------------------------------

std::uint64_t nameHash(const std::string& text);
std::uint32_t ownThreadId();

struct UniqueFd {
    int fd = -1;
    UniqueFd() = default;
    explicit UniqueFd(int value) : fd(value) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd(other.fd) { other.fd = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd = other.fd;
            other.fd = -1;
        }
        return *this;
    }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    explicit operator bool() const { return fd >= 0; }
};

// --- The user's private folder (instance_folder_posix.cpp) --------------------------------------

/// The folder of this user's channel, chosen once per process; empty when there is none.
const std::string& channelFolder();
/// The folder's entry for a named object: the name hashed, then the suffix.
std::string entryPath(const std::string& name, const char* suffix);
std::string threadSocketPath(std::uint32_t threadId);
/// An entry of the folder is used only when it is this user's and nobody else's.
bool ownedPrivately(const struct stat& info);
/// Removes the sockets of threads that ended without their teardown.
void removeStaleSockets();

// --- Datagrams and the process-wide state (instance_datagrams_posix.cpp) ------------------------

enum class Kind : std::uint32_t { message = 1, quit = 2, acknowledgement = 3, exitNotice = 4 };

/// False when the receiving thread has no socket (any more): it ended, or its process did.
bool sendDatagram(std::uint32_t threadId, Kind kind, std::uint32_t number, std::uint32_t wParam,
                  bool wait, std::uint32_t lParam = 0);

// Never destroyed: exit handlers and late threads may still use it while the process ends.
struct ChannelState {
    std::mutex mutex;
    std::map<std::uint32_t, std::int32_t> exitNotices;  // process id -> exit code it announced
    bool exitHandlerSet = false;
    bool exiting = false;
    std::int32_t exitStatus = 0;
    // First instance: who asked, so that each learns the exit code; and the block it created.
    std::set<std::uint32_t> requesters;
    std::string createdBlock;
    dev_t createdDevice = 0;
    ino_t createdInode = 0;
    std::set<std::string> boundSockets;  // socket files of this process's threads
};

ChannelState& state();
/// Removes the named file only when it still is the one this process created.
void unlinkIfOwn(const std::string& path, dev_t device, ino_t inode);
/// Called with the state's lock held.
bool ensureExitHandler(ChannelState& channel);

struct ThreadQueue {
    UniqueFd socket;
    std::string path;
    std::deque<ThreadMessage> pending;
    bool acknowledged = false;

    ThreadQueue() = default;
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;
    ~ThreadQueue() { close(); }

    void close() {
        if (!socket) return;
        // The name goes first: while this thread lives, no other thread can have its id.
        {
            ChannelState& channel = state();
            std::lock_guard<std::mutex> lock(channel.mutex);
            if (channel.boundSockets.erase(path) != 0) ::unlink(path.c_str());
        }
        socket.reset();
    }
};

ThreadQueue& threadQueue();
/// Moves everything that has arrived into the pending list.
void drainQueue(ThreadQueue& queue);
/// The exit code the process announced, when its notice has arrived.
bool noticeFor(std::uint32_t processId, std::int32_t& exitCode);

// --- Processes (instance_turn_posix.cpp) --------------------------------------------------------

bool processAlive(pid_t pid);
/// A descriptor that tells the end of exactly this process; -1 when there is none.
int openPidFd(std::uint32_t processId);

}  // namespace qn::platform::channel
