#include "platform/posix/window_helper.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "text/field_record.h"
#include "trace/trace.h"

extern char** environ;

namespace qn::platform {

namespace {

constexpr const char* kHelperVariable = "QN_WINDOW_HELPER";

}  // namespace

bool variableIsSet(const char* name) {
    const std::optional<std::string> value = environmentVariable(name);
    return value && !value->empty();
}

bool RecordChannel::send(const Fields& fields) {
    const std::string record = encodeRecord(fields);
    std::size_t sent = 0;
    while (sent < record.size()) {
        // A helper that is gone must not end the launcher with SIGPIPE.
        const ssize_t written = ::send(writeFd_, record.data() + sent, record.size() - sent, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        sent += static_cast<std::size_t>(written);
    }
    return true;
}

std::optional<Fields> RecordChannel::receive() {
    for (;;) {
        DecodedRecord record = decodeRecord(buffer_);
        if (record.status == RecordStatus::Malformed) return std::nullopt;
        if (record.status == RecordStatus::Complete) {
            buffer_.erase(0, record.length);
            return std::move(record.fields);
        }
        char chunk[4096];
        const ssize_t got = ::read(readFd_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::nullopt;
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
}

bool windowsWanted() {
    const bool display = variableIsSet("DISPLAY") || variableIsSet("WAYLAND_DISPLAY");
    const bool terminal = ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
    return display && !terminal;
}

bool WindowHelper::open(const char* kind, const Fields& request) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    std::string path;
    std::uint32_t errorCode = 0;
    if (!moduleFileName(path, errorCode)) path = "qnlauncher";

    // The helper's environment is the launcher's with the marker that makes it one.
    const std::string marker = std::string(kHelperVariable) + "=" + kind;
    std::vector<char*> environment;
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, kHelperVariable, std::strlen(kHelperVariable)) != 0) environment.push_back(*entry);
    }
    environment.push_back(const_cast<char*>(marker.c_str()));
    environment.push_back(nullptr);
    // argv[0] names the program, so its windows carry the application executable's name.
    char* arguments[] = {const_cast<char*>(path.c_str()), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    // The toolkit's warnings would only mix into the application's error stream.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t process = -1;
    const int failed = ::posix_spawn(&process, "/proc/self/exe", &actions, nullptr, arguments,
                                     environment.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        if (trace::enabled()) trace::line("window", std::string("no helper: ") + std::strerror(failed));
        return false;
    }
    socket_ = ends[0];
    process_ = process;
    channel_.emplace(socket_, socket_);
    return channel_->send(request);
}

std::optional<Fields> WindowHelper::receive() {
    if (!channel_) return std::nullopt;
    std::optional<Fields> record = channel_->receive();
    if (!record || record->empty()) {
        trace::line("window", "the helper ended without an answer");
        return std::nullopt;
    }
    if ((*record)[0] == "unavailable") {
        if (trace::enabled()) {
            trace::line("window", "no window: " + (record->size() > 1 ? (*record)[1] : std::string()) +
                                      "; the text goes to standard error");
        }
        return std::nullopt;
    }
    return record;
}

bool WindowHelper::send(const Fields& fields) { return channel_ && channel_->send(fields); }

void WindowHelper::close() {
    channel_.reset();
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
    if (process_ > 0) {
        int status = 0;
        while (::waitpid(process_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    process_ = -1;
}

WindowHelper::~WindowHelper() { close(); }

}  // namespace qn::platform
