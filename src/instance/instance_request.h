#pragma once
// One request of a later instance as it travels through the block: the arguments in the area when
// any launcher reads them back unchanged, otherwise in an argument file that only a first instance
// of this version is handed; and the request id that ties the reply to this request.

#include <cstdint>
#include <string>
#include <vector>

#include "instance/instance_block.h"
#include "platform/instance_channel.h"
#include "res/resource_ids.h"

namespace qn {

/// Suffix of the argument file of a list the area cannot carry.
inline constexpr const char* argumentFileSuffix = "_upr_arg";

/// True when the block's first instance reads the extension (is of this version or later).
bool firstReadsExtension(const ExtendedInstanceBlock& block);
/// The first process's start time as its block says; 0 when it does not say.
std::uint64_t firstStartTimeOf(const ExtendedInstanceBlock& block);
/// First instance: says that it reads the extension, and when it started.
void publishExtension(ExtendedInstanceBlock& block, std::uint64_t startTime);

/// A request id that no other start has had: never 0, different for a process given a reused id.
std::uint32_t newRequestId(std::uint64_t startTime);

struct RequestWrite {
    bool written = false;
    int refusal = 0;              // string-table id of the message when it was not written
    std::string reason;           // its argument
    platform::SharedMappingPtr argumentFile;  // kept until the first instance has taken it
};

/// Later instance, holding the turn: leaves the arguments and the request id (0 when the first
/// instance is one of before, which does not read it) in the block.
RequestWrite writeRequest(ExtendedInstanceBlock& block, const std::string& name,
                          const std::vector<std::string>& arguments, std::uint32_t requestId);

enum class RequestState {
    taken,       // the arguments are copied
    stale,       // the message belongs to a request that is no longer in the block
    unreadable,  // the list cannot be had as it was sent
};

struct ReceivedRequest {
    RequestState state = RequestState::taken;
    std::uint32_t requestId = 0;  // 0: sent by a launcher of before, whose reply carries none
    std::string why;              // when not taken
    std::vector<std::string> arguments;
};

/// First instance's listener, for the request message whose lParam is `messageRequestId`: copies
/// the request now in the block and clears the extension's request fields.
ReceivedRequest readRequest(ExtendedInstanceBlock& block, const std::string& name,
                            std::uint32_t messageRequestId);

/// The reply's lParam that says the request could not be read (its wParam is -1).
inline std::uint32_t refusalOf(std::uint32_t requestId) { return ~requestId; }

}  // namespace qn
