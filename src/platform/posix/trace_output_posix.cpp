// POSIX backend of the trace output: a descriptor opened for appending, and the process age from
// the kernel's record of its start.

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/trace_output.h"

namespace qn::platform {

class TraceOutput {
public:
    TraceOutput(int descriptor, bool owned) : descriptor(descriptor), owned(owned) {}
    int descriptor;
    bool owned;
};

namespace {

/// Puts errno back when the trace's own calls are done.
class ErrnoKeeper {
public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

private:
    int saved_;
};

}  // namespace

void TraceOutputDeleter::operator()(TraceOutput* output) const {
    const ErrnoKeeper keeper;
    if (output->owned) ::close(output->descriptor);
    delete output;
}

TraceOutputPtr openTraceFile(const std::string& path) {
    const ErrnoKeeper keeper;
    // Non-blocking only for the open: a named pipe without a reader is refused instead of
    // holding the start until someone reads.
    const int descriptor =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (descriptor < 0) return nullptr;
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags >= 0) ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
    return TraceOutputPtr(new TraceOutput(descriptor, true));
}

TraceOutputPtr openTraceStandardError() {
    const ErrnoKeeper keeper;
    if (::fcntl(STDERR_FILENO, F_GETFD) < 0) return nullptr;
    return TraceOutputPtr(new TraceOutput(STDERR_FILENO, false));
}

bool writeTraceLine(TraceOutput& output, const std::string& line) {
    const ErrnoKeeper keeper;
    const std::string text = line + '\n';
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(output.descriptor, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

std::optional<std::uint64_t> processAgeMilliseconds() {
    const ErrnoKeeper keeper;
    std::ifstream in("/proc/self/stat");
    std::string content;
    if (!in || !std::getline(in, content)) return std::nullopt;
    // The command name in parentheses may hold blanks and parentheses; the fields after the last
    // ")" are plain. The start time is the 22nd field, the 20th after the name.
    const std::size_t close = content.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(content.substr(close + 1));
    std::string field;
    for (int i = 0; i < 20 && fields >> field; ++i) {
    }
    unsigned long long startTicks = 0;
    if (!(fields >> startTicks)) return std::nullopt;
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    timespec now{};
    if (ticksPerSecond <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0) return std::nullopt;
    // Both count from the boot, suspended time included.
    const std::uint64_t nowMs = static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                                static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
    const std::uint64_t startMs = startTicks * 1000 / static_cast<std::uint64_t>(ticksPerSecond);
    if (startMs > nowMs) return std::nullopt;
    return nowMs - startMs;
}

std::string temporaryFolder() {
    const ErrnoKeeper keeper;
    const char* folder = std::getenv("TMPDIR");
    std::string result = folder && *folder ? folder : "/tmp";
    if (result.back() != '/') result += '/';
    return result;
}

}  // namespace qn::platform
