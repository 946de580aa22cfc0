// Win32 backend of the platform seam: the ANSI functions of the system, called directly.

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/windows_h.h"

#include <winver.h>  // VS_FIXEDFILEINFO
#include "text/percent_references.h"

namespace qn::platform {

namespace {

constexpr DWORD modulePathCapacity = 260;

}  // namespace

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
    // The system expands at most 32K characters, source and result; beyond that it fails or
    // hands back a damaged text ('?' for what did not fit). A longer text (a class path of some
    // hundred jars) is expanded here instead, reference by reference, whole.
    constexpr std::size_t systemLimit = 32767;
    if (text.size() < systemLimit) {
        std::vector<char> buffer(text.size() + 256);
        for (;;) {
            const DWORD needed =
                ExpandEnvironmentStringsA(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
            if (needed == 0) {
                expanded = text;
                return false;
            }
            if (needed > systemLimit) break;
            if (needed <= buffer.size()) {
                expanded.assign(buffer.data());
                return true;
            }
            buffer.resize(needed + 1);
        }
    }
    expanded = expandPercentReferences(text, environmentVariable);
    return true;
}

std::uint32_t profileString(const std::string& section, const std::string& key, char* buffer,
                            std::uint32_t size, const std::string& file) {
    return GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, size, file.c_str());
}

bool profileFileReadable(const std::string& file) {
    // A folder opens only with backup semantics, so it fails here as it should.
    win32::UniqueFile handle(CreateFileA(file.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(handle);
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
    // The final path of the file itself: a java.exe in Oracle's javapath folder is a symbolic
    // link into the runtime it belongs to. Opened for no access, a folder needs the backup flag.
    const win32::UniqueFile file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file) {
        char final[MAX_PATH];
        const DWORD length = GetFinalPathNameByHandleA(file.get(), final, MAX_PATH, FILE_NAME_NORMALIZED);
        if (length > 0 && length < MAX_PATH) {
            std::string resolved(final, length);
            // \\?\C:\... and \\?\UNC\server\... are the long forms of C:\... and \\server\...
            if (resolved.compare(0, 8, "\\\\?\\UNC\\") == 0) return "\\" + resolved.substr(7);
            if (resolved.compare(0, 4, "\\\\?\\") == 0) return resolved.substr(4);
            return resolved;
        }
    }
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length == 0 || length >= MAX_PATH ? path : std::string(full, length);
}

std::optional<std::string> productVersion(const std::string& path) {
    // As data: nothing of the library runs, and one built for the other machine opens too.
    const win32::UniqueModule module(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return std::nullopt;
    HRSRC resource = FindResourceA(module.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));  // RT_VERSION
    if (!resource) return std::nullopt;
    HGLOBAL loaded = LoadResource(module.get(), resource);
    const auto* bytes = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = SizeofResource(module.get(), resource);
    if (!bytes) return std::nullopt;
    // VS_FIXEDFILEINFO follows the key "VS_VERSION_INFO", aligned to four bytes; its signature
    // finds it without walking the header.
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, bytes + at, sizeof info);
        if (info.dwSignature != 0xFEEF04BD) continue;
        return std::to_string(HIWORD(info.dwProductVersionMS)) + "." + std::to_string(LOWORD(info.dwProductVersionMS)) +
               "." + std::to_string(HIWORD(info.dwProductVersionLS)) + "." +
               std::to_string(LOWORD(info.dwProductVersionLS));
    }
    return std::nullopt;
}

ImageMachine ownImageMachine() {
#if defined(_WIN64)
    return {ImageFormat::Pe, IMAGE_FILE_MACHINE_AMD64, 64};
#else
    return {ImageFormat::Pe, IMAGE_FILE_MACHINE_I386, 32};
#endif
}

void setCurrentDirectory(const std::string& path) { SetCurrentDirectoryA(path.c_str()); }

std::string fullPath(const std::string& path) {
    if (path.empty()) return path;
    std::vector<char> buffer(modulePathCapacity);
    for (;;) {
        const DWORD length =
            GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return path;
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length + 1);  // the size needed, terminator included
    }
}

namespace {

/// Volume and file index of an existing file or folder; false when it cannot be opened.
bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    // No access asked for: reading the identity needs none, and a file open elsewhere still counts.
    win32::UniqueFile file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), &info) != FALSE;
}

}  // namespace

bool sameFile(const std::string& first, const std::string& second) {
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    if (!fileIdentity(first, a) || !fileIdentity(second, b)) return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

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

void setApplicationName(const std::string&) {}

void showErrorBox(WindowHandle owner, const std::string& text) {
    // The console build's user reads its messages where its output goes; nothing waits for a click.
    if (win32::isConsoleProgram()) {
        win32::writeStandardError(text);
        return;
    }
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

namespace {

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#ifndef LOAD_LIBRARY_SEARCH_USER_DIRS
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400
#endif

using AddDllDirectoryProc = void*(WINAPI*)(const wchar_t*);
using RemoveDllDirectoryProc = BOOL(WINAPI*)(void*);

std::wstring wideFromAnsi(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<std::size_t>(length) - 1);
    return wide;
}

}  // namespace

void* loadRuntimeLibrary(const std::string& path, const std::string& dependencyFolder,
                         std::uint32_t& errorCode) {
    // The current folder leaves the standard search for good: nothing the runtime loads later by
    // a bare name is taken from wherever the user happened to start the application.
    SetDllDirectoryA("");
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto addDirectory = reinterpret_cast<AddDllDirectoryProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "AddDllDirectory")));
    const auto removeDirectory = reinterpret_cast<RemoveDllDirectoryProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "RemoveDllDirectory")));
    void* cookie = addDirectory && removeDirectory ? addDirectory(wideFromAnsi(dependencyFolder).c_str()) : nullptr;
    if (cookie) {
        // The library's own folder, the runtime's folder and the system: not the launcher's
        // folder, not the current folder, not Path.
        const HMODULE library = LoadLibraryExA(
            path.c_str(), nullptr,
            LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32);
        // The error must be the failing call's own: read it before anything else.
        const DWORD lastError = GetLastError();
        removeDirectory(cookie);
        if (!library) errorCode = lastError;
        return reinterpret_cast<void*>(library);
    }
    // Without the search flags (an old system) the runtime's folder takes the current folder's
    // place in the standard search, right after the launcher's folder.
    SetDllDirectoryA(dependencyFolder.c_str());
    return loadLibrary(path, errorCode);
}

namespace {

/// The standard handle the runtime's FILE* stands for. Its FILE* belongs to its own C library,
/// which this executable does not share; current runtimes use the system's universal one, whose
/// standard output can be recognised. Anything else goes to standard error.
DWORD standardHandleOf(void* stream) {
    using StreamTable = void*(__cdecl*)(unsigned);
    if (const HMODULE universal = GetModuleHandleA("ucrtbase.dll")) {
        const auto streams = reinterpret_cast<StreamTable>(
            reinterpret_cast<void*>(GetProcAddress(universal, "__acrt_iob_func")));
        if (streams && stream == streams(1)) return STD_OUTPUT_HANDLE;
    }
    return STD_ERROR_HANDLE;
}

}  // namespace

void passOnRuntimeText(void* stream, const std::string& text) {
    const HANDLE target = GetStdHandle(standardHandleOf(stream));
    if (target == nullptr || target == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(target, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void* librarySymbol(void* library, const char* name, std::uint32_t& errorCode) {
    FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
    if (!symbol) errorCode = GetLastError();
    return reinterpret_cast<void*>(symbol);
}

std::string lastErrorText() { return {}; }

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
