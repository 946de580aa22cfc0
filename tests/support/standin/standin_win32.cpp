#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <vector>

#include "standin_system.h"

namespace standin {

std::optional<std::string> environment(const char* name) {
    // The launcher sets variables with SetEnvironmentVariableA; the C run time's copy is older.
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::vector<char> buffer(size);
    const DWORD length = GetEnvironmentVariableA(name, buffer.data(), size);
    return std::string(buffer.data(), length);
}

std::string platformTextToUtf8(const std::string& text) {
    if (text.empty()) return text;
    const int count = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), count, nullptr, 0);
    if (wideLength <= 0) return text;
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideLength));
    MultiByteToWideChar(CP_ACP, 0, text.data(), count, wide.data(), wideLength);
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return text;
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], length, nullptr, nullptr);
    return utf8;
}

std::string nativePath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string result = "Z:" + path;  // wine maps the Unix root to drive Z:
    for (char& c : result) {
        if (c == '/') c = '\\';
    }
    return result;
}

std::uint64_t currentThreadStackSize() {
    using Limits = void(WINAPI*)(PULONG_PTR, PULONG_PTR);
    const auto limits = reinterpret_cast<Limits>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetCurrentThreadStackLimits")));
    if (!limits) return 0;
    ULONG_PTR low = 0;
    ULONG_PTR high = 0;
    limits(&low, &high);
    return high - low;
}

bool writeFile(const std::u16string& path, const std::string& bytes, bool append) {
    const std::wstring wide(path.begin(), path.end());
    HANDLE file = CreateFileW(wide.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return true;
}

void exitProcess(int code) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace standin
