// The single-instance channel's datagrams: one socket per receiving thread, the thread messages,
// the acknowledgement of a request and the exit notices of a first instance.

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/posix/instance_channel_posix.h"
#include "trace/trace.h"

namespace qn::platform {

namespace channel {

namespace {

constexpr std::uint32_t datagramMagic = 0x514E4C31;

struct Datagram {
    std::uint32_t magic;
    Kind kind;
    std::uint32_t number;
    std::uint32_t wParam;  // the exit code in an exit notice
    std::uint32_t lParam;  // a receiver of before reads the first four fields only
};

// What a sender of before sends: the fields up to wParam.
constexpr std::size_t shortDatagram = offsetof(Datagram, lParam);

socklen_t socketAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof address.sun_path - 1));
    return static_cast<socklen_t>(sizeof address);
}

}  // namespace

// False when the receiving thread has no socket (any more): it ended, or its process did.
bool sendDatagram(std::uint32_t threadId, Kind kind, std::uint32_t number, std::uint32_t wParam,
                  bool wait, std::uint32_t lParam) {
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
    const Datagram datagram{datagramMagic, kind, number, wParam, lParam};
    const int flags = MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT);
    ssize_t sent;
    do {
        sent = ::sendto(sender.fd, &datagram, sizeof datagram, flags,
                        reinterpret_cast<const sockaddr*>(&address), length);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof datagram);
}

// --- Process-wide state -------------------------------------------------------------------------

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

ThreadQueue& threadQueue() {
    thread_local ThreadQueue queue;
    return queue;
}

namespace {

enum class Received { empty, message, consumed, failed };

// Reads one datagram; notices and acknowledgements are recorded (consumed). Only this user can
// reach the socket, and datagrams that say otherwise are dropped all the same.
Received receiveOne(ThreadQueue& queue, bool wait, ThreadMessage& message) {
    Datagram datagram{};
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
    if ((received != static_cast<ssize_t>(sizeof datagram) && received != static_cast<ssize_t>(shortDatagram)) ||
        datagram.magic != datagramMagic ||
        !credentials || credentials->cmsg_level != SOL_SOCKET ||
        credentials->cmsg_type != SCM_CREDENTIALS) {
        return Received::consumed;
    }
    ucred sender;
    std::memcpy(&sender, CMSG_DATA(credentials), sizeof sender);
    if (sender.uid != ::geteuid()) return Received::consumed;
    switch (datagram.kind) {
    case Kind::message:
        message = ThreadMessage{datagram.number, datagram.wParam, datagram.lParam};
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


}  // namespace

void drainQueue(ThreadQueue& queue) {
    if (!queue.socket) return;
    ThreadMessage message;
    for (;;) {
        const Received result = receiveOne(queue, false, message);
        if (result == Received::message) queue.pending.push_back(message);
        if (result == Received::empty || result == Received::failed) return;
    }
}

bool noticeFor(std::uint32_t processId, std::int32_t& exitCode) {
    std::lock_guard<std::mutex> lock(state().mutex);
    const auto it = state().exitNotices.find(processId);
    if (it == state().exitNotices.end()) return false;
    exitCode = it->second;
    return true;
}


}  // namespace channel

using namespace channel;

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

bool waitForAcknowledgement(Acknowledgement&, std::uint32_t firstProcessId, std::uint64_t firstStartTime,
                            std::uint32_t timeoutMs) {
    ThreadQueue& queue = threadQueue();
    if (!queue.socket) return false;
    // The pidfd tells the end of exactly this process, even if its id is reused later; that it
    // is the first process and not a later one with its id, the start time tells.
    const UniqueFd first(openPidFd(firstProcessId));
    if (first && firstStartTime != 0 && processStartTime(firstProcessId) != firstStartTime) {
        drainQueue(queue);
        return queue.acknowledged;
    }
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
        ::poll(ready, 2, static_cast<int>(waitMs));  // without a pidfd (-1) only the socket counts
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

bool postThreadMessage(std::uint32_t threadId, std::uint32_t number, std::uint32_t wParam,
                       std::uint32_t lParam) {
    if (threadId == 0) return false;
    return sendDatagram(threadId, Kind::message, number, wParam, true, lParam);
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

}  // namespace qn::platform
