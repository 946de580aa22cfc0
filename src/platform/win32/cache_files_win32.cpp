// Win32 backend of the startup cache's file operations.

#include <cstring>

#include "platform/cache_files.h"
#include "platform/platform.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/windows_h.h"

namespace qn::platform {

namespace {

// FILETIME counts 100 ns steps from 1601; the seam counts nanoseconds from 1970.
std::int64_t nanoseconds(const FILETIME& time) {
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (static_cast<std::int64_t>(ticks) - 116444736000000000LL) * 100;
}

/// One argument in the quoting the C run-time's argument splitter undoes.
std::string quotedArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

}  // namespace

std::optional<FileFacts> fileFacts(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    FileFacts facts;
    facts.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    facts.modified = nanoseconds(data.ftLastWriteTime);
    facts.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return facts;
}

std::int64_t currentFileTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return nanoseconds(now);
}

std::string userCacheFolder() { return environmentVariable("LOCALAPPDATA").value_or(""); }

bool ensureFolder(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool createNewFile(const std::string& path) {
    win32::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

bool writeWholeFile(const std::string& path, const std::string& content) {
    win32::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size();
}

std::string readFileStart(const std::string& path, std::size_t maxBytes) {
    win32::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string content(maxBytes, '\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), &content[0], static_cast<DWORD>(maxBytes), &got, nullptr)) return {};
    content.resize(got);
    return content;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::optional<std::uint64_t> freeDiskSpace(const std::string& folder) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

std::optional<int> runQuietly(const std::string& program, const std::vector<std::string>& arguments) {
    std::string commandLine = quotedArgument(program);
    for (const std::string& argument : arguments) commandLine += " " + quotedArgument(argument);
    // Inheritable handles on the null device, so nothing of the helper reaches our own streams.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    win32::UniqueFile input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                        OPEN_EXISTING, 0, nullptr));
    win32::UniqueFile output(CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                         OPEN_EXISTING, 0, nullptr));
    if (!input || !output) return std::nullopt;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process;
    std::vector<char> text(commandLine.begin(), commandLine.end());
    text.push_back('\0');
    if (!CreateProcessA(program.c_str(), text.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return std::nullopt;
    }
    win32::UniqueHandle processHandle(process.hProcess);
    win32::UniqueHandle threadHandle(process.hThread);
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(processHandle.get(), &exitCode)) return -1;
    return static_cast<int>(exitCode);
}

}  // namespace qn::platform
