// POSIX backend of the single-instance channel. Everything lives in one folder that only this user
// can reach (the session's runtime folder, or a per-user folder under /tmp, both mode 0700 and
// owned by the user): the block as a small mapped file, the turn as a lock file, and one datagram
// socket per receiving thread, named after the thread's id. Other users' starts therefore never
// see, delay or answer ours, and each user has a first instance of their own. A process's exit
// code cannot be queried by a process that is not its parent, so a first instance tells every
// requester its exit code as it ends.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/instance_channel.h"
#include "trace/trace.h"

namespace qn::platform {

namespace {

// --- Names --------------------------------------------------------------------------------------

std::uint64_t nameHash(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string hexHash(const std::string& text) {
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(nameHash(text)));
    return buffer;
}

std::uint32_t ownThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

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

// --- The user's private folder ------------------------------------------------------------------

// The longest entry of the folder is a thread's socket; its path must fit a socket address.
constexpr std::size_t longestEntry = sizeof "/t4294967295";

const char* folderFault(const struct stat& info) {
    if (!S_ISDIR(info.st_mode)) return "not a folder";
    if (info.st_uid != ::geteuid()) return "owned by another user";
    if ((info.st_mode & 077) != 0) return "open to other users";
    return nullptr;
}

bool isPrivateFolder(const std::string& path) {
    struct stat info;
    const char* fault = ::lstat(path.c_str(), &info) != 0 ? "not there" : folderFault(info);
    if (fault && trace::enabled()) trace::line("instance", "passed over folder " + path + ": " + fault);
    return fault == nullptr;
}

bool makePrivateFolder(const std::string& path) {
    if (path.size() + longestEntry > sizeof(sockaddr_un::sun_path)) return false;
    // A folder someone else made first under this name fails the checks and is passed over.
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return isPrivateFolder(path);
}

std::string chooseFolder() {
    const std::string uid = std::to_string(::geteuid());
    // The session's runtime folder, when it is really this user's (sudo may keep another user's).
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && isPrivateFolder(runtime)) {
        const std::string folder = std::string(runtime) + "/qnlauncher";
        if (makePrivateFolder(folder)) return folder;
    }
    const std::string userRuntime = "/run/user/" + uid;
    if ((!runtime || userRuntime != runtime) && ::access(userRuntime.c_str(), F_OK) == 0 &&
        isPrivateFolder(userRuntime)) {
        const std::string folder = userRuntime + "/qnlauncher";
        if (makePrivateFolder(folder)) return folder;
    }
    // Anyone can make a folder under /tmp first; a few names in a fixed order keep such a squatter
    // from more than pushing us on, and every start of this user walks the same order.
    const std::string shared = "/tmp/qnlauncher-" + uid;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::string folder = attempt == 0 ? shared : shared + "." + std::to_string(attempt);
        if (makePrivateFolder(folder)) return folder;
    }
    return {};
}

// Chosen once per process: every thread of it must meet the others in the same place.
const std::string& channelFolder() {
    static const std::string* const folder = [] {
        auto* chosen = new std::string(chooseFolder());
        if (trace::enabled()) {
            trace::line("instance", chosen->empty() ? "no private folder for the channel"
                                                    : "channel folder " + *chosen);
        }
        return chosen;
    }();
    return *folder;
}

std::string entryPath(const std::string& name, const char* suffix) {
    return channelFolder() + "/" + hexHash(name) + suffix;
}

std::string threadSocketPath(std::uint32_t threadId) {
    return channelFolder() + "/t" + std::to_string(threadId);
}

// An entry of the folder is used only when it is this user's and nobody else's.
bool ownedPrivately(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0 &&
           info.st_nlink == 1;
}

bool threadExists(std::uint32_t threadId) {
    struct stat info;
    return ::stat(("/proc/" + std::to_string(threadId)).c_str(), &info) == 0;
}

