// Test probe for the splash window, run inside wine beside the launcher:
//
//   qn_splash_probe.exe watch OUT STOP   until the file STOP exists, write to OUT one JSON line
//                                         per splash window or dialog that appears or goes away
//
// Each line: {"t":ms,"event":"ready"|"appear"|"gone", ...}. "appear" carries the window's class,
// handle, rectangle, styles, class styles, visibility and owner (handle and class), and the screen
// size, so a test can check placement, the tool-window style and who owns a message box.

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

FILE* out = nullptr;
const DWORD startTick = GetTickCount();

std::string className(HWND window) {
    char name[256] = "";
    if (window) GetClassNameA(window, name, sizeof name);
    return name;
}

std::string handleText(HWND window) {
    char text[32];
    std::snprintf(text, sizeof text, "\"%llx\"",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return text;
}

void emit(const std::string& line) {
    std::fprintf(out, "{\"t\":%lu,%s}\n", static_cast<unsigned long>(GetTickCount() - startTick),
                 line.c_str());
    std::fflush(out);
}

bool watched(HWND window) {
    const std::string name = className(window);
    return name == "SplashScreenWindow" || name == "#32770";
}

BOOL CALLBACK collect(HWND window, LPARAM raw) {
    if (watched(window)) reinterpret_cast<std::vector<HWND>*>(raw)->push_back(window);
    return TRUE;
}

void reportAppear(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const HWND owner = GetWindow(window, GW_OWNER);
    char numbers[256];
    std::snprintf(numbers, sizeof numbers,
                  "\"rect\":[%ld,%ld,%ld,%ld],\"style\":%lu,\"exstyle\":%lu,\"classStyle\":%lu,"
                  "\"visible\":%s,\"screen\":[%d,%d]",
                  rect.left, rect.top, rect.right, rect.bottom,
                  static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)),
                  static_cast<unsigned long>(GetClassLongPtrA(window, GCL_STYLE)),
                  IsWindowVisible(window) ? "true" : "false", GetSystemMetrics(SM_CXSCREEN),
                  GetSystemMetrics(SM_CYSCREEN));
    emit("\"event\":\"appear\",\"class\":\"" + className(window) + "\",\"hwnd\":" +
         handleText(window) + "," + numbers + ",\"owner\":" + (owner ? handleText(owner) : "null") +
         ",\"ownerClass\":\"" + className(owner) + "\"");
}

int watch(const char* outPath, const char* stopPath) {
    out = std::fopen(outPath, "wb");
    if (!out) return 2;
    std::map<HWND, std::string> known;  // shown windows and their class
    bool ready = false;
    while (GetFileAttributesA(stopPath) == INVALID_FILE_ATTRIBUTES) {
        std::vector<HWND> current;
        EnumWindows(collect, reinterpret_cast<LPARAM>(&current));
        for (HWND window : current) {
            // A window counts once it is shown; the splash is created hidden and shown after.
            if (known.count(window) || !IsWindowVisible(window)) continue;
            known[window] = className(window);
            reportAppear(window);
        }
        for (auto it = known.begin(); it != known.end();) {
            if (IsWindow(it->first) && IsWindowVisible(it->first)) {
                ++it;
                continue;
            }
            emit("\"event\":\"gone\",\"class\":\"" + it->second + "\",\"hwnd\":" + handleText(it->first));
            it = known.erase(it);
        }
        if (!ready) {
            emit("\"event\":\"ready\"");
            ready = true;
        }
        Sleep(5);
    }
    std::fclose(out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "watch") return watch(argv[2], argv[3]);
    std::fprintf(stderr, "usage: qn_splash_probe watch OUT STOP\n");
    return 2;
}
