// Test driver for the Windows end-to-end suite. It runs inside wine next to the launcher:
//
//   qn_driver.exe run SCRIPT       start a program, watch, record and answer its windows
//   qn_driver.exe strings EXE FIRST LAST
//                                  print the string-table entries of EXE as the system loads them
//   qn_driver.exe memory           print what the two memory-status calls report
//
// SCRIPT is a text file of lines "key value" (value: the rest of the line, with %XX escapes for
// bytes that a line cannot hold). Keys:
//   exe PATH            the executable (lpApplicationName)
//   cmdline TEXT        the exact command line handed to CreateProcessA
//   cwd PATH            the child's current folder
//   env NAME=VALUE      set for the child;  unset NAME   removed for the child
//   timeout MS          overall time limit (default 30000); on expiry the child is terminated
//   settle MS           how long a new window is left alone before it is read (default 150)
//   out PATH            the transcript file (also written to standard output)
//   dismiss on|off      answer windows that no step is left for (default on)
//   streams PATH        the child's standard output and error go to the files PATH.out and PATH.err;
//                       it reads its standard input from PATH.in when that file exists
//   console CODEPAGE    the child shares a new console of that output code page with the driver;
//                       its text is reported as a "console" event (UTF-8)
//   step ACTION         one action, executed in order; see runStep
//
// The transcript is one JSON object per line. Texts are the ANSI bytes, each byte >= 0x80 written
// as \u00XX (so a reader decodes them as Latin-1 to get the bytes back).

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// --- Output -------------------------------------------------------------------------------------

FILE* transcriptFile = nullptr;
DWORD startTick = GetTickCount();

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        char escape[8];
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void emit(std::string line) {
    // Milliseconds since the driver started, for finding slow steps.
    if (line.size() > 2 && line.back() == '}') {
        line.insert(line.size() - 1, ",\"ms\":" + std::to_string(GetTickCount() - startTick));
    }
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (transcriptFile) {
        std::fputs(line.c_str(), transcriptFile);
        std::fputc('\n', transcriptFile);
        std::fflush(transcriptFile);
    }
}

std::string hexHandle(HWND window) {
    char text[32];
    std::snprintf(text, sizeof text, "\"%llx\"",
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)));
    return text;
}

// --- Script -------------------------------------------------------------------------------------

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string hex = text.substr(i + 1, 2);
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (hex.size() == 2 && end == hex.c_str() + 2) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

struct Script {
    std::string exe;
    std::string commandLine;
    bool hasCommandLine = false;
    std::string currentFolder;
    std::vector<std::pair<std::string, std::string>> setVariables;
    std::vector<std::string> unsetVariables;
    DWORD timeoutMs = 30000;
    DWORD settleMs = 150;
    std::string out;
    bool dismiss = true;
    std::string streams;
    UINT consoleCodePage = 0;  // 0: no console
    std::vector<std::string> steps;
};

bool readScript(const char* path, Script& script) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    std::string content;
    char chunk[4096];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, count);
    std::fclose(file);
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : unescape(line.substr(space + 1));
        if (key == "exe") script.exe = value;
        else if (key == "cmdline") { script.commandLine = value; script.hasCommandLine = true; }
        else if (key == "cwd") script.currentFolder = value;
        else if (key == "env") {
            const std::size_t equals = value.find('=');
            script.setVariables.emplace_back(value.substr(0, equals),
                                             equals == std::string::npos ? "" : value.substr(equals + 1));
        }
        else if (key == "unset") script.unsetVariables.push_back(value);
        else if (key == "timeout") script.timeoutMs = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
        else if (key == "settle") script.settleMs = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
        else if (key == "out") script.out = value;
        else if (key == "dismiss") script.dismiss = value != "off";
        else if (key == "streams") script.streams = value;
        else if (key == "console") script.consoleCodePage = std::strtoul(value.c_str(), nullptr, 10);
        else if (key == "step") script.steps.push_back(value);
        else {
            std::fprintf(stderr, "qn_driver: unknown script key %s\n", key.c_str());
            return false;
        }
    }
    return true;
}

// --- Windows of the child -----------------------------------------------------------------------

