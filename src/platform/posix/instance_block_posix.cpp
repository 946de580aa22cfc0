// The single-instance channel's shared block, a mapped file in the private folder, and its event.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "platform/posix/instance_channel_posix.h"
#include "trace/trace.h"

namespace qn::platform {

using namespace channel;

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

SharedMappingPtr openSharedMapping(const std::string& name, std::size_t size) {
    if (channelFolder().empty()) return nullptr;
    SharedMappingPtr mapping;
    if (openExisting(entryPath(name, ".block"), size, mapping) != Opened::block) return nullptr;
    return mapping;
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

}  // namespace qn::platform
