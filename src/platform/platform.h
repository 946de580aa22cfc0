#pragma once
// The seam between the launcher's portable logic and the operating system. Every system call the
// core needs is declared here (or in a sibling header of this folder) and defined once per backend:
// src/platform/win32, src/platform/posix, and the fake backend of the unit tests.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "paths/conventions.h"
#include "platform/image_machine.h"

namespace qn::platform {

using WindowHandle = void*;

/// The conventions of the platform the core is running against.
const PlatformConventions& conventions();

// --- Process ----------------------------------------------------------------------------------

/// Full path of the running executable (at most 260 characters); false with the system error code.
bool moduleFileName(std::string& path, std::uint32_t& errorCode);

/// Sets the calling thread's locale to the system default (character classes follow it).
void useSystemLocale();

/// The process's arguments: the raw command line (Windows), or argv as given (POSIX).
struct CommandLine {
    bool isRaw;                      // true: split `text` by the launcher's own rule
    std::string text;                // the raw command line, program name first
    std::vector<std::string> words;  // argv without the program name, when not raw
};
CommandLine commandLine();

/// True on an NT-family system (decides whether a per-user settings file is used).
bool isNtFamily();

// --- Text ---------------------------------------------------------------------------------------

/// Index of the character after the one at `pos` (multi-byte aware; never beyond text.size()).
std::size_t nextCharacter(const std::string& text, std::size_t pos);
/// True when the character at `pos` is white space in the thread's locale.
bool isSpaceCharacter(const std::string& text, std::size_t pos);

// --- Environment --------------------------------------------------------------------------------

std::optional<std::string> environmentVariable(const std::string& name);
bool setEnvironmentVariable(const std::string& name, const std::string& value);
/// %NAME% expansion; undefined names stay as written; false (text unchanged) when it fails.
bool expandEnvironmentStrings(const std::string& text, std::string& expanded);

// --- Profile files ------------------------------------------------------------------------------

/// GetPrivateProfileStringA with an empty default: copies at most size-1 characters and a NUL into
/// buffer and returns the number copied (size-1 when the value was cut).
std::uint32_t profileString(const std::string& section, const std::string& key, char* buffer,
                            std::uint32_t size, const std::string& file);
/// True when the file exists and its content can be read as a profile file; false for a missing
/// file, a folder, a file the process may not read, or one whose content cannot be decoded.
bool profileFileReadable(const std::string& file);
/// WritePrivateProfileStringA: creates the file when missing and keeps its other contents.
bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file);

// --- File system --------------------------------------------------------------------------------

/// True when a file-system search for the path finds something (FindFirstFileA).
bool pathExists(const std::string& path);
/// Names (not paths) matching a pattern whose last component may hold wildcards, in the order the
/// system returns them; "." and ".." included when they match.
std::vector<std::string> findFiles(const std::string& pattern);
void createDirectory(const std::string& path);
/// The path made absolute against the current folder; unchanged when that cannot be done.
std::string fullPath(const std::string& path);
/// True when both paths name one existing file (also through another spelling or a link).
bool sameFile(const std::string& first, const std::string& second);
/// At most `size` bytes from the start of a file (a runtime's release file, a library's header);
/// nothing when the file cannot be opened or read.
std::optional<std::string> readFileHead(const std::string& path, std::size_t size);
/// The path with symbolic links and relative parts resolved; the path unchanged when it cannot be.
std::string realPath(const std::string& path);
/// The product version of a library's version resource as four numbers "a.b.c.d", read without
/// running the library; nothing when it has none (always on POSIX, whose libraries carry none).
std::optional<std::string> productVersion(const std::string& path);
/// The machine this executable was built for: a runtime library must be of the same.
ImageMachine ownImageMachine();
void setCurrentDirectory(const std::string& path);

// --- Messages -----------------------------------------------------------------------------------

/// The string-table entry, or nothing when it cannot be loaded.
std::optional<std::string> loadString(int id);
/// A modal error box (MessageBoxA, null caption, MB_ICONERROR) owned by `owner`; on POSIX the text
/// goes to standard error.
void showErrorBox(WindowHandle owner, const std::string& text);
/// The application's name ("Product Name"), for the titles of the POSIX windows, which have no
/// caption of the system's; Windows keeps the system's default caption of its error boxes.
void setApplicationName(const std::string& name);
/// Passes on what the runtime prints through its output hook: to `stream` (the runtime's FILE*)
/// where the launcher shares the runtime's C library, else to the standard handle it stands for.
void passOnRuntimeText(void* stream, const std::string& text);

// --- Dynamic libraries --------------------------------------------------------------------------

/// Loads a library that is never unloaded; null with the system error code.
void* loadLibrary(const std::string& path, std::uint32_t& errorCode);
/// Loads the runtime library (an absolute path) so that the libraries it needs come from its own
/// folder and from `dependencyFolder`, never from the current folder, the launcher's folder or
/// the search path; null with the system error code.
void* loadRuntimeLibrary(const std::string& path, const std::string& dependencyFolder,
                         std::uint32_t& errorCode);
/// An exported symbol; null with the system error code.
void* librarySymbol(void* library, const char* name, std::uint32_t& errorCode);
/// The system's own words for the last failure of moduleFileName, loadLibrary or librarySymbol on
/// this thread; empty where the system gives only the error code (Windows).
std::string lastErrorText();

// --- Threads ------------------------------------------------------------------------------------

class Thread;  // defined by each backend
struct ThreadDeleter {
    void operator()(Thread* thread) const;  // closes the handle; never kills the thread
};
using ThreadPtr = std::unique_ptr<Thread, ThreadDeleter>;
using ThreadBody = std::uint32_t (*)(void* parameter);

/// Starts a thread with the given stack size (0: the default); null when it cannot be created.
ThreadPtr startThread(std::uint32_t stackSize, ThreadBody body, void* parameter);
/// Waits without a time limit for the thread to end and gives its exit code.
std::uint32_t joinThread(Thread& thread);
/// The thread's system id: the target of thread messages.
std::uint32_t threadId(const Thread& thread);
/// True while the thread has not ended (its exit code still reads STILL_ACTIVE).
bool threadIsActive(Thread& thread);
/// Blocks the calling thread for good.
[[noreturn]] void sleepForever();

// --- Memory -------------------------------------------------------------------------------------

struct MemoryStatus {
    std::uint64_t totalPhysical;     // bytes (dwTotalPhys)
    std::uint64_t availableVirtual;  // bytes (dwAvailVirtual)
};
MemoryStatus memoryStatus();

}  // namespace qn::platform
