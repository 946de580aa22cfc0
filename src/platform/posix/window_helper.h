#pragma once
// The launcher's windows on Linux are shown by a helper: the launcher's own executable started
// again with QN_WINDOW_HELPER naming the window. So no toolkit is ever loaded into the process
// that hosts the Java runtime, whose own toolkit (AWT, JavaFX, SWT) may run a GTK main loop
// there already. The two talk over a socket in records of text fields (text/field_record.h).

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace qn::platform {

using Fields = std::vector<std::string>;

/// One end of the socket between the launcher and its window helper.
class RecordChannel {
public:
    RecordChannel(int readFd, int writeFd) : readFd_(readFd), writeFd_(writeFd) {}
    bool send(const Fields& fields);
    /// The next record; nothing at end of input or when the other side sent a malformed one.
    std::optional<Fields> receive();

private:
    int readFd_;
    int writeFd_;
    std::string buffer_;
};

/// True when the environment variable holds a value, not just an empty one.
bool variableIsSet(const char* name);

/// True when the user can see windows (DISPLAY or WAYLAND_DISPLAY) but has no terminal to answer
/// on (standard input or error is not one).
bool windowsWanted();

/// The launcher's side: a running helper showing one window.
class WindowHelper {
public:
    WindowHelper() = default;
    ~WindowHelper();  // ends the conversation and waits for the helper to exit
    WindowHelper(const WindowHelper&) = delete;
    WindowHelper& operator=(const WindowHelper&) = delete;

    /// Starts the helper for `kind` and hands it `request`; false when it cannot be started.
    bool open(const char* kind, const Fields& request);
    /// The helper's next record. Nothing when it ended or could show no window (the reason goes
    /// to the trace); the caller then falls back to text.
    std::optional<Fields> receive();
    bool send(const Fields& fields);
    /// Closes the socket (the helper ends its window) and waits for the helper to exit.
    void close();

private:
    int socket_ = -1;
    pid_t process_ = -1;
    std::optional<RecordChannel> channel_;
};

// The launcher's questions and messages in windows. Each says whether a window was shown, so
// that the caller falls back to text when none could be.

/// The error window, titled with the application's name (or "Error").
bool showErrorWindow(const std::string& title, const std::string& text);
/// The exception question: Stop (true) or Ignore; nothing when no window was shown.
std::optional<bool> askStopInWindow(const std::string& text);
/// The missing-runtime question; false when no window was shown, else `choice` holds the answer.
bool askForRuntimeInWindow(const std::string& messageText, const RuntimeFolderCheck& checkFolder,
                           std::optional<ChosenRuntime>& choice);

/// The helper's side, called by the entry point when QN_WINDOW_HELPER is set: reads one request
/// on standard input, shows the window and answers on standard output. Gives the exit code.
int runWindowHelper(const char* kind, int argc, char** argv);

}  // namespace qn::platform

