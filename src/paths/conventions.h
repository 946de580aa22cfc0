#pragma once
// What differs between the platforms as data. The core never asks "which OS?"; it reads these
// values, so unit tests can run the core with Windows conventions on any machine.

#include <cstdint>
#include <string>
#include <vector>

namespace qn {

enum class PathStyle { Windows, Posix };

/// One runtime-library flavour path, relative to a runtime home.
struct JvmFlavour {
    std::string relativePath;
    bool isServer;
};

struct PlatformConventions {
    PathStyle style;
    char pathSeparator;           // between folders in a path
    char listSeparator;           // between items of a path list handed to the JVM or to Path
    std::string pathVariable;     // "Path" / "PATH"
    std::vector<JvmFlavour> clientFirstFlavours;
    std::vector<JvmFlavour> serverOnlyFlavours;
    std::string localRuntimeMarker;   // relative to a home: marks a runtime beside the application
    std::string localRuntimeFolder;   // the application's runtime subfolder, with separator
    std::string jdkRuntimeSuffix;     // appended to a registered JDK home ("jre\" on Windows)
    std::string javaCommand;          // the runtime's java program, its name on the search path
    std::string compilerMarker;       // relative to a home: present in a JDK only
    std::string nativeSplashLibrary;  // file name of the runtime's splash library
    // Where a trace asked for on standard error goes when the program has no console: a file of
    // this name in the user's temporary folder; empty: standard error itself.
    std::string standardErrorTraceFile;
    // The exit code of a run whose main ended with an uncaught exception: 0 for the Windows GUI
    // program and on POSIX, as they always gave it; 1 in the Windows console build, which a tool
    // ships as, and where callers expect what the runtime's own command gives.
    std::int32_t uncaughtExceptionExitCode;
    // A console build renamed with this extension beside the program of `programExtension`
    // ("ledger.com" beside "ledger.exe") is the same application: one single instance. Empty
    // where the system has no such pair.
    std::string consoleCompanionExtension;
    std::string programExtension;
    // The longest value an environment variable takes; 0: no limit. Windows damages a longer one.
    std::size_t environmentValueLimit;

    /// True when the path is absolute by this platform's class-path rule.
    bool isAbsolute(const std::string& path) const;
    /// True for a Windows path that names a drive but no folder on it ("C:", "C:lib\x.jar"): the
    /// system reads it against that drive's current folder.
    bool isDriveRelative(const std::string& path) const;
    /// The path taken in `folder` (which ends with a separator): an absolute one as it is; any
    /// other, also one that starts with a separator or names a drive alone, below the folder.
    std::string inFolder(const std::string& folder, const std::string& path) const;
    /// The text with a path separator appended unless its last character is one.
    std::string withTrailingSeparator(const std::string& path) const;
    /// Index of the last path separator, or npos. Steps by characters: in a double-byte code page
    /// the separator's byte value can also be the second half of a character.
    std::size_t lastSeparator(const std::string& path) const;
    /// The path without its last `count` components and the separator before each; a cut that
    /// finds no separator changes nothing.
    std::string withoutComponents(std::string path, int count) const;
    /// A folder as users write it in JAVA_HOME or an entry of the search path: one pair of
    /// surrounding double quotes removed (setx leaves them), and on Windows every "/" read as
    /// the separator, so that what is built on it has one kind of separator.
    std::string folderFromVariable(std::string text) const;
};

const PlatformConventions& windowsConventions();
/// The Windows conventions of the console build: a trace asked for on standard error goes there,
/// and an uncaught exception ends the run with 1.
const PlatformConventions& windowsConsoleConventions();
const PlatformConventions& posixConventions();

}  // namespace qn
