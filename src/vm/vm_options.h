#pragma once
// The environment and option list the virtual machine is created with.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qn {

class Launcher;

/// Publishes the runtime, adds the library-path option, rewrites Path.
void setNativeSearchPaths(Launcher& launcher);
/// Adds the class path, the command the VM runs and the user's options; false (after the report)
/// without a class path.
bool assembleVmOptions(Launcher& launcher);
/// "-Dsun.java.command=" with the main class in dotted form and the arguments, blank-separated.
std::string javaCommandOption(const Launcher& launcher);

/// The runtime's folders as seen from its library's path.
struct RuntimeFolders {
    std::string bin;  // put at the end of Path
    std::string lib;  // put at the end of java.library.path
};
RuntimeFolders runtimeFolders(const std::string& jvmLibraryPath);

/// The launcher's folder with a trailing separator; empty after the report when it is unknown.
std::string applicationFolder(const Launcher& launcher);
/// Appends every file or folder that one class-path entry names, each followed by the list
/// separator; a relative entry is looked up in the application folder.
void expandClassPathEntry(const std::string& applicationFolder, const std::string& entry,
                          std::string& classPath);
/// The text of the class-path option (without its prefix); empty when nothing is left.
std::string buildClassPath(const Launcher& launcher, const std::string& configured, bool embeddedJar);

/// The options of a "Virtual Machine Parameters" value, in order, as they reach the VM: quotes
/// removed, percentages rewritten, %NAME% expanded, empty ones left out; a -Xss among them sets
/// the main thread's stack size.
std::vector<std::string> vmParameterOptions(Launcher& launcher, const std::string& value);
/// Tokens separated by blanks; a blank inside a pair of double quotes does not separate.
std::vector<std::string> splitVmParameters(const std::string& text);
/// The token without its quote pairs.
std::string stripQuotes(const std::string& token);
/// True when the token is a percentage memory option (-Xms, -Xmx, -Xss ending in P, p, T or t).
bool isPercentageMemoryOption(const std::string& token);
/// The absolute form of a percentage memory option. With wideSizes false the size is a 32-bit
/// value printed signed, as the 32-bit build has always done; with it, sizes never wrap.
std::string rewriteMemoryOption(const std::string& token, const platform::MemoryStatus& memory,
                                bool wideSizes);
/// The same with the platform's memory status and this build's size width.
std::string rewriteMemoryOption(const std::string& token);
/// The stack size the text after "-Xss" asks for, in bytes, or 0 when it does not count.
std::uint32_t parseStackSize(const std::string& value);

}  // namespace qn