std::string className(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// WM_GETTEXT, because GetWindowText does not read the text of another process's controls.
std::string windowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
        return "";
    }
    std::vector<char> buffer(length + 2, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, 2000, &copied)) {
        return "";
    }
    return std::string(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
}

struct Control {
    HWND handle;
    int id;
    std::string windowClass;
    std::string text;
    LONG style;
    bool enabled;
    bool visible;
    RECT rect;  // in the dialog's client coordinates
};

BOOL CALLBACK collectChild(HWND child, LPARAM raw) {
    auto* list = reinterpret_cast<std::vector<HWND>*>(raw);
    list->push_back(child);
    return TRUE;
}

std::vector<Control> controlsOf(HWND window) {
    std::vector<HWND> children;
    EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&children));
    std::vector<Control> controls;
    for (HWND child : children) {
        if (GetParent(child) != window) continue;  // direct children only, in z (template) order
        Control control{};
        control.handle = child;
        control.id = GetDlgCtrlID(child);
        control.windowClass = className(child);
        control.text = windowText(child);
        control.style = GetWindowLongA(child, GWL_STYLE);
        control.enabled = IsWindowEnabled(child) != FALSE;
        control.visible = IsWindowVisible(child) != FALSE;
        GetWindowRect(child, &control.rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&control.rect), 2);
        controls.push_back(control);
    }
    return controls;
}

std::string rectJson(const RECT& rect) {
    char text[96];
    std::snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", rect.left, rect.top, rect.right, rect.bottom);
    return text;
}

struct Seen {
    HWND handle;
    int index;
    std::string windowClass;
};

class Watcher {
public:
    Watcher(DWORD processId, HANDLE process) : processId_(processId), process_(process) {}

    /// Visible top-level windows of the child that have not been reported yet, oldest first.
    std::vector<HWND> newWindows() {
        std::vector<HWND> found;
        EnumWindows(collectTop, reinterpret_cast<LPARAM>(this));
        for (HWND window : current_) {
            if (known_.count(window) == 0) found.push_back(window);
        }
        current_.clear();
        return found;
    }

    int record(HWND window, const char* event) {
        int index;
        auto it = known_.find(window);
        if (it == known_.end()) {
            index = static_cast<int>(known_.size());
            known_[window] = index;
        } else {
            index = it->second;
        }
        std::string line = "{\"event\":" + jsonText(event) + ",\"window\":" + std::to_string(index) +
                           ",\"hwnd\":" + hexHandle(window) + ",\"class\":" + jsonText(className(window)) +
                           ",\"caption\":" + jsonText(windowText(window));
        HWND owner = GetWindow(window, GW_OWNER);
        auto ownerIt = known_.find(owner);
        line += ",\"owner\":" + (ownerIt != known_.end() ? std::to_string(ownerIt->second)
                                                          : std::string(owner ? "\"other\"" : "null"));
        RECT rect;
        GetWindowRect(window, &rect);
        line += ",\"rect\":" + rectJson(rect);
        RECT client;
        GetClientRect(window, &client);
        line += ",\"client\":" + rectJson(client);
        char style[64];
        std::snprintf(style, sizeof style, ",\"style\":%lu,\"exstyle\":%lu",
                      static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
                      static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
        line += style;
        line += ",\"controls\":[";
        bool first = true;
        for (const Control& control : controlsOf(window)) {
            if (!first) line += ",";
            first = false;
            line += "{\"id\":" + std::to_string(control.id) + ",\"class\":" + jsonText(control.windowClass) +
                    ",\"text\":" + jsonText(control.text) +
                    ",\"style\":" + std::to_string(static_cast<unsigned long>(control.style)) +
                    ",\"enabled\":" + (control.enabled ? "true" : "false") +
                    ",\"visible\":" + (control.visible ? "true" : "false") +
                    ",\"rect\":" + rectJson(control.rect) + "}";
        }
        line += "]}";
        emit(line);
        return index;
    }

    bool isKnown(HWND window) const { return known_.count(window) != 0; }
    int indexOf(HWND window) const {
        auto it = known_.find(window);
        return it == known_.end() ? -1 : it->second;
    }
    HANDLE process() const { return process_; }

private:
    static BOOL CALLBACK collectTop(HWND window, LPARAM raw) {
        auto* self = reinterpret_cast<Watcher*>(raw);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == self->processId_ && IsWindowVisible(window)) self->current_.push_back(window);
        return TRUE;
    }

