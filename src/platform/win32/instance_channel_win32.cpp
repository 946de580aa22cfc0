// Win32 backend of the single-instance channel: a named mapping of the paging file, named events
// and a named mutex, a registered message posted between thread queues, and the first process's
// handle. Names without a prefix live in the user's session and carry the creator's default
// security, so other users neither see nor open them.

#include "platform/instance_channel.h"

#include "platform/win32/unique_handle.h"

namespace qn::platform {

static_assert(sizeof(DWORD) == sizeof(std::uint32_t), "thread ids are written into the block");
static_assert(waitWithoutLimit == INFINITE, "waits without limit are handed to the system as they are");

class Event {
public:
    win32::UniqueHandle handle;
};
class SharedMapping {
public:
    win32::UniqueHandle handle;
    win32::UniqueView view;
};
class InstanceTurn {
public:
    win32::UniqueHandle mutex;
};
class Acknowledgement {
public:
    win32::UniqueHandle event;
};
class ListenerThread {
public:
    win32::UniqueHandle handle;
};
class Process {
public:
    win32::UniqueHandle handle;
};

void EventDeleter::operator()(Event* event) const { delete event; }
void SharedMappingDeleter::operator()(SharedMapping* mapping) const { delete mapping; }
void InstanceTurnDeleter::operator()(InstanceTurn* turn) const {
    // Released on the thread that took it: set-up and teardown both run on the first thread.
    ReleaseMutex(turn->mutex.get());
    delete turn;
}
void AcknowledgementDeleter::operator()(Acknowledgement* acknowledgement) const {
    delete acknowledgement;
}
void ListenerThreadDeleter::operator()(ListenerThread* thread) const { delete thread; }
void ProcessDeleter::operator()(Process* process) const { delete process; }

namespace {

// The creation time: with the id it names one process, whatever got the id after it ended.
std::uint64_t startTimeOf(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

// --- Events -------------------------------------------------------------------------------------

EventPtr createEvent(const std::string& name) {
    win32::UniqueHandle handle(CreateEventA(nullptr, TRUE, FALSE, name.empty() ? nullptr : name.c_str()));
    if (!handle) return nullptr;
    EventPtr event(new Event);
    event->handle = std::move(handle);
    return event;
}

void setEvent(Event& event) { SetEvent(event.handle.get()); }

void waitForEvent(Event& event) { WaitForSingleObject(event.handle.get(), INFINITE); }

// --- The shared block ---------------------------------------------------------------------------

SharedMappingPtr createSharedMapping(const std::string& name, std::size_t size, bool& existed) {
    // A new object may leave the last error untouched; only the call's own value must count.
    SetLastError(0);
    HANDLE handle = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       static_cast<DWORD>(size), name.c_str());
    const DWORD error = GetLastError();  // read before anything else
    if (!handle) return nullptr;
    existed = error != 0;
    SharedMappingPtr mapping(new SharedMapping);
    mapping->handle.reset(handle);
    return mapping;
}

SharedMappingPtr openSharedMapping(const std::string& name, std::size_t) {
    win32::UniqueHandle handle(OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str()));
    if (!handle) return nullptr;
    SharedMappingPtr mapping(new SharedMapping);
    mapping->handle = std::move(handle);
    return mapping;
}

// A mapping of the paging file vanishes with its last handle; there is nothing stale to replace.
SharedMappingPtr replaceSharedMapping(const std::string&, std::size_t) { return nullptr; }

void* mapSharedView(SharedMapping& mapping) {
    if (!mapping.view) mapping.view.reset(MapViewOfFile(mapping.handle.get(), FILE_MAP_WRITE, 0, 0, 0));
    return mapping.view.get();
}

void unmapSharedView(SharedMapping& mapping) { mapping.view.reset(); }

// --- Keeping later instances apart --------------------------------------------------------------

InstanceTurnPtr acquireInstanceTurn(const std::string& name, std::uint32_t timeoutMs) {
    win32::UniqueHandle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    if (!mutex) return nullptr;
    const DWORD result = WaitForSingleObject(mutex.get(), timeoutMs);
    // An abandoned mutex belonged to a process that died holding it: the turn is ours now.
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return nullptr;
    InstanceTurnPtr turn(new InstanceTurn);
    turn->mutex = std::move(mutex);
    return turn;
}

AcknowledgementPtr createAcknowledgement(const std::string& name) {
    // Auto-reset: each wait takes exactly one acknowledgement.
    win32::UniqueHandle event(CreateEventA(nullptr, FALSE, FALSE, name.c_str()));
    if (!event) return nullptr;
    AcknowledgementPtr acknowledgement(new Acknowledgement);
    acknowledgement->event = std::move(event);
    return acknowledgement;
}

AcknowledgementPtr openAcknowledgement(const std::string& name) {
    // Absent while the first instance is one that never acknowledges.
    win32::UniqueHandle event(OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str()));
    if (!event) return nullptr;
    AcknowledgementPtr acknowledgement(new Acknowledgement);
    acknowledgement->event = std::move(event);
    return acknowledgement;
}

void clearAcknowledgement(Acknowledgement& acknowledgement) { ResetEvent(acknowledgement.event.get()); }

bool acknowledge(Acknowledgement& acknowledgement, std::uint32_t requesterThreadId) {
    // A requester that has ended let go of its turn, so the block may hold the next start's
    // arguments; that start must not take this signal as its own.
    const win32::UniqueHandle requester(OpenThread(SYNCHRONIZE, FALSE, requesterThreadId));
    if (!requester || WaitForSingleObject(requester.get(), 0) != WAIT_TIMEOUT) return false;
    SetEvent(acknowledgement.event.get());
    return true;
}

