#include "trace/trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "platform/instance_channel.h"
#include "platform/platform.h"
#include "platform/trace_output.h"

namespace qn::trace {

namespace {

using Clock = std::chrono::steady_clock;

// The fallback origin when the system cannot tell the process's age: as early as this program
// gets to run code of its own.
const Clock::time_point moduleStart = Clock::now();

enum Phase : int { unread, off, on };

struct State {
    std::atomic<int> phase{unread};
    std::mutex mutex;  // guards the fields below and keeps lines whole
    platform::TraceOutputPtr output;
    Clock::time_point origin;
    std::uint32_t processId = 0;
    std::atomic<std::vector<std::string>*> captured{nullptr};
};

// Never destroyed: threads of the runtime may still report while the process ends.
State& state() {
    static State* const instance = new State;
    return *instance;
}

platform::TraceOutputPtr openDestination(const std::string& target) {
    if (target != "-") return platform::openTraceFile(target);
    const std::string& fileName = platform::conventions().standardErrorTraceFile;
    if (fileName.empty()) return platform::openTraceStandardError();
    const std::string folder = platform::temporaryFolder();
    if (folder.empty()) return nullptr;
    return platform::openTraceFile(platform::conventions().withTrailingSeparator(folder) + fileName);
}

Phase open(State& state) {
    const std::lock_guard<std::mutex> lock(state.mutex);
    const int phase = state.phase.load(std::memory_order_relaxed);
    if (phase != unread) return static_cast<Phase>(phase);
    const std::optional<std::string> target = platform::environmentVariable("QN_LAUNCHER_TRACE");
    if (target && !target->empty()) state.output = openDestination(*target);
    if (state.output) {
        const Clock::time_point now = Clock::now();
        const std::optional<std::uint64_t> age = platform::processAgeMilliseconds();
        state.origin = age ? now - std::chrono::milliseconds(*age) : moduleStart;
        state.processId = platform::currentProcessId();
    }
    const Phase result = state.output ? on : off;
    state.phase.store(result, std::memory_order_release);
    return result;
}

void appendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        // Backslashes stay as they are: Windows paths must read as written. A control character
        // becomes \xNN, so that one decision is always one line.
        if (byte < 0x20 || byte == 0x7f) {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            out += code;
        } else {
            out += c;
        }
    }
}

}  // namespace

bool enabled() {
    State& current = state();
    if (current.captured.load(std::memory_order_relaxed)) return true;
    const int phase = current.phase.load(std::memory_order_acquire);
    if (phase != unread) return phase == on;
    return open(current) == on;
}

void line(std::string_view category, std::string_view text) {
    if (!enabled()) return;
    State& current = state();
    const std::lock_guard<std::mutex> lock(current.mutex);
    if (std::vector<std::string>* captured = current.captured.load(std::memory_order_relaxed)) {
        captured->push_back(std::string(category) + ": " + std::string(text));
        return;
    }
    if (!current.output) return;
    const long long elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - current.origin).count();
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "%6lld [%lu] ", elapsed,
                  static_cast<unsigned long>(current.processId));
    std::string out = prefix;
    out.reserve(out.size() + category.size() + text.size() + 2);
    out.append(category.data(), category.size());
    out += ": ";
    appendEscaped(out, text);
    // A full disk or a vanished drive costs the trace, never the start.
    platform::writeTraceLine(*current.output, out);
}

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    out.append(text.data(), text.size());
    out += '"';
    return out;
}

void captureForTests(std::vector<std::string>* lines) {
    State& current = state();
    const std::lock_guard<std::mutex> lock(current.mutex);
    current.captured.store(lines, std::memory_order_relaxed);
}

void restart() {
    State& current = state();
    const std::lock_guard<std::mutex> lock(current.mutex);
    current.output.reset();
    current.captured.store(nullptr, std::memory_order_relaxed);
    current.phase.store(unread, std::memory_order_release);
}

}  // namespace qn::trace