    DWORD processId_;
    HANDLE process_;
    std::map<HWND, int> known_;
    std::vector<HWND> current_;
};

// --- Actions ------------------------------------------------------------------------------------

std::string withoutAmpersands(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '&') out += c;
    }
    return out;
}

/// A control by decimal id, or by its text (with or without the & of its mnemonic).
HWND findControl(HWND window, const std::string& what, int& id) {
    char* end = nullptr;
    const long number = std::strtol(what.c_str(), &end, 10);
    const bool byId = !what.empty() && end && *end == '\0';
    for (const Control& control : controlsOf(window)) {
        if ((byId && control.id == number) ||
            (!byId && (control.text == what || withoutAmpersands(control.text) == what))) {
            id = control.id;
            return control.handle;
        }
    }
    return nullptr;
}

class Runner {
public:
    Runner(const Script& script, Watcher& watcher, DWORD deadline)
        : script_(script), watcher_(watcher), deadline_(deadline) {}

    bool timedOut() const { return static_cast<LONG>(GetTickCount() - deadline_) >= 0; }
    bool childEnded() const { return WaitForSingleObject(watcher_.process(), 0) == WAIT_OBJECT_0; }

    /// Waits for the next window not yet taken by a step (of the class, or any dialog when empty),
    /// records it and makes it the target. False when the child ended or time ran out first.
    bool takeWindow(const std::string& wantedClass) {
        for (;;) {
            for (HWND window : pending()) {
                const std::string windowClass = className(window);
                if (wantedClass.empty() ? windowClass == "#32770" : windowClass == wantedClass) {
                    taken_.insert(window);
                    targets_.push_back(window);
                    return true;
                }
            }
            if (childEnded() || timedOut()) return false;
            Sleep(20);
        }
    }

    /// The current target: the latest taken window that still exists, waiting for one if none.
    HWND target() {
        while (!targets_.empty() && !IsWindow(targets_.back())) targets_.pop_back();
        if (targets_.empty() && !takeWindow("")) return nullptr;
        return targets_.back();
    }

    /// Records every window that has appeared since the last look (after letting it settle).
    std::vector<HWND> pending() {
        for (HWND window : watcher_.newWindows()) {
            Sleep(script_.settleMs);
            if (!IsWindow(window)) continue;
            watcher_.record(window, "window");
            backlog_.push_back(window);
        }
        std::vector<HWND> open;
        for (HWND window : backlog_) {
            if (taken_.count(window) == 0 && IsWindow(window)) open.push_back(window);
        }
        return open;
    }

    void fail(const std::string& step, const std::string& why) {
        emit("{\"event\":\"step-failed\",\"step\":" + jsonText(step) + ",\"reason\":" + jsonText(why) + "}");
    }

    /// Presses a button the way its click does: a BN_CLICKED command to its dialog. A disabled
    /// control cannot be pressed by a user, so it is refused here too.
    bool press(const std::string& step, HWND window, const std::string& what) {
        int id = 0;
        HWND control = findControl(window, what, id);
        if (!control) {
            fail(step, "no such control");
            return false;
        }
        if (!IsWindowEnabled(control)) {
            fail(step, "control is disabled");
            return false;
        }
        emit("{\"event\":\"press\",\"window\":" + std::to_string(watcher_.indexOf(window)) +
             ",\"control\":" + std::to_string(id) + "}");
        // Posted, not sent: the command may open a modal window of its own (Browse...).
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
        settleAfter(window);
        return true;
    }

