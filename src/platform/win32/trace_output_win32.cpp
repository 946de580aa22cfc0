// Win32 backend of the trace output: a file opened for appending data only, so that every write
// lands at its end, and the process age from its creation time.

#include "platform/trace_output.h"
#include "platform/win32/windows_h.h"

namespace qn::platform {

class TraceOutput {
public:
    TraceOutput(HANDLE handle, bool owned) : handle(handle), owned(owned) {}
    HANDLE handle;
    bool owned;
};

namespace {

/// Puts the thread's last error back when the trace's own calls are done.
class LastErrorKeeper {
public:
    LastErrorKeeper() : saved_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(saved_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD saved_;
};

std::uint64_t fileTimeValue(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

void TraceOutputDeleter::operator()(TraceOutput* output) const {
    const LastErrorKeeper keeper;
    if (output->owned) CloseHandle(output->handle);
    delete output;
}

TraceOutputPtr openTraceFile(const std::string& path) {
    const LastErrorKeeper keeper;
    // Append access without write access: the system puts every write at the current end, also
    // when another process appends to the same file. No security attributes: not inherited.
    const HANDLE handle = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return TraceOutputPtr(new TraceOutput(handle, true));
}

TraceOutputPtr openTraceStandardError() {
    const LastErrorKeeper keeper;
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    return TraceOutputPtr(new TraceOutput(handle, false));
}

bool writeTraceLine(TraceOutput& output, const std::string& line) {
    const LastErrorKeeper keeper;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    return WriteFile(output.handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

std::optional<std::uint64_t> processAgeMilliseconds() {
    const LastErrorKeeper keeper;
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return std::nullopt;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t created = fileTimeValue(creation);
    const std::uint64_t current = fileTimeValue(now);
    // The clock may have been set back since the start.
    if (current < created) return std::nullopt;
    return (current - created) / 10000;  // 100-nanosecond units
}

std::string temporaryFolder() {
    const LastErrorKeeper keeper;
    char buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) return {};
    return std::string(buffer, length);
}

}  // namespace qn::platform
