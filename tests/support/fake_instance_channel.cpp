#include "fake_instance_channel.h"

#include <cstdlib>

#include "fake_platform.h"

namespace qn {
namespace fake {

FakeChannel& channel() {
    static FakeChannel instance;
    return instance;
}

void resetChannel() { channel() = FakeChannel{}; }

}  // namespace fake

namespace platform {

using fake::channel;

class Event {
public:
    std::string name;
    bool isSet = false;
};
class SharedMapping {
public:
    std::string name;
    void* view = nullptr;
};
class InstanceTurn {};
class Acknowledgement {};
class ListenerThread {};
class Process {
public:
    std::uint32_t processId = 0;
};

void EventDeleter::operator()(Event* event) const { delete event; }
void SharedMappingDeleter::operator()(SharedMapping* mapping) const { delete mapping; }
void InstanceTurnDeleter::operator()(InstanceTurn* turn) const {
    --channel().turnsHeld;
    channel().log.push_back("turn-released");
    delete turn;
}
void AcknowledgementDeleter::operator()(Acknowledgement* acknowledgement) const {
    delete acknowledgement;
}
void ListenerThreadDeleter::operator()(ListenerThread* thread) const { delete thread; }
void ProcessDeleter::operator()(Process* process) const { delete process; }

EventPtr createEvent(const std::string& name) {
    if (channel().refuseAllEvents || (channel().refuseNamedEvents && !name.empty())) return nullptr;
    channel().events.push_back(name);
    EventPtr event(new Event);
    event->name = name;
    return event;
}

void setEvent(Event& event) {
    event.isSet = true;
    ++fake::system().eventsSet;
}

void waitForEvent(Event& event) {
    // A unit test cannot wait: a worker that would block forever is a test that set up wrongly.
    if (!event.isSet) std::abort();
    channel().log.push_back("event-wait");
}

SharedMappingPtr createSharedMapping(const std::string& name, std::size_t size, bool& existed) {
    if (channel().refuseMappings) return nullptr;
    channel().log.push_back("block");
    auto it = channel().blocks.find(name);
    existed = it != channel().blocks.end();
    if (!existed) it = channel().blocks.emplace(name, std::vector<unsigned char>(size, 0)).first;
    // As on POSIX: a shorter block an older launcher made is zero-extended.
    if (it->second.size() < size) it->second.resize(size, 0);
    SharedMappingPtr mapping(new SharedMapping);
    mapping->name = name;
    return mapping;
}

SharedMappingPtr openSharedMapping(const std::string& name, std::size_t size) {
    channel().log.push_back("open " + name);
    const auto it = channel().blocks.find(name);
    if (it == channel().blocks.end() || it->second.size() < size) return nullptr;
    SharedMappingPtr mapping(new SharedMapping);
    mapping->name = name;
    return mapping;
}

SharedMappingPtr replaceSharedMapping(const std::string& name, std::size_t size) {
    if (!channel().replaceableBlocks) return nullptr;
    channel().log.push_back("replace");
    channel().blocks[name].assign(size, 0);
    SharedMappingPtr mapping(new SharedMapping);
    mapping->name = name;
    return mapping;
}

void* mapSharedView(SharedMapping& mapping) {
    if (channel().refuseViews) return nullptr;
    mapping.view = channel().blocks.at(mapping.name).data();
    return mapping.view;
}

void unmapSharedView(SharedMapping& mapping) {
    channel().log.push_back("unmap");
    mapping.view = nullptr;
}

InstanceTurnPtr acquireInstanceTurn(const std::string& name, std::uint32_t timeoutMs) {
    channel().turnTimeouts.push_back(timeoutMs);
    if (channel().refuseTurns) return nullptr;
    channel().turns.push_back(name);
    channel().log.push_back("turn");
    ++channel().turnsHeld;
    return InstanceTurnPtr(new InstanceTurn);
}

AcknowledgementPtr createAcknowledgement(const std::string&) {
    return AcknowledgementPtr(new Acknowledgement);
}

AcknowledgementPtr openAcknowledgement(const std::string&) {
    if (!channel().firstAcknowledges) return nullptr;
    return AcknowledgementPtr(new Acknowledgement);
}

void clearAcknowledgement(Acknowledgement&) { channel().log.push_back("ack-clear"); }

bool acknowledge(Acknowledgement&, std::uint32_t requesterThreadId) {
    if (channel().goneRequesters.count(requesterThreadId) != 0) return false;
    channel().acknowledged.push_back(requesterThreadId);
    channel().log.push_back("ack");
    return true;
}

bool waitForAcknowledgement(Acknowledgement&, std::uint32_t, std::uint64_t, std::uint32_t timeoutMs) {
    channel().log.push_back(channel().turnsHeld > 0 ? "ack-wait" : "ack-wait-without-turn");
    channel().acknowledgementTimeouts.push_back(timeoutMs);
    return channel().firstTakesArguments;
}

std::uint32_t registerMessage(const std::string&) { return channel().registeredMessage; }

std::uint32_t currentThreadId() { return channel().threadId; }

std::uint32_t currentProcessId() { return channel().processId; }

bool prepareThreadQueue() {
    ++channel().preparedQueues;
    channel().log.push_back("queue");
    return true;
}

bool postThreadMessage(std::uint32_t threadId, std::uint32_t number, std::uint32_t wParam,
                       std::uint32_t lParam) {
    channel().log.push_back("post");
    if (channel().refusePosts) return false;
    channel().posts.push_back({threadId, number, wParam, lParam});
    return true;
}

void postQuitMessage(std::uint32_t threadId) { channel().quitPosts.push_back(threadId); }

bool getThreadMessage(ThreadMessage& message) {
    if (channel().queue.empty()) return false;  // the test's script is over: as if told to quit
    message = channel().queue.front();
    channel().queue.pop_front();
    return message.number != quitMessage;
}

bool peekThreadMessage(ThreadMessage& message) {
    channel().log.push_back("peek");
    if (channel().queue.empty()) return false;
    message = channel().queue.front();
    channel().queue.pop_front();
    return true;
}

ListenerThreadPtr startListenerThread(ThreadBody body, void* parameter, std::uint32_t* idSlot) {
    if (channel().refuseListener) return nullptr;
    channel().listenerBody = body;
    channel().listenerParameter = parameter;
    *idSlot = channel().listenerThreadId;
    channel().log.push_back("listener");
    return ListenerThreadPtr(new ListenerThread);
}

bool listenerIsActive(ListenerThread&) {
    if (channel().listenerActivePolls <= 0) return false;
    --channel().listenerActivePolls;
    return true;
}

std::uint64_t processStartTime(std::uint32_t) { return 0; }

ProcessPtr openProcess(std::uint32_t processId, std::uint64_t) {
    if (channel().openableProcesses.count(processId) == 0) return nullptr;
    ProcessPtr process(new Process);
    process->processId = processId;
    return process;
}

bool processExitCode(Process&, std::uint32_t& exitCode) {
    channel().log.push_back("exit-code");
    // A script that runs out means the first process is still running and the test forgot it.
    if (channel().exitCodes.empty()) std::abort();
    const std::optional<std::uint32_t> code = channel().exitCodes.front();
    channel().exitCodes.pop_front();
    if (!code) return false;
    exitCode = *code;
    return true;
}

bool isInstanceProcessRunning(std::uint32_t processId) {
    return channel().runningInstances.count(processId) != 0;
}

void waitForMessageOrEnd(Process&, std::uint32_t timeoutMs) {
    channel().waits.push_back(timeoutMs);
    channel().log.push_back("wait");
}

void sleepMilliseconds(std::uint32_t milliseconds) {
    channel().sleeps.push_back(milliseconds);
    channel().log.push_back("sleep");
}

}  // namespace platform
}  // namespace qn