    /// Gives the window time to close or to open a new one, so the next step sees the result.
    void settleAfter(HWND window) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 1500) {
            if (!IsWindow(window) || childEnded()) return;
            // A new window (only looked at here; pending() reports it) ends the wait too.
            if (!watcher_.newWindows().empty()) return;
            Sleep(20);
        }
    }

    bool sendKey(const std::string& step, HWND window, const std::string& name) {
        static const std::map<std::string, WPARAM> keys = {
            {"ESC", VK_ESCAPE}, {"ENTER", VK_RETURN}, {"SPACE", VK_SPACE}, {"TAB", VK_TAB}};
        auto it = keys.find(name);
        if (it == keys.end()) {
            fail(step, "unknown key");
            return false;
        }
        GUITHREADINFO info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        const DWORD thread = GetWindowThreadProcessId(window, nullptr);
        HWND focus = GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : window;
        emit("{\"event\":\"key\",\"window\":" + std::to_string(watcher_.indexOf(window)) +
             ",\"key\":" + jsonText(name) + "}");
        PostMessageA(focus, WM_KEYDOWN, it->second, 1);
        PostMessageA(focus, WM_KEYUP, it->second, static_cast<LPARAM>(0xC0000001u));
        settleAfter(window);
        return true;
    }

    /// Hands the folder browser its folder. BFFM_SETSELECTIONA takes a pointer in the browser's
    /// own process, so the path is copied there first.
    bool browse(const std::string& step, HWND window, const std::string& folder) {
        void* remote = VirtualAllocEx(watcher_.process(), nullptr, folder.size() + 1,
                                      MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!remote || !WriteProcessMemory(watcher_.process(), remote, folder.c_str(), folder.size() + 1, nullptr)) {
            fail(step, "cannot copy the folder into the child");
            return false;
        }
        DWORD_PTR result = 0;
        // Twice: wine's browser misses the first selection of a folder it has not shown before.
        for (int attempt = 0; attempt < 2; ++attempt) {
            SendMessageTimeoutA(window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(remote),
                                SMTO_ABORTIFHUNG, 5000, &result);
            Sleep(script_.settleMs);
        }
        emit("{\"event\":\"browse\",\"window\":" + std::to_string(watcher_.indexOf(window)) +
             ",\"folder\":" + jsonText(folder) + "}");
        Sleep(script_.settleMs);
        watcher_.record(window, "snapshot");
        // The allocation stays: the browser may keep reading it until it closes.
        return press(step, window, "1");
    }

    /// Runs one step. Actions:
    ///   window[:CLASS]   wait for the next new dialog (or window of CLASS) and make it the target
    ///   press:ID|TEXT    press a button of the target (waits for a dialog when there is none)
    ///   key:ESC|ENTER|SPACE|TAB   a key to the target's focused control
    ///   close            the caption's close button (SC_CLOSE)
    ///   snapshot         record the target again
    ///   browse:FOLDER    wait for the folder browser, select FOLDER, press its OK
    ///   wait:MS          pause
    ///   maximize, restore, resize:W,H   the target's size
    ///   signal:PATH, await:PATH         create a file; wait until a file exists
    bool runStep(const std::string& step) {
        const std::size_t colon = step.find(':');
        const std::string action = step.substr(0, colon);
        const std::string argument = colon == std::string::npos ? "" : step.substr(colon + 1);
        if (action == "wait") {
            Sleep(static_cast<DWORD>(std::strtoul(argument.c_str(), nullptr, 10)));
            return true;
        }
        if (action == "window" || action == "browse") {
            if (!takeWindow(action == "window" ? argument : "")) {
                fail(step, "no window appeared");
                return false;
            }
            if (action == "window") return true;
            return browse(step, targets_.back(), argument);
        }
        HWND window = target();
        if (!window) {
            fail(step, "no window appeared");
            return false;
        }
        if (action == "press") return press(step, window, argument);
        if (action == "key") return sendKey(step, window, argument);
        if (action == "snapshot") {
            watcher_.record(window, "snapshot");
            return true;
        }
        if (action == "maximize" || action == "restore") {
            emit("{\"event\":" + jsonText(action) + ",\"window\":" + std::to_string(watcher_.indexOf(window)) + "}");
            PostMessageA(window, WM_SYSCOMMAND, action == "maximize" ? SC_MAXIMIZE : SC_RESTORE, 0);
            Sleep(script_.settleMs);
            return true;
        }
        if (action == "resize") {
            // resize:W,H in pixels, the window's outer size; the system applies its limits.
            int width = 0, height = 0;
            if (std::sscanf(argument.c_str(), "%d,%d", &width, &height) != 2) {
                fail(step, "resize needs W,H");
                return false;
            }
            emit("{\"event\":\"resize\",\"window\":" + std::to_string(watcher_.indexOf(window)) +
                 ",\"size\":[" + std::to_string(width) + "," + std::to_string(height) + "]}");
            SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            Sleep(script_.settleMs);
            return true;
        }
        if (action == "signal" || action == "await") {
            // signal:PATH creates the file; await:PATH waits for it (a test that looks at the
            // screen meanwhile answers this way), both within the run's time limit.
            if (action == "signal") {
                FILE* file = std::fopen(argument.c_str(), "wb");
                if (file) std::fclose(file);
                emit("{\"event\":\"signal\",\"path\":" + jsonText(argument) + "}");
                return file != nullptr;
            }
            while (GetFileAttributesA(argument.c_str()) == INVALID_FILE_ATTRIBUTES) {
                if (timedOut()) {
                    fail(step, "nothing arrived");
                    return false;
                }
                Sleep(20);
            }
            return true;
        }
        if (action == "close") {
            emit("{\"event\":\"close\",\"window\":" + std::to_string(watcher_.indexOf(window)) + "}");
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            settleAfter(window);
            return true;
        }
        fail(step, "unknown action");
        return false;
    }

    /// Answers a window no step is left for, so that a test never hangs on it.
    void dismiss(HWND window) {
        int id = 0;
        HWND control = findControl(window, "2", id);
        if (!control) control = findControl(window, "1", id);
        emit("{\"event\":\"dismiss\",\"window\":" + std::to_string(watcher_.indexOf(window)) +
             ",\"control\":" + (control ? std::to_string(id) : std::string("null")) + "}");
        if (control) {
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
        } else {
            PostMessageA(window, WM_CLOSE, 0, 0);
        }
        taken_.insert(window);
    }

    void dismissRemaining() {
        for (HWND window : pending()) {
            if (className(window) == "#32770") {
                if (script_.dismiss) dismiss(window);
            } else {
                taken_.insert(window);  // other windows (a splash) are only reported
            }
        }
    }