// Sockets of threads that ended without their teardown (a killed process) stay as files; a thread
// that gets the same id later replaces its own, the rest go when a stale block is taken over.
void removeStaleSockets() {
    const std::string& folder = channelFolder();
    DIR* const listing = ::opendir(folder.c_str());
    if (!listing) return;
    while (const dirent* entry = ::readdir(listing)) {
        const char* name = entry->d_name;
        if (name[0] != 't' || name[1] == '\0' || std::strspn(name + 1, "0123456789") != std::strlen(name + 1)) {
            continue;
        }
        const unsigned long threadId = std::strtoul(name + 1, nullptr, 10);
        if (threadId == 0 || threadId > UINT32_MAX) continue;
        if (!threadExists(static_cast<std::uint32_t>(threadId))) ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(listing);
}

// --- Datagrams ----------------------------------------------------------------------------------

constexpr std::uint32_t datagramMagic = 0x514E4C31;
enum class Kind : std::uint32_t { message = 1, quit = 2, acknowledgement = 3, exitNotice = 4 };

struct Datagram {
    std::uint32_t magic;
    Kind kind;
    std::uint32_t number;
    std::uint32_t wParam;  // the exit code in an exit notice
};

socklen_t socketAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof address.sun_path - 1));
    return static_cast<socklen_t>(sizeof address);
}

// False when the receiving thread has no socket (any more): it ended, or its process did.
bool sendDatagram(std::uint32_t threadId, Kind kind, std::uint32_t number, std::uint32_t wParam,
                  bool wait) {
    if (channelFolder().empty()) return false;
    const UniqueFd sender(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sender) return false;
    if (wait) {
        // A receiver whose queue is full gets a moment to read; it never blocks us for good.
        const timeval timeout{2, 0};
        ::setsockopt(sender.fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    }
    sockaddr_un address;
    const socklen_t length = socketAddress(threadSocketPath(threadId), address);
    const Datagram datagram{datagramMagic, kind, number, wParam};
    const int flags = MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT);
    ssize_t sent;
    do {
        sent = ::sendto(sender.fd, &datagram, sizeof datagram, flags,
                        reinterpret_cast<const sockaddr*>(&address), length);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof datagram);
}

// --- Process-wide state -------------------------------------------------------------------------

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

ChannelState& state() {
    static ChannelState* const instance = new ChannelState;
    return *instance;
}

// Removes the named file only when it still is the one this process created.
void unlinkIfOwn(const std::string& path, dev_t device, ino_t inode) {
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && info.st_dev == device && info.st_ino == inode) {
        ::unlink(path.c_str());
    }
}

void announceExit(int status, void*) {
    ChannelState& channel = state();
    std::lock_guard<std::mutex> lock(channel.mutex);
    channel.exiting = true;
    channel.exitStatus = status;
    // A process that ends through exit() (the Java program's System.exit among them) runs no
    // teardown: neither the block nor the sockets of its threads may outlive it.
    if (!channel.createdBlock.empty()) {
        unlinkIfOwn(channel.createdBlock, channel.createdDevice, channel.createdInode);
        channel.createdBlock.clear();
    }
    for (const std::uint32_t requester : channel.requesters) {
        sendDatagram(requester, Kind::exitNotice, 0, static_cast<std::uint32_t>(status), false);
    }
    for (const std::string& path : channel.boundSockets) ::unlink(path.c_str());
    channel.boundSockets.clear();
}

// Called with the state's lock held.
bool ensureExitHandler(ChannelState& channel) {
    if (channel.exitHandlerSet) return true;
    if (::on_exit(announceExit, nullptr) != 0) return false;
    channel.exitHandlerSet = true;
    return true;
}

// --- The calling thread's queue -----------------------------------------------------------------

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

ThreadQueue& threadQueue() {
    thread_local ThreadQueue queue;
    return queue;
}

enum class Received { empty, message, consumed, failed };

