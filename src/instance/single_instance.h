#pragma once
// Keeping an application to one running instance.

#include <cstdint>
#include <string>
#include <vector>

namespace qn {

class Launcher;

/// What the listener hands to a worker; the worker owns and frees it.
struct InstanceRequest {
    std::uint32_t requesterThreadId = 0;
    std::uint32_t replyMessage = 0;
    std::uint32_t requestId = 0;         // carried by the reply; 0 for a launcher of before
    std::vector<std::string> arguments;  // copied out of the block when the request arrived
    Launcher* launcher = nullptr;
};

/// Suffix of the main-started event's name.
inline constexpr const char* mainStartedEventSuffix = "_upr_evt";
/// Suffix of the turn that later instances take to write the block one after another.
inline constexpr const char* instanceTurnSuffix = "_upr_mtx";
/// Suffix of the listener's acknowledgement that it has copied a request's arguments.
inline constexpr const char* acknowledgementSuffix = "_upr_ack";
/// How long an ending first instance waits for its turn: a later start that holds it is waiting
/// for this very process's listener, which still answers; one that never lets go is not waited for
/// beyond this.
inline constexpr std::uint32_t teardownTurnTimeoutMs = 30000;
/// How long a later instance waits for its reply or the first process's end before it looks again.
inline constexpr std::uint32_t replyRecheckMs = 1000;
/// A later instance's result when the first process's exit code cannot be learnt.
inline constexpr std::int32_t unknownFirstInstanceResult = -1;

/// The executable whose path names the instance: the GUI program beside a console companion
/// (ledger.exe for ledger.com, as its folder spells it), else the path itself.
std::string instanceExecutable(const std::string& path);
/// False only when a later instance fails to hand its arguments over.
bool setUpSingleInstance(Launcher& launcher);
/// The whole run phase of a later instance; its result is the exit code.
std::int32_t waitForFirstInstance(Launcher& launcher);
/// Body of the first instance's listener thread; the parameter is the Launcher.
std::uint32_t runListener(void* launcher);
/// Body of one worker thread; the parameter is an InstanceRequest, which it frees.
std::uint32_t handleRequest(void* request);
/// Teardown of the coordination (listener, block, event).
void endSingleInstance(Launcher& launcher);

}  // namespace qn
