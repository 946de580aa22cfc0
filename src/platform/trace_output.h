#pragma once
// What the launch trace needs from the system: where its lines go and how old the process is.
// Every call leaves the calling thread's last system error as it found it, so a trace line written
// between a failing call and the reading of its error code never changes the code reported.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qn::platform {

class TraceOutput;  // defined by each backend
struct TraceOutputDeleter {
    void operator()(TraceOutput* output) const;  // closes a file; standard error stays open
};
using TraceOutputPtr = std::unique_ptr<TraceOutput, TraceOutputDeleter>;

/// Opens a file for appending, created when missing and not inherited by child processes; null
/// when it cannot be opened. Never waits for a reader (a named pipe without one is refused).
TraceOutputPtr openTraceFile(const std::string& path);
/// The process's standard error; null when it has none.
TraceOutputPtr openTraceStandardError();
/// Appends the line and the platform's line end in one write, so that lines of processes sharing
/// the file stay whole; false when not all of it was written.
bool writeTraceLine(TraceOutput& output, const std::string& line);

/// Milliseconds since the process was created; nothing when the system cannot tell.
std::optional<std::uint64_t> processAgeMilliseconds();
/// The user's folder for temporary files, ending in a separator; empty when it is unknown.
std::string temporaryFolder();

}  // namespace qn::platform