// Reads one datagram; notices and acknowledgements are recorded (consumed). Only this user can
// reach the socket, and datagrams that say otherwise are dropped all the same.
Received receiveOne(ThreadQueue& queue, bool wait, ThreadMessage& message) {
    Datagram datagram;
    iovec data{&datagram, sizeof datagram};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t received;
    do {
        received = ::recvmsg(queue.socket.fd, &header, wait ? 0 : MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? Received::empty : Received::failed;
    const cmsghdr* credentials = CMSG_FIRSTHDR(&header);
    if (received != static_cast<ssize_t>(sizeof datagram) || datagram.magic != datagramMagic ||
        !credentials || credentials->cmsg_level != SOL_SOCKET ||
        credentials->cmsg_type != SCM_CREDENTIALS) {
        return Received::consumed;
    }
    ucred sender;
    std::memcpy(&sender, CMSG_DATA(credentials), sizeof sender);
    if (sender.uid != ::geteuid()) return Received::consumed;
    switch (datagram.kind) {
    case Kind::message:
        message = ThreadMessage{datagram.number, datagram.wParam};
        return Received::message;
    case Kind::quit:
        // Only this process stops its own threads.
        if (sender.pid != ::getpid()) return Received::consumed;
        message = ThreadMessage{quitMessage, 0};
        return Received::message;
    case Kind::acknowledgement:
        queue.acknowledged = true;
        return Received::consumed;
    case Kind::exitNotice: {
        std::lock_guard<std::mutex> lock(state().mutex);
        state().exitNotices[static_cast<std::uint32_t>(sender.pid)] =
            static_cast<std::int32_t>(datagram.wParam);
        return Received::consumed;
    }
    }
    return Received::consumed;
}

// Moves everything that has arrived into the pending list.
void drainQueue(ThreadQueue& queue) {
    if (!queue.socket) return;
    ThreadMessage message;
    for (;;) {
        const Received result = receiveOne(queue, false, message);
        if (result == Received::message) queue.pending.push_back(message);
        if (result == Received::empty || result == Received::failed) return;
    }
}

bool processAlive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

bool noticeFor(std::uint32_t processId, std::int32_t& exitCode) {
    std::lock_guard<std::mutex> lock(state().mutex);
    const auto it = state().exitNotices.find(processId);
    if (it == state().exitNotices.end()) return false;
    exitCode = it->second;
    return true;
}

std::string executableOf(const std::string& procLink) {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(procLink.c_str(), buffer, sizeof buffer - 1);
    if (length < 0) return {};
    return std::string(buffer, static_cast<std::size_t>(length));
}

int openPidFd(std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) return -1;
    return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0));
}

}  // namespace

// --- Events: only the first process waits for its own event, so an in-process one will do -----

class Event {
public:
    std::mutex mutex;
    std::condition_variable signalled;
    bool isSet = false;
    int waiters = 0;
    bool orphaned = false;
};

void EventDeleter::operator()(Event* event) const {
    {
        std::lock_guard<std::mutex> lock(event->mutex);
        // A worker still waits (main never started) and will until the process ends: leave it
        // something valid to wait on.
        if (event->waiters > 0) {
            event->orphaned = true;
            return;
        }
    }
    delete event;
}

EventPtr createEvent(const std::string&) { return EventPtr(new Event); }

void setEvent(Event& event) {
    std::lock_guard<std::mutex> lock(event.mutex);
    event.isSet = true;
    event.signalled.notify_all();
}

void waitForEvent(Event& event) {
    std::unique_lock<std::mutex> lock(event.mutex);
    ++event.waiters;
    event.signalled.wait(lock, [&] { return event.isSet; });
    --event.waiters;
}

// --- The shared block: a mapped file in the private folder ---------------------------------------

class SharedMapping {
public:
    std::string path;
    UniqueFd fd;
    std::size_t size = 0;
    void* view = nullptr;
    bool created = false;
    dev_t device = 0;
    ino_t inode = 0;
};

