// POSIX backend of the single-instance channel. The block lives in POSIX shared memory named after
// the executable's path. Thread messages travel as datagrams over abstract Unix sockets, one per
// receiving thread, named after the thread's id; abstract names vanish with their socket, so
// nothing stays behind. A process's exit code cannot be queried by a process that is not its
// parent, so a first instance tells every requester its exit code as it ends.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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

// Shared-memory names take one leading slash and at most NAME_MAX characters; a longer path keeps
// its start and gets a hash of the whole for the rest.
std::string sharedMemoryName(const std::string& name) {
    std::string clean = name;
    for (char& c : clean) {
        if (c == '/') c = '_';
    }
    if (clean.size() + 1 > NAME_MAX) clean = clean.substr(0, 200) + "_" + hexHash(name);
    return "/" + clean;
}

socklen_t abstractAddress(const std::string& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // The leading NUL puts the name in the abstract namespace.
    const std::string full = "qnlauncher/" + name;
    const std::size_t length = std::min(full.size(), sizeof address.sun_path - 2);
    std::memcpy(address.sun_path + 1, full.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

std::string threadSocketName(std::uint32_t threadId) { return "thread/" + std::to_string(threadId); }

std::uint32_t ownThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

// --- Datagrams ----------------------------------------------------------------------------------

constexpr std::uint32_t datagramMagic = 0x514E4C31;
enum class Kind : std::uint32_t { message = 1, quit = 2, acknowledgement = 3, exitNotice = 4 };

struct Datagram {
    std::uint32_t magic;
    Kind kind;
    std::uint32_t number;
    std::uint32_t wParam;  // the exit code in an exit notice
};

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

bool sendDatagram(std::uint32_t threadId, Kind kind, std::uint32_t number, std::uint32_t wParam,
                  bool wait) {
    const UniqueFd sender(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sender) return false;
    if (wait) {
        // A receiver whose queue is full gets a moment to read; it never blocks us for good.
        const timeval timeout{2, 0};
        ::setsockopt(sender.fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    }
    sockaddr_un address;
    const socklen_t length = abstractAddress(threadSocketName(threadId), address);
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
    // First instance: who asked, so that each learns the exit code; and the block it created.
    bool announcesExit = false;
    bool exiting = false;
    std::int32_t exitStatus = 0;
    std::set<std::uint32_t> requesters;
    std::string createdBlock;
    dev_t createdDevice = 0;
    ino_t createdInode = 0;
};

ChannelState& state() {
    static ChannelState* const instance = new ChannelState;
    return *instance;
}

// Removes the named block only when it still is the object this process created.
void unlinkIfOwn(const std::string& shmName, dev_t device, ino_t inode) {
    const UniqueFd current(::shm_open(shmName.c_str(), O_RDONLY, 0));
    struct stat info;
    if (current && ::fstat(current.fd, &info) == 0 && info.st_dev == device && info.st_ino == inode) {
        ::shm_unlink(shmName.c_str());
    }
}

void announceExit(int status, void*) {
    ChannelState& channel = state();
    std::lock_guard<std::mutex> lock(channel.mutex);
    channel.exiting = true;
    channel.exitStatus = status;
    // A process that ends through exit() (the Java program's System.exit among them) runs no
    // teardown: the block must not outlive it.
    if (!channel.createdBlock.empty()) {
        unlinkIfOwn(channel.createdBlock, channel.createdDevice, channel.createdInode);
        channel.createdBlock.clear();
    }
    for (const std::uint32_t requester : channel.requesters) {
        sendDatagram(requester, Kind::exitNotice, 0, static_cast<std::uint32_t>(status), false);
    }
}

// --- The calling thread's queue -----------------------------------------------------------------

struct ThreadQueue {
    UniqueFd socket;
    std::deque<ThreadMessage> pending;
    bool acknowledged = false;
};

ThreadQueue& threadQueue() {
    thread_local ThreadQueue queue;
    return queue;
}

enum class Received { empty, message, consumed, failed };

// Reads one datagram; notices and acknowledgements are recorded (consumed). Datagrams
// of other users are dropped: abstract names are visible to everyone.
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

// --- The shared block ---------------------------------------------------------------------------

class SharedMapping {
public:
    std::string shmName;
    UniqueFd fd;
    std::size_t size = 0;
    void* view = nullptr;
    bool created = false;
    dev_t device = 0;
    ino_t inode = 0;
};

namespace {

SharedMappingPtr createExclusive(const std::string& shmName, std::size_t size) {
    UniqueFd fd(::shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) return nullptr;
    struct stat info;
    if (::ftruncate(fd.fd, static_cast<off_t>(size)) != 0 || ::fstat(fd.fd, &info) != 0) {
        ::shm_unlink(shmName.c_str());
        return nullptr;
    }
    SharedMappingPtr mapping(new SharedMapping);
    mapping->shmName = shmName;
    mapping->fd = std::move(fd);
    mapping->size = size;
    mapping->created = true;
    mapping->device = info.st_dev;
    mapping->inode = info.st_ino;
    ChannelState& channel = state();
    std::lock_guard<std::mutex> lock(channel.mutex);
    channel.createdBlock = shmName;
    channel.createdDevice = info.st_dev;
    channel.createdInode = info.st_ino;
    return mapping;
}

}  // namespace

void SharedMappingDeleter::operator()(SharedMapping* mapping) const {
    unmapSharedView(*mapping);
    if (mapping->created) {
        ChannelState& channel = state();
        std::lock_guard<std::mutex> lock(channel.mutex);
        unlinkIfOwn(mapping->shmName, mapping->device, mapping->inode);
        if (channel.createdBlock == mapping->shmName && channel.createdInode == mapping->inode) {
            channel.createdBlock.clear();
        }
    }
    delete mapping;
}

SharedMappingPtr createSharedMapping(const std::string& name, std::size_t size, bool& existed) {
    const std::string shmName = sharedMemoryName(name);
    // Creation with O_EXCL decides who is first; the loop covers a block removed between the
    // failed creation and the opening.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (SharedMappingPtr mapping = createExclusive(shmName, size)) {
            existed = false;
            return mapping;
        }
        if (errno != EEXIST) return nullptr;
        UniqueFd fd(::shm_open(shmName.c_str(), O_RDWR | O_CLOEXEC, 0));
        if (!fd) {
            if (errno == ENOENT) continue;
            return nullptr;
        }
        struct stat info;
        if (::fstat(fd.fd, &info) != 0) return nullptr;
        // A creator that died before sizing its block leaves it short; mapping it as it is would
        // fault. Zero-extended it reads as a block without a first instance.
        if (info.st_size < static_cast<off_t>(size) && ::ftruncate(fd.fd, static_cast<off_t>(size)) != 0) {
            return nullptr;
        }
        SharedMappingPtr mapping(new SharedMapping);
        mapping->shmName = shmName;
        mapping->fd = std::move(fd);
        mapping->size = size;
        existed = true;
        return mapping;
    }
    return nullptr;
}

SharedMappingPtr replaceSharedMapping(const std::string& name, std::size_t size) {
    const std::string shmName = sharedMemoryName(name);
    ::shm_unlink(shmName.c_str());
    return createExclusive(shmName, size);
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

// --- The turn: an abstract socket name is held by one socket at a time and is freed by the kernel
// when its holder dies --------------------------------------------------------------------------

class InstanceTurn {
public:
    UniqueFd socket;
};

void InstanceTurnDeleter::operator()(InstanceTurn* turn) const { delete turn; }

InstanceTurnPtr acquireInstanceTurn(const std::string& name, std::uint32_t timeoutMs) {
    sockaddr_un address;
    const socklen_t length = abstractAddress("turn/" + hexHash(name), address);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint32_t pauseMs = 1;
    for (;;) {
        UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!socket) return nullptr;
        if (::bind(socket.fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            InstanceTurnPtr turn(new InstanceTurn);
            turn->socket = std::move(socket);
            return turn;
        }
        if (errno != EADDRINUSE) return nullptr;
        if (std::chrono::steady_clock::now() >= deadline) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        pauseMs = std::min<std::uint32_t>(pauseMs * 2, 16);
    }
}

// --- Acknowledgement: a datagram to the requesting thread ----------------------------------------

class Acknowledgement {};

void AcknowledgementDeleter::operator()(Acknowledgement* acknowledgement) const {
    delete acknowledgement;
}

AcknowledgementPtr createAcknowledgement(const std::string&) {
    ChannelState& channel = state();
    std::lock_guard<std::mutex> lock(channel.mutex);
    if (!channel.announcesExit) {
        if (::on_exit(announceExit, nullptr) != 0) return nullptr;
        channel.announcesExit = true;
    }
    return AcknowledgementPtr(new Acknowledgement);
}

// Every first instance on this platform acknowledges.
AcknowledgementPtr openAcknowledgement(const std::string&) {
    return AcknowledgementPtr(new Acknowledgement);
}

void clearAcknowledgement(Acknowledgement&) { threadQueue().acknowledged = false; }

void acknowledge(Acknowledgement&, std::uint32_t requesterThreadId) {
    ChannelState& channel = state();
    bool exiting = false;
    std::int32_t status = 0;
    {
        std::lock_guard<std::mutex> lock(channel.mutex);
        channel.requesters.insert(requesterThreadId);
        exiting = channel.exiting;
        status = channel.exitStatus;
    }
    sendDatagram(requesterThreadId, Kind::acknowledgement, 0, 0, true);
    // The exit notices have gone out already; this requester gets its own.
    if (exiting) {
        sendDatagram(requesterThreadId, Kind::exitNotice, 0, static_cast<std::uint32_t>(status), false);
    }
}

bool waitForAcknowledgement(Acknowledgement&, std::uint32_t firstProcessId, std::uint32_t timeoutMs) {
    ThreadQueue& queue = threadQueue();
    if (!queue.socket) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        drainQueue(queue);
        if (queue.acknowledged) return true;
        std::int32_t exitCode = 0;
        if (noticeFor(firstProcessId, exitCode)) return false;
        if (!processAlive(static_cast<pid_t>(firstProcessId))) {
            drainQueue(queue);
            return queue.acknowledged;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        pollfd ready{queue.socket.fd, POLLIN, 0};
        ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 50)));
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
    UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket) return false;
    const int on = 1;
    if (::setsockopt(socket.fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) return false;
    sockaddr_un address;
    const socklen_t length = abstractAddress(threadSocketName(ownThreadId()), address);
    if (::bind(socket.fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) return false;
    queue.socket = std::move(socket);
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
            threadQueue().socket.reset();
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
    process->pidFd = UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0)));
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
    if (!processAlive(static_cast<pid_t>(processId))) return false;
    // A reused id that now belongs to another program is no first instance.
    const std::string theirs = executableOf("/proc/" + std::to_string(processId) + "/exe");
    const std::string ours = executableOf("/proc/self/exe");
    return theirs.empty() || ours.empty() || theirs == ours;
}

void sleepMilliseconds(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace qn::platform