private:
    const Script& script_;
    Watcher& watcher_;
    DWORD deadline_;
    std::set<HWND> taken_;
    std::vector<HWND> targets_;
    std::vector<HWND> backlog_;
};

// --- The child's console -------------------------------------------------------------------------

/// The console's rows up to its cursor, one after the other, as UTF-8: what a user reads there,
/// whatever code page the writer used.
std::string consoleText() {
    HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info;
    std::wstring text;
    if (screen != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(screen, &info)) {
        text.resize(static_cast<std::size_t>(info.dwSize.X) * static_cast<std::size_t>(info.dwCursorPosition.Y + 1));
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, &text[0], static_cast<DWORD>(text.size()), COORD{0, 0}, &read);
        text.resize(read);
    }
    CloseHandle(screen);
    const int size = static_cast<int>(text.size());
    std::string utf8(3 * text.size(), '\0');
    utf8.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &utf8[0], 3 * size, nullptr, nullptr)));
    return utf8;
}

// --- Modes --------------------------------------------------------------------------------------

int runMode(const char* scriptPath) {
    Script script;
    if (!readScript(scriptPath, script)) {
        std::fprintf(stderr, "qn_driver: cannot read script %s\n", scriptPath);
        return 2;
    }
    if (!script.out.empty()) transcriptFile = std::fopen(script.out.c_str(), "wb");

    for (const auto& variable : script.setVariables) {
        SetEnvironmentVariableA(variable.first.c_str(), variable.second.c_str());
    }
    for (const auto& name : script.unsetVariables) SetEnvironmentVariableA(name.c_str(), nullptr);

    std::string commandLine = script.hasCommandLine ? script.commandLine : "\"" + script.exe + "\"";
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    std::memset(&child, 0, sizeof child);
    if (script.consoleCodePage) {
        // A console of the driver's own, which the child (a console program) inherits.
        FreeConsole();
        AllocConsole();
        SetConsoleOutputCP(script.consoleCodePage);
    }
    if (!script.streams.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        startup.dwFlags |= STARTF_USESTDHANDLES;
        const auto file = [&](const char* ending) {
            return CreateFileA((script.streams + ending).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, 0, nullptr);
        };
        startup.hStdInput = CreateFileA((script.streams + ".in").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        &inherit, OPEN_EXISTING, 0, nullptr);
        startup.hStdOutput = file(".out");
        startup.hStdError = file(".err");
    }
    emit("{\"event\":\"start\",\"exe\":" + jsonText(script.exe) + ",\"cmdline\":" + jsonText(commandLine) + "}");
    if (!CreateProcessA(script.exe.empty() ? nullptr : script.exe.c_str(), mutableLine.data(), nullptr,
                        nullptr, !script.streams.empty(), 0, nullptr,
                        script.currentFolder.empty() ? nullptr : script.currentFolder.c_str(), &startup,
                        &child)) {
        const DWORD error = GetLastError();
        emit("{\"event\":\"start-failed\",\"error\":" + std::to_string(error) + "}");
        return 3;
    }
    CloseHandle(child.hThread);

    Watcher watcher(child.dwProcessId, child.hProcess);
    Runner runner(script, watcher, GetTickCount() + script.timeoutMs);
    std::size_t done = 0;
    for (; done < script.steps.size(); ++done) {
        if (!runner.runStep(script.steps[done])) break;
        if (runner.timedOut()) break;
    }
    if (done < script.steps.size()) {
        emit("{\"event\":\"unfinished\",\"steps\":" + std::to_string(script.steps.size() - done) + "}");
    }
    while (!runner.childEnded() && !runner.timedOut()) {
        runner.dismissRemaining();
        Sleep(20);
    }
    runner.pending();  // report windows that appeared at the very end
    int status = 0;
    if (!runner.childEnded()) {
        emit("{\"event\":\"timeout\"}");
        TerminateProcess(child.hProcess, 0xDEAD);
        WaitForSingleObject(child.hProcess, 5000);
        status = 4;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hProcess);
    if (script.consoleCodePage) emit("{\"event\":\"console\",\"text\":" + jsonText(consoleText()) + "}");
    emit("{\"event\":\"exit\",\"code\":" + std::to_string(static_cast<unsigned long>(exitCode)) + "}");
    if (transcriptFile) std::fclose(transcriptFile);
    return status;
}