namespace {

SharedMappingPtr createExclusive(const std::string& path, std::size_t size) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) return nullptr;
    struct stat info;
    // The mode is set on the descriptor: a umask must not decide who may read the block.
    if (::fchmod(fd.fd, 0600) != 0 || ::ftruncate(fd.fd, static_cast<off_t>(size)) != 0 ||
        ::fstat(fd.fd, &info) != 0) {
        ::unlink(path.c_str());
        return nullptr;
    }
    SharedMappingPtr mapping(new SharedMapping);
    mapping->path = path;
    mapping->fd = std::move(fd);
    mapping->size = size;
    mapping->created = true;
    mapping->device = info.st_dev;
    mapping->inode = info.st_ino;
    ChannelState& channel = state();
    std::lock_guard<std::mutex> lock(channel.mutex);
    ensureExitHandler(channel);
    channel.createdBlock = path;
    channel.createdDevice = info.st_dev;
    channel.createdInode = info.st_ino;
    return mapping;
}

// Opens an existing block. A block that is not this user's alone (made by someone who could write
// to the folder, or linked into it) is removed, never used: the caller then makes a fresh one.
enum class Opened { block, gone, refused, failed };
Opened openExisting(const std::string& path, std::size_t size, SharedMappingPtr& mapping) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return Opened::gone;
        if (errno != ELOOP) return Opened::failed;
        ::unlink(path.c_str());  // a symbolic link in its place
        return Opened::refused;
    }
    struct stat info;
    if (::fstat(fd.fd, &info) != 0) return Opened::failed;
    if (!ownedPrivately(info)) {
        if (trace::enabled()) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
            trace::line("instance", "refused the block " + path + " of uid " + std::to_string(info.st_uid) +
                                        ", mode " + mode + "; making a fresh one");
        }
        ::unlink(path.c_str());
        return Opened::refused;
    }
    // A creator that died before sizing its block leaves it short; mapping it as it is would
    // fault. Zero-extended it reads as a block without a first instance.
    if (info.st_size < static_cast<off_t>(size) && ::ftruncate(fd.fd, static_cast<off_t>(size)) != 0) {
        return Opened::failed;
    }
    mapping.reset(new SharedMapping);
    mapping->path = path;
    mapping->fd = std::move(fd);
    mapping->size = size;
    return Opened::block;
}

}  // namespace

void SharedMappingDeleter::operator()(SharedMapping* mapping) const {
    unmapSharedView(*mapping);
    if (mapping->created) {
        ChannelState& channel = state();
        std::lock_guard<std::mutex> lock(channel.mutex);
        unlinkIfOwn(mapping->path, mapping->device, mapping->inode);
        if (channel.createdBlock == mapping->path && channel.createdInode == mapping->inode) {
            channel.createdBlock.clear();
        }
    }
    delete mapping;
}

SharedMappingPtr createSharedMapping(const std::string& name, std::size_t size, bool& existed) {
    if (channelFolder().empty()) return nullptr;
    const std::string path = entryPath(name, ".block");
    // Creation with O_EXCL decides who is first; the loop covers a block removed between the
    // failed creation and the opening, and one refused and removed.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (SharedMappingPtr mapping = createExclusive(path, size)) {
            existed = false;
            return mapping;
        }
        if (errno != EEXIST) return nullptr;
        SharedMappingPtr mapping;
        switch (openExisting(path, size, mapping)) {
        case Opened::block:
            existed = true;
            return mapping;
        case Opened::gone:
        case Opened::refused:
            continue;
        case Opened::failed:
            return nullptr;
        }
    }
    return nullptr;
}

SharedMappingPtr replaceSharedMapping(const std::string& name, std::size_t size) {
    if (channelFolder().empty()) return nullptr;
    const std::string path = entryPath(name, ".block");
    ::unlink(path.c_str());
    removeStaleSockets();
    return createExclusive(path, size);
}

void* mapSharedView(SharedMapping& mapping) {
    if (mapping.view) return mapping.view;
    void* view = ::mmap(nullptr, mapping.size, PROT_READ | PROT_WRITE, MAP_SHARED, mapping.fd.fd, 0);
    if (view == MAP_FAILED) return nullptr;
    mapping.view = view;
    return view;
}

