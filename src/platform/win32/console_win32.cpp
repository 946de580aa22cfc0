#include "platform/win32/console_win32.h"

#include <vector>

#include "platform/platform.h"
#include "platform/win32/windows_h.h"

namespace qn::platform {

const PlatformConventions& conventions() {
    return win32::isConsoleProgram() ? windowsConsoleConventions() : windowsConventions();
}

}  // namespace qn::platform

namespace qn::win32 {

bool isConsoleProgram() {
    static const bool console = [] {
        // The loaded image of the executable begins with its own headers.
        const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
        if (!image) return false;
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
        return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
    }();
    return console;
}

namespace {

std::string withWindowsLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    if (out.empty() || out.back() != '\n') out += "\r\n";
    return out;
}

}  // namespace

void writeStandardError(const std::string& text) {
    const HANDLE target = GetStdHandle(STD_ERROR_HANDLE);
    if (target == nullptr || target == INVALID_HANDLE_VALUE) return;
    const std::string lines = withWindowsLineEnds(text);
    DWORD mode = 0;
    if (GetConsoleMode(target, &mode)) {
        const int length = MultiByteToWideChar(CP_ACP, 0, lines.data(), static_cast<int>(lines.size()), nullptr, 0);
        if (length > 0) {
            std::vector<wchar_t> wide(static_cast<std::size_t>(length));
            MultiByteToWideChar(CP_ACP, 0, lines.data(), static_cast<int>(lines.size()), wide.data(), length);
            DWORD written = 0;
            if (WriteConsoleW(target, wide.data(), static_cast<DWORD>(length), &written, nullptr)) return;
        }
    }
    DWORD written = 0;
    WriteFile(target, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
}

}  // namespace qn::win32