bool waitForAcknowledgement(Acknowledgement& acknowledgement, std::uint32_t firstProcessId,
                            std::uint64_t firstStartTime, std::uint32_t timeoutMs) {
    win32::UniqueHandle first(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, firstProcessId));
    // A process that got the id of a first process that ended is not the one to wait for.
    if (first && firstStartTime != 0 && startTimeOf(first.get()) != firstStartTime) first.reset();
    // Without the first process there is nothing to wait for, only a signal that came already.
    if (!first) return WaitForSingleObject(acknowledgement.event.get(), 0) == WAIT_OBJECT_0;
    HANDLE objects[] = {acknowledgement.event.get(), first.get()};
    return WaitForMultipleObjects(2, objects, FALSE, timeoutMs) == WAIT_OBJECT_0;
}

// --- Thread messages ----------------------------------------------------------------------------

std::uint32_t registerMessage(const std::string& name) { return RegisterWindowMessageA(name.c_str()); }

std::uint32_t currentThreadId() { return GetCurrentThreadId(); }

std::uint32_t currentProcessId() { return GetCurrentProcessId(); }

bool prepareThreadQueue() {
    // The first call of a message function creates the thread's queue.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    return true;
}

bool postThreadMessage(std::uint32_t threadId, std::uint32_t number, std::uint32_t wParam,
                       std::uint32_t lParam) {
    return PostThreadMessageA(threadId, number, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
}

void postQuitMessage(std::uint32_t threadId) { PostThreadMessageA(threadId, WM_QUIT, 0, 0); }

bool getThreadMessage(ThreadMessage& message) {
    MSG received;
    // 0 is the quit message, -1 a failure; both end the loop.
    if (GetMessageA(&received, nullptr, 0, 0) <= 0) return false;
    message = ThreadMessage{received.message, static_cast<std::uint32_t>(received.wParam),
                            static_cast<std::uint32_t>(received.lParam)};
    return true;
}

bool peekThreadMessage(ThreadMessage& message) {
    MSG received;
    if (!PeekMessageA(&received, nullptr, 0, 0, PM_REMOVE)) return false;
    message = ThreadMessage{received.message, static_cast<std::uint32_t>(received.wParam),
                            static_cast<std::uint32_t>(received.lParam)};
    return true;
}

// --- The listener thread ------------------------------------------------------------------------

namespace {

struct ListenerStart {
    ThreadBody body;
    void* parameter;
    HANDLE ready;  // the creator's, valid until it has seen it signalled
};

DWORD WINAPI listenerEntry(LPVOID raw) {
    const ListenerStart start = *static_cast<ListenerStart*>(raw);
    delete static_cast<ListenerStart*>(raw);
    // A request posted before the queue exists would fail; the creator publishes nothing until
    // this is done.
    prepareThreadQueue();
    SetEvent(start.ready);
    return start.body(start.parameter);
}

}  // namespace

ListenerThreadPtr startListenerThread(ThreadBody body, void* parameter, std::uint32_t* idSlot) {
    const win32::UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready) return nullptr;
    auto* start = new ListenerStart{body, parameter, ready.get()};
    ListenerThreadPtr listener(new ListenerThread);
    listener->handle.reset(
        CreateThread(nullptr, 0, listenerEntry, start, 0, reinterpret_cast<DWORD*>(idSlot)));
    if (!listener->handle) {
        delete start;
        return nullptr;
    }
    HANDLE objects[] = {ready.get(), listener->handle.get()};
    // Ready, or ended without getting there: either way the thread no longer needs `ready`.
    WaitForMultipleObjects(2, objects, FALSE, INFINITE);
    return listener;
}

bool listenerIsActive(ListenerThread& thread) {
    DWORD exitCode = 0;
    if (!GetExitCodeThread(thread.handle.get(), &exitCode)) return false;
    return exitCode == STILL_ACTIVE;
}

// --- The first process --------------------------------------------------------------------------

std::uint64_t processStartTime(std::uint32_t processId) {
    const win32::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    return process ? startTimeOf(process.get()) : 0;
}

ProcessPtr openProcess(std::uint32_t processId, std::uint64_t startTime) {
    // SYNCHRONIZE besides the query right: the wait for a reply also wakes when it ends.
    win32::UniqueHandle handle(
        OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, processId));
    if (!handle) handle.reset(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    if (!handle) return nullptr;
    if (startTime != 0 && startTimeOf(handle.get()) != startTime) return nullptr;
    ProcessPtr process(new Process);
    process->handle = std::move(handle);
    return process;
}

void waitForMessageOrEnd(Process& process, std::uint32_t timeoutMs) {
    HANDLE handle = process.handle.get();
    // MWMO_INPUTAVAILABLE: a message already in the queue, seen by an earlier peek or not, wakes
    // it too. A handle without SYNCHRONIZE fails the wait: then only the queue is waited for.
    if (MsgWaitForMultipleObjectsEx(1, &handle, timeoutMs, QS_ALLPOSTMESSAGE, MWMO_INPUTAVAILABLE) == WAIT_FAILED) {
        MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs < 100 ? timeoutMs : 100, QS_ALLPOSTMESSAGE,
                                    MWMO_INPUTAVAILABLE);
    }
}

bool processExitCode(Process& process, std::uint32_t& exitCode) {
    DWORD code = 0;
    if (!GetExitCodeProcess(process.handle.get(), &code)) return false;
    exitCode = code;
    return true;
}

bool isInstanceProcessRunning(std::uint32_t processId) {
    const win32::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void sleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace qn::platform
