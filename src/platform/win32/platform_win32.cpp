// Win32 backend of the platform seam: the ANSI functions of the system, called directly.

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/windows_h.h"

namespace qn::platform {

namespace {

constexpr DWORD modulePathCapacity = 260;

}  // namespace

const PlatformConventions& conventions() { return windowsConventions(); }

bool moduleFileName(std::string& path, std::uint32_t& errorCode) {
    char buffer[modulePathCapacity];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, modulePathCapacity);
    // Read the error before anything else can change it.
    const DWORD lastError = GetLastError();
    if (length == 0) {
        errorCode = lastError;
        return false;
    }
    if (length >= modulePathCapacity) {
        // A cut path would name the wrong configuration file; treat it as the failure it is.
        errorCode = lastError != ERROR_SUCCESS ? lastError : ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    path.assign(buffer, length);
    return true;
}

void useSystemLocale() { SetThreadLocale(GetSystemDefaultLCID()); }

CommandLine commandLine() {
    const char* text = GetCommandLineA();
    return CommandLine{true, text ? std::string(text) : std::string(), {}};
}

bool isNtFamily() {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    // The extended structure first (156 bytes), then the basic one (148) for systems without it.
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    static_assert(sizeof(OSVERSIONINFOEXA) == 156 && sizeof(OSVERSIONINFOA) == 148,
                  "version structures of the documented sizes");
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
    }
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::size_t nextCharacter(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) return text.size();
    const char* start = text.c_str();
    std::size_t next = static_cast<std::size_t>(CharNextA(start + pos) - start);
    // CharNextA stands still on a NUL; an embedded one is still one character.
    if (next <= pos) next = pos + 1;
    return next < text.size() ? next : text.size();
}

bool isSpaceCharacter(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) return false;
    const int length = static_cast<int>(nextCharacter(text, pos) - pos);
    WORD types[2] = {0, 0};
    if (!GetStringTypeExA(GetThreadLocale(), CT_CTYPE1, text.c_str() + pos, length, types)) {
        return false;
    }
    return (types[0] & C1_SPACE) != 0;
}

std::optional<std::string> environmentVariable(const std::string& name) {
    std::vector<char> buffer(260);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length =
            GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        // A value too long for the buffer gives its needed size, terminator included.
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

bool setEnvironmentVariable(const std::string& name, const std::string& value) {
    return SetEnvironmentVariableA(name.c_str(), value.c_str()) != FALSE;
}

bool expandEnvironmentStrings(const std::string& text, std::string& expanded) {
    std::vector<char> buffer(text.size() + 256);
    for (;;) {
        const DWORD needed =
            ExpandEnvironmentStringsA(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (needed == 0) {
            expanded = text;
            return false;
        }
        if (needed <= buffer.size()) {
            expanded.assign(buffer.data());
            return true;
        }
        buffer.resize(needed + 1);
    }
}

std::uint32_t profileString(const std::string& section, const std::string& key, char* buffer,
                            std::uint32_t size, const std::string& file) {
    return GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, size, file.c_str());
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) !=
           FALSE;
}

bool pathExists(const std::string& path) {
    WIN32_FIND_DATAA data;
    win32::UniqueFind search(FindFirstFileA(path.c_str(), &data));
    return static_cast<bool>(search);
}

std::vector<std::string> findFiles(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    win32::UniqueFind search(FindFirstFileA(pattern.c_str(), &data));
    if (!search) return names;
    do {
        names.emplace_back(data.cFileName);
    } while (FindNextFileA(search.get(), &data));
    return names;
}

void createDirectory(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

std::optional<std::string> readFileHead(const std::string& path, std::size_t size) {
    win32::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string bytes(size, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(size), &read, nullptr)) return std::nullopt;
    bytes.resize(read);
    return bytes;
}

std::string realPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length == 0 || length >= MAX_PATH ? path : std::string(full, length);
}

ImageMachine ownImageMachine() {
#if defined(_WIN64)
    return {ImageFormat::Pe, IMAGE_FILE_MACHINE_AMD64, 64};
#else
    return {ImageFormat::Pe, IMAGE_FILE_MACHINE_I386, 32};
#endif
}

void setCurrentDirectory(const std::string& path) { SetCurrentDirectoryA(path.c_str()); }

std::optional<std::string> loadString(int id) {
    // The executable's own string table, whatever module this code is linked into.
    const HINSTANCE module = GetModuleHandleA(nullptr);
    std::vector<char> buffer(512);
    for (;;) {
        const int length = LoadStringA(module, static_cast<UINT>(id), buffer.data(),
                                       static_cast<int>(buffer.size()));
        if (length <= 0) return std::nullopt;
        // A full buffer may hold a cut text: grow until the text fits with room to spare.
        if (static_cast<std::size_t>(length) < buffer.size() - 1) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

void showErrorBox(WindowHandle owner, const std::string& text) {
    // An owner that is gone (the user closed the splash) would make MessageBoxA fail without
    // showing anything; the report then goes without an owner.
    HWND ownerWindow = static_cast<HWND>(owner);
    if (ownerWindow && !IsWindow(ownerWindow)) ownerWindow = nullptr;
    // No caption of our own: the system shows its default one. 0x10 is MB_OK | MB_ICONERROR.
    MessageBoxA(ownerWindow, text.c_str(), nullptr, 0x10);
}

void* loadLibrary(const std::string& path, std::uint32_t& errorCode) {
    HMODULE library = LoadLibraryA(path.c_str());
    // The error must be the failing call's own: read it before anything else.
    if (!library) errorCode = GetLastError();
    return reinterpret_cast<void*>(library);
}

void* librarySymbol(void* library, const char* name, std::uint32_t& errorCode) {
    FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
    if (!symbol) errorCode = GetLastError();
    return reinterpret_cast<void*>(symbol);
}

class Thread {
public:
    win32::UniqueHandle handle;
    DWORD id = 0;
};

void ThreadDeleter::operator()(Thread* thread) const { delete thread; }

namespace {

// What the new thread needs; owned by the thread itself, so closing the Thread early is safe.
struct ThreadStart {
    ThreadBody body;
    void* parameter;
};

DWORD WINAPI threadEntry(LPVOID raw) {
    const ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    return start.body(start.parameter);
}

}  // namespace

ThreadPtr startThread(std::uint32_t stackSize, ThreadBody body, void* parameter) {
    auto* start = new ThreadStart{body, parameter};
    ThreadPtr thread(new Thread);
    // The size commits the stack (no creation flags); 0 takes the executable's default.
    thread->handle.reset(CreateThread(nullptr, stackSize, threadEntry, start, 0, &thread->id));
    if (!thread->handle) {
        delete start;
        return nullptr;
    }
    return thread;
}

std::uint32_t joinThread(Thread& thread) {
    WaitForSingleObject(thread.handle.get(), INFINITE);
    DWORD exitCode = 0;
    GetExitCodeThread(thread.handle.get(), &exitCode);
    return exitCode;
}

std::uint32_t threadId(const Thread& thread) { return thread.id; }

bool threadIsActive(Thread& thread) {
    DWORD exitCode = 0;
    if (!GetExitCodeThread(thread.handle.get(), &exitCode)) return false;
    return exitCode == STILL_ACTIVE;
}

void sleepForever() {
    for (;;) Sleep(INFINITE);
}

MemoryStatus memoryStatus() {
    MEMORYSTATUS status;
    std::memset(&status, 0, sizeof status);
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    return MemoryStatus{status.dwTotalPhys, status.dwAvailVirtual};
}

}  // namespace qn::platform
