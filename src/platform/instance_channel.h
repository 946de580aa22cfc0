#pragma once
// Kernel objects of the single-instance channel between processes of one executable: the named
// shared block, the main-started event, thread messages, the turn that keeps later instances
// apart, the listener's acknowledgement, and the first process as seen from a later one. Each
// backend maps these onto its own system: Win32 objects and thread queues in the user's session,
// or files and Unix sockets in a folder only the user can reach. Either way one user's starts
// never meet another user's.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace qn::platform {

class Event;            // defined by each backend
class SharedMapping;    // defined by each backend
class InstanceTurn;     // defined by each backend
class Acknowledgement;  // defined by each backend
class ListenerThread;   // defined by each backend
class Process;          // defined by each backend
struct EventDeleter {
    void operator()(Event* event) const;
};
struct SharedMappingDeleter {
    void operator()(SharedMapping* mapping) const;  // unmaps the view, closes the block
};
struct InstanceTurnDeleter {
    void operator()(InstanceTurn* turn) const;  // gives the turn to the next process
};
struct AcknowledgementDeleter {
    void operator()(Acknowledgement* acknowledgement) const;
};
struct ListenerThreadDeleter {
    void operator()(ListenerThread* thread) const;  // closes the handle; never stops the thread
};
struct ProcessDeleter {
    void operator()(Process* process) const;
};
using EventPtr = std::unique_ptr<Event, EventDeleter>;
using SharedMappingPtr = std::unique_ptr<SharedMapping, SharedMappingDeleter>;
using InstanceTurnPtr = std::unique_ptr<InstanceTurn, InstanceTurnDeleter>;
using AcknowledgementPtr = std::unique_ptr<Acknowledgement, AcknowledgementDeleter>;
using ListenerThreadPtr = std::unique_ptr<ListenerThread, ListenerThreadDeleter>;
using ProcessPtr = std::unique_ptr<Process, ProcessDeleter>;

// --- Events -------------------------------------------------------------------------------------

/// A manual-reset event, not signalled; an empty name makes an unnamed one. Null on failure.
EventPtr createEvent(const std::string& name);
/// Signals the event; it stays signalled.
void setEvent(Event& event);
/// Waits without a time limit until the event is signalled.
void waitForEvent(Event& event);

// --- The shared block ---------------------------------------------------------------------------

/// Creates the named block of `size` zero bytes, or opens it when it exists; `existed` tells which
/// (the system's last error right after creation was not 0). Null when neither works.
SharedMappingPtr createSharedMapping(const std::string& name, std::size_t size, bool& existed);
/// Where blocks outlive their creator (POSIX shared memory): removes the named block and creates a
/// fresh one. Null where a block vanishes with its last holder (Windows) or when it fails.
SharedMappingPtr replaceSharedMapping(const std::string& name, std::size_t size);
/// Opens the named block of `size` bytes only when it exists; null when it does not or fails.
SharedMappingPtr openSharedMapping(const std::string& name, std::size_t size);
/// Maps the whole block for writing; the mapping owns the view. Null on failure.
void* mapSharedView(SharedMapping& mapping);
/// Unmaps the view of mapSharedView (closing the mapping does it too).
void unmapSharedView(SharedMapping& mapping);

// --- Keeping later instances apart --------------------------------------------------------------

/// A time-out that never runs out (INFINITE).
inline constexpr std::uint32_t waitWithoutLimit = 0xFFFFFFFFu;

/// Waits up to `timeoutMs` (or without limit) for this process's turn at the named channel. A
/// turn left by a process that died is free. Null when the time ran out or the turn cannot be had.
InstanceTurnPtr acquireInstanceTurn(const std::string& name, std::uint32_t timeoutMs);
/// First instance: what its listener signals once it has copied a request's arguments.
AcknowledgementPtr createAcknowledgement(const std::string& name);
/// Later instance: null when the first instance does not acknowledge (one of another version).
AcknowledgementPtr openAcknowledgement(const std::string& name);
/// Later instance, before it posts: forgets an acknowledgement that was meant for an earlier one.
void clearAcknowledgement(Acknowledgement& acknowledgement);
/// Listener: the arguments of the request of `requesterThreadId` have been copied. False when that
/// requester has gone: what was copied may be a later start's arguments, so the request is dropped.
bool acknowledge(Acknowledgement& acknowledgement, std::uint32_t requesterThreadId);
/// Later instance, after posting: true when acknowledged; false when the first process (the one
/// that started at `firstStartTime`, when not 0) ended or the time (maybe waitWithoutLimit) ran out.
bool waitForAcknowledgement(Acknowledgement& acknowledgement, std::uint32_t firstProcessId,
                            std::uint64_t firstStartTime, std::uint32_t timeoutMs);

// --- Thread messages ----------------------------------------------------------------------------

inline constexpr std::uint32_t quitMessage = 0x0012;  // WM_QUIT
struct ThreadMessage {
    std::uint32_t number = 0;
    std::uint32_t wParam = 0;
    std::uint32_t lParam = 0;  // 32 bits: a 32-bit and a 64-bit launcher must read the same value
};

/// A message number shared by every process that registers the same name; 0 on failure.
std::uint32_t registerMessage(const std::string& name);
std::uint32_t currentThreadId();
std::uint32_t currentProcessId();
/// Gives the calling thread its message queue, so that nothing posted to it is lost.
bool prepareThreadQueue();
/// Posts a message to a thread, also of another process; false when it fails.
bool postThreadMessage(std::uint32_t threadId, std::uint32_t number, std::uint32_t wParam,
                       std::uint32_t lParam = 0);
/// Posts the quit message to a thread.
void postQuitMessage(std::uint32_t threadId);
/// Waits for the next message of the calling thread's queue; false on the quit message or failure.
bool getThreadMessage(ThreadMessage& message);
/// Removes one message from the calling thread's queue when there is one.
bool peekThreadMessage(ThreadMessage& message);

// --- The listener thread ------------------------------------------------------------------------

/// Starts a thread (default stack size) whose identifier the creation call writes to `idSlot`.
/// It has its message queue before this returns. Null when it cannot be started.
ListenerThreadPtr startListenerThread(ThreadBody body, void* parameter, std::uint32_t* idSlot);
/// True while the thread's exit code still reads STILL_ACTIVE.
bool listenerIsActive(ListenerThread& thread);

// --- The first process, from a later one --------------------------------------------------------

inline constexpr std::uint32_t stillActive = 259;  // STILL_ACTIVE

/// When the process runs, a number that differs for every process ever given its id (its start
/// time); 0 when it cannot be learnt.
std::uint64_t processStartTime(std::uint32_t processId);
/// Opens a process to query its exit code; null when it cannot be opened, or when `startTime` is
/// not 0 and the process of that id is another one.
ProcessPtr openProcess(std::uint32_t processId, std::uint64_t startTime = 0);
/// The exit code, stillActive while it runs; false when it cannot be queried.
bool processExitCode(Process& process, std::uint32_t& exitCode);
/// True when a process with this identifier runs this executable.
bool isInstanceProcessRunning(std::uint32_t processId);
/// Waits until a message is in the calling thread's queue, the process has ended, or the time ran
/// out, whichever comes first.
void waitForMessageOrEnd(Process& process, std::uint32_t timeoutMs);
void sleepMilliseconds(std::uint32_t milliseconds);

}  // namespace qn::platform