void unmapSharedView(SharedMapping& mapping) {
    if (mapping.view) ::munmap(mapping.view, mapping.size);
    mapping.view = nullptr;
}

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

// --- Acknowledgement: a datagram to the requesting thread ----------------------------------------

class Acknowledgement {};

void AcknowledgementDeleter::operator()(Acknowledgement* acknowledgement) const {
    delete acknowledgement;
}

AcknowledgementPtr createAcknowledgement(const std::string&) {
    ChannelState& channel = state();
    std::lock_guard<std::mutex> lock(channel.mutex);
    if (!ensureExitHandler(channel)) return nullptr;
    return AcknowledgementPtr(new Acknowledgement);
}

// Every first instance on this platform acknowledges.
AcknowledgementPtr openAcknowledgement(const std::string&) {
    return AcknowledgementPtr(new Acknowledgement);
}

void clearAcknowledgement(Acknowledgement&) { threadQueue().acknowledged = false; }

bool acknowledge(Acknowledgement&, std::uint32_t requesterThreadId) {
    // A requester that has gone has no socket; its request may carry a later start's arguments.
    if (!sendDatagram(requesterThreadId, Kind::acknowledgement, 0, 0, true)) return false;
    ChannelState& channel = state();
    bool exiting = false;
    std::int32_t status = 0;
    {
        std::lock_guard<std::mutex> lock(channel.mutex);
        channel.requesters.insert(requesterThreadId);
        exiting = channel.exiting;
        status = channel.exitStatus;
    }
    // The exit notices have gone out already; this requester gets its own.
    if (exiting) {
        sendDatagram(requesterThreadId, Kind::exitNotice, 0, static_cast<std::uint32_t>(status), false);
    }
    return true;
}

bool waitForAcknowledgement(Acknowledgement&, std::uint32_t firstProcessId, std::uint32_t timeoutMs) {
    ThreadQueue& queue = threadQueue();
    if (!queue.socket) return false;
    // The pidfd tells the end of exactly this process, even if its id is reused later.
    const UniqueFd first(openPidFd(firstProcessId));
    const bool limited = timeoutMs != waitWithoutLimit;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
    for (;;) {
        drainQueue(queue);
        if (queue.acknowledged) return true;
        std::int32_t exitCode = 0;
        if (noticeFor(firstProcessId, exitCode)) return false;
        pollfd ready[2] = {{queue.socket.fd, POLLIN, 0}, {first.fd, POLLIN, 0}};
        const bool ended = first ? ::poll(&ready[1], 1, 0) > 0
                                 : !isInstanceProcessRunning(firstProcessId);
        if (ended) {
            drainQueue(queue);
            return queue.acknowledged;
        }
        long long waitMs = first ? 1000 : 50;
        if (limited) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return false;
            waitMs = std::min<long long>(
                waitMs, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
        }
        ::poll(ready, first ? 2 : 1, static_cast<int>(waitMs));
    }
}

// --- Thread messages ----------------------------------------------------------------------------

std::uint32_t registerMessage(const std::string& name) {
    // The range Windows gives registered messages; every process computes the same number.
    return 0xC000u + static_cast<std::uint32_t>(nameHash(name) % 0x4000u);
}

