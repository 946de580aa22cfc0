// The launcher's two questions: in a window when the user sees a desktop but no terminal;
// otherwise the runtime question is answered as Cancel after saying where to get a runtime, and
// the exception question is asked only on a terminal.

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/dialogs.h"
#include "platform/posix/window_helper.h"
#include "res/download_link.h"
#include "text/modified_utf8.h"
#include "text/terminal_answer.h"

namespace qn::platform {

namespace {

/// One line typed at the terminal, without its line feed; nothing at end of input.
std::optional<std::string> readTerminalLine() {
    std::string line;
    for (;;) {
        char c;
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (line.empty()) return std::nullopt;
            return line;
        }
        if (c == '\n') return line;
        line += c;
    }
}

}  // namespace

std::optional<ChosenRuntime> askForRuntimeFolder(const std::string& messageText,
                                                 const RuntimeFolderCheck& checkFolder) {
    std::optional<ChosenRuntime> choice;
    if (windowsWanted() && askForRuntimeInWindow(messageText, checkFolder, choice)) return choice;
    // Nobody can browse here; a script must not wait for an answer that never comes.
    std::fprintf(stderr, "%s\n%s\n", messageText.c_str(), QN_DOWNLOAD_LINK);
    std::fflush(stderr);
    return std::nullopt;
}

bool askStopAfterException(const std::string& text) {
    if (windowsWanted()) {
        if (const std::optional<bool> stop = askStopInWindow(text)) return *stop;
    }
    if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) return false;
    // The full trace went to the Java error stream, which may be a file; name the exception here.
    std::fprintf(stderr,
                 "The java process has thrown the following uncaught exception:\n  %s\n"
                 "WARNING: If you choose to Stop the application any unsaved data will be lost.\n",
                 firstLine(text).c_str());
    for (;;) {
        std::fputs("Ignore or Stop? [I/s] ", stderr);
        std::fflush(stderr);
        const std::optional<std::string> line = readTerminalLine();
        if (!line) {
            std::fputc('\n', stderr);
            return false;  // end of input: nobody is there to answer
        }
        if (const auto answer = parseExceptionAnswer(*line)) return *answer == ExceptionAnswer::Stop;
    }
}

std::string displayText(const std::u16string& text) { return encodeUtf8(text); }

}  // namespace qn::platform
