// Win32 backend of the startup cache's file operations.

#include <algorithm>
#include <cstring>
#include <vector>

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

/// A text for a command script: "%" would start a variable.
std::string cmdEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '%') escaped += '%';
        escaped += c;
    }
    return escaped;
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

std::string readFileStart(const std::string& path, std::size_t maxBytes) { return readFileAt(path, 0, maxBytes); }

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::optional<std::uint64_t> freeDiskSpace(const std::string& folder) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

std::string readFileAt(const std::string& path, std::uint64_t offset, std::size_t maxBytes) {
    win32::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) return {};
    std::string content(maxBytes, '\0');
    std::size_t got = 0;
    while (got < maxBytes) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(maxBytes - got, 1u << 30));
        if (!ReadFile(file.get(), &content[got], chunk, &n, nullptr) || n == 0) break;
        got += n;
    }
    content.resize(got);
    return content;
}

bool startAssembly(const Assembly& assembly) {
    // A script for the command processor does what a monitor does on POSIX: runs the program,
    // keeps its file under its size or removes it, then removes the training's files and itself.
    // It is written in the code page the paths are in.
    const std::string lineEnd = " >NUL 2>&1\r\n";
    std::string script = "@echo off\r\nchcp " + std::to_string(GetACP()) + lineEnd;
    script += cmdEscaped(quotedArgument(assembly.program));
    for (const std::string& argument : assembly.arguments) script += " " + cmdEscaped(quotedArgument(argument));
    script += lineEnd + "if errorlevel 1 goto failed\r\n";
    const std::string produced = "\"" + cmdEscaped(assembly.produced) + "\"";
    script += "for %%F in (" + produced + ") do move /y " + produced + " \"" + cmdEscaped(assembly.keptPrefix) +
              "%%~zF" + cmdEscaped(assembly.keptSuffix) + "\"" + lineEnd;
    script += "if not errorlevel 1 goto done\r\n:failed\r\ndel /f /q " + produced + lineEnd + ":done\r\n";
    for (const std::string& file : assembly.removeAfter) script += "del /f /q \"" + cmdEscaped(file) + "\"" + lineEnd;
    script += "(goto) 2>NUL & del \"%~f0\"\r\n";
    const std::string scriptFile = assembly.produced + ".cmd";
    if (!writeWholeFile(scriptFile, script)) {
        DeleteFileA(scriptFile.c_str());
        return false;
    }
    char system[MAX_PATH];
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const std::string processor = std::string(system) + "\\cmd.exe";
    std::string commandLine = "cmd.exe /d /q /c \"" + quotedArgument(scriptFile) + "\"";
    std::vector<char> text(commandLine.begin(), commandLine.end());
    text.push_back('\0');
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    const DWORD detached = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | IDLE_PRIORITY_CLASS;
    // Out of the launcher's job where the job allows it, so closing the job does not end it.
    bool started = CreateProcessA(processor.c_str(), text.data(), nullptr, nullptr, FALSE,
                                  detached | CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &startup, &process) != 0;
    if (!started) {
        started = CreateProcessA(processor.c_str(), text.data(), nullptr, nullptr, FALSE, detached, nullptr, nullptr,
                                 &startup, &process) != 0;
    }
    if (!started) {
        DeleteFileA(scriptFile.c_str());
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace qn::platform