int stringsMode(const char* path, int first, int last) {
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        std::fprintf(stderr, "qn_driver: cannot load %s (error %lu)\n", path, GetLastError());
        return 2;
    }
    for (int id = first; id <= last; ++id) {
        char buffer[4096];
        const int length = LoadStringA(module, static_cast<UINT>(id), buffer, sizeof buffer);
        if (length > 0) {
            emit("{\"id\":" + std::to_string(id) + ",\"text\":" +
                 jsonText(std::string(buffer, static_cast<std::size_t>(length))) + "}");
        } else {
            emit("{\"id\":" + std::to_string(id) + ",\"missing\":true}");
        }
    }
    FreeLibrary(module);
    return 0;
}

int memoryMode() {
    MEMORYSTATUS basic;
    std::memset(&basic, 0, sizeof basic);
    basic.dwLength = sizeof basic;
    GlobalMemoryStatus(&basic);
    MEMORYSTATUSEX extended;
    std::memset(&extended, 0, sizeof extended);
    extended.dwLength = sizeof extended;
    GlobalMemoryStatusEx(&extended);
    char line[512];
    std::snprintf(line, sizeof line,
                  "{\"totalPhys\":%llu,\"availVirtual\":%llu,\"exTotalPhys\":%llu,\"exAvailVirtual\":%llu}",
                  static_cast<unsigned long long>(basic.dwTotalPhys),
                  static_cast<unsigned long long>(basic.dwAvailVirtual),
                  static_cast<unsigned long long>(extended.ullTotalPhys),
                  static_cast<unsigned long long>(extended.ullAvailVirtual));
    emit(line);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "run") == 0) return runMode(argv[2]);
    if (argc == 5 && std::strcmp(argv[1], "strings") == 0) {
        return stringsMode(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    }
    if (argc == 2 && std::strcmp(argv[1], "memory") == 0) return memoryMode();
    std::fputs("usage: qn_driver run SCRIPT | strings EXE FIRST LAST | memory\n", stderr);
    return 2;
}