std::uint32_t currentThreadId() { return ownThreadId(); }

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool prepareThreadQueue() {
    ThreadQueue& queue = threadQueue();
    if (queue.socket) return true;
    if (channelFolder().empty()) return false;
    UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket) return false;
    const int on = 1;
    if (::setsockopt(socket.fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) return false;
    const std::string path = threadSocketPath(ownThreadId());
    sockaddr_un address;
    const socklen_t length = socketAddress(path, address);
    ChannelState& channel = state();
    std::lock_guard<std::mutex> lock(channel.mutex);
    if (!ensureExitHandler(channel)) return false;
    // A file of this name is left by a thread that had this id and was killed: no living
    // thread can own it.
    ::unlink(path.c_str());
    if (::bind(socket.fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) return false;
    channel.boundSockets.insert(path);
    queue.socket = std::move(socket);
    queue.path = path;
    return true;
}

bool postThreadMessage(std::uint32_t threadId, std::uint32_t number, std::uint32_t wParam) {
    if (threadId == 0) return false;
    return sendDatagram(threadId, Kind::message, number, wParam, true);
}

void postQuitMessage(std::uint32_t threadId) {
    if (threadId != 0) sendDatagram(threadId, Kind::quit, 0, 0, false);
}

bool getThreadMessage(ThreadMessage& message) {
    ThreadQueue& queue = threadQueue();
    if (!queue.socket) return false;
    for (;;) {
        if (!queue.pending.empty()) {
            message = queue.pending.front();
            queue.pending.pop_front();
            return message.number != quitMessage;
        }
        const Received result = receiveOne(queue, true, message);
        if (result == Received::failed) return false;
        if (result == Received::message) return message.number != quitMessage;
    }
}

bool peekThreadMessage(ThreadMessage& message) {
    ThreadQueue& queue = threadQueue();
    if (queue.pending.empty()) drainQueue(queue);
    if (queue.pending.empty()) return false;
    message = queue.pending.front();
    queue.pending.pop_front();
    return true;
}

// --- The listener thread ------------------------------------------------------------------------

class ListenerThread {
public:
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
};

void ListenerThreadDeleter::operator()(ListenerThread* listener) const {
    if (listener->thread.joinable()) {
        if (*listener->finished) {
            listener->thread.join();
        } else {
            listener->thread.detach();
        }
    }
    delete listener;
}

ListenerThreadPtr startListenerThread(ThreadBody body, void* parameter, std::uint32_t* idSlot) {
    ListenerThreadPtr listener(new ListenerThread);
    std::mutex mutex;
    std::condition_variable started;
    bool ready = false;
    bool queued = false;
    std::shared_ptr<std::atomic<bool>> finished = listener->finished;
    try {
        listener->thread = std::thread([&, body, parameter, finished] {
            // The id is known only inside the thread; the creator waits for it below.
            *idSlot = ownThreadId();
            const bool hasQueue = prepareThreadQueue();
            {
                // Notified under the lock: the creator cannot return and take these locals
                // with it before the notification is done.
                std::lock_guard<std::mutex> lock(mutex);
                queued = hasQueue;
                ready = true;
                started.notify_one();
            }
            // From here the creator's locals are gone.
            if (hasQueue) body(parameter);
            threadQueue().close();
            *finished = true;
        });
    } catch (const std::system_error&) {
        return nullptr;
    }
    std::unique_lock<std::mutex> lock(mutex);
    started.wait(lock, [&] { return ready; });
    if (!queued) {
        lock.unlock();
        listener->thread.join();
        return nullptr;
    }
    return listener;
}

bool listenerIsActive(ListenerThread& thread) { return !*thread.finished; }

// --- The first process --------------------------------------------------------------------------

class Process {
public:
    std::uint32_t processId = 0;
    UniqueFd pidFd;  // tells the end of exactly this process, even if its id is reused later
};

void ProcessDeleter::operator()(Process* process) const { delete process; }

namespace {

bool hasEnded(Process& process) {
    if (process.pidFd) {
        pollfd ended{process.pidFd.fd, POLLIN, 0};
        return ::poll(&ended, 1, 0) > 0;
    }
    return !processAlive(static_cast<pid_t>(process.processId));
}

}  // namespace

ProcessPtr openProcess(std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) return nullptr;
    ProcessPtr process(new Process);
    process->processId = processId;
    process->pidFd = UniqueFd(openPidFd(processId));
    if (process->pidFd) return process;
    const bool unsupported = errno == ENOSYS;
    std::int32_t exitCode = 0;
    // Gone already: only an exit notice that came before still says how it ended.
    drainQueue(threadQueue());
    if (noticeFor(processId, exitCode)) return process;
    if (unsupported && processAlive(static_cast<pid_t>(processId))) return process;
    return nullptr;
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
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) return false;
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
