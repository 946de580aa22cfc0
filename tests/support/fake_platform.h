#pragma once
// The fake backend: an in-memory system the unit tests set up and inspect. Windows conventions by
// default, so the core's Windows rules can be checked to the character on any machine.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/cache_files.h"

namespace qn::fake {

struct FakeLibrary {
    std::map<std::string, void*> symbols;
};

struct FakeSystem {
    const PlatformConventions* conventions = &windowsConventions();
    std::optional<std::string> modulePath = std::string("C:\\App\\app.exe");
    std::uint32_t moduleError = 0;
    bool ntFamily = true;
    platform::CommandLine commandLine{true, "app.exe", {}};
    std::set<unsigned char> leadBytes;  // lead bytes of a double-byte code page
    std::map<std::string, std::string> environment;
    std::map<std::string, std::string> files;  // path -> content
    std::set<std::string> unreadableFiles;     // present, but neither readable nor writable
    std::set<std::string> directories;
    std::map<std::string, std::string> links;  // path -> the path it resolves to
    std::map<std::string, std::string> productVersions;  // library -> its version resource's
    ImageMachine ownMachine{ImageFormat::Pe, 0x8664, 64};
    std::string currentDirectory = "C:\\Work";
    std::map<int, std::string> strings;  // the string table; starts as the real one
    std::vector<std::string> errorBoxes;
    std::string applicationName;  // as the settings last named it
    std::vector<platform::WindowHandle> errorBoxOwners;
    std::vector<std::uint32_t> profileBufferSizes;  // size of every profile read, in order
    std::vector<std::string> searchedPaths;          // every pathExists and findFiles, in order
    std::map<std::string, FakeLibrary> libraries;
    std::uint32_t libraryError = 126;
    std::string lastErrorText;  // the system's words for a failure; Windows has none
    std::vector<std::string> runtimeLibraryLoads;  // "<path> with <dependency folder>"
    std::vector<std::pair<void*, std::string>> runtimeText;  // passed on from the output hook
    platform::MemoryStatus memory{std::uint64_t{1} << 30, std::uint64_t{2} << 30};
    bool refuseThreads = false;
    std::uint64_t resets = 0;  // lets other fakes notice a new test
    std::vector<std::uint32_t> threadStackSizes;
    // Threads started while set are kept here, not run, until a test runs them.
    bool deferThreads = false;
    std::vector<std::pair<platform::ThreadBody, void*>> deferredThreads;
    int eventsSet = 0;  // setEvent calls
    std::uint32_t nextThreadId = 100;         // id of the next started thread
    std::uint32_t threadActivityQueries = 0;  // every threadIsActive call
    // The splash window backend and the runtime's splash library.
    bool refuseSplashWindow = false;  // the window object cannot be made
    platform::WindowHandle splashWindowHandle = reinterpret_cast<platform::WindowHandle>(0x5a5a);
    std::vector<std::string> splashEvents;        // the window backend's calls, in order
    std::vector<std::string> splashLibraryLoads;  // "<library> after <runtime library>"
    // The two questions (fake_dialogs.cpp). The runtime question plays `runtimeDialogScript`:
    // "browse <folder>", "browse-cancel", "ok", "cancel"; the script's end closes the dialog.
    std::vector<std::string> runtimeDialogScript;
    std::vector<std::string> runtimeQuestions;     // message text of every runtime question
    std::vector<std::string> runtimeDialogEvents;  // "<folder> -> <library>", "ok ignored", ...
    std::vector<std::string> exceptionQuestions;   // display text of every exception question
    bool stopAfterException = false;
    // The trace's output (fake_trace_output.cpp): files it appends to live in `files`; a file
    // opens only in a known folder and not when it is listed as unwritable.
    std::set<std::string> unwritableFiles;
    std::string standardError;  // lines written to standard error
    bool hasStandardError = true;
    std::optional<std::uint64_t> processAgeMs = std::uint64_t{1500};
    std::string temporaryFolder = "C:\\Users\\user\\AppData\\Local\\Temp\\";
    // The startup cache's file operations (fake_cache_files.cpp).
    std::map<std::string, std::int64_t> fileTimes;  // modification times; absent reads as 0
    std::int64_t now = 0;
    std::set<std::string> unwritableFolders;         // nothing can be made inside these
    std::optional<std::uint64_t> freeSpace = std::uint64_t{1} << 40;
    bool assemblyStarts = true;              // false: the system cannot start one
    std::vector<platform::Assembly> pendingAssemblies;  // started, run by runAssemblies()
};

/// The fake system of the current test, reset by reset().
FakeSystem& system();
void reset();

/// Adds a file (and its folders) to the fake file system.
void addFile(const std::string& path, const std::string& content = "");
void addDirectory(const std::string& path);

/// Plays the assemblies started so far, as their monitors would once the process has ended.
void runAssemblies();

/// Turns the launch trace on, into a file of the fake file system (call after choosing the
/// conventions).
void startTrace();
/// The lines traced since startTrace, each "<category>: <text>" without time and process id.
std::vector<std::string> tracedLines();

}  // namespace qn::fake
