#pragma once
// Finding the runtime library to load: configured folder, local runtime, registered runtimes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/java_version.h"

namespace qn {

class Launcher;
enum class JvmType : std::int32_t;

/// One registered (or installed) runtime.
struct RuntimeCandidate {
    JavaVersion version;
    std::string home;
    bool isServer = false;
    bool isPreferred = false;
    bool isLegacyIbm = false;  // an IBM runtime of Java 8 or older: its main thread must stay
    std::string origin;  // where it was found, kind and vendor; filled only while tracing
};

/// What one look into a home found: the library to load, or why there is none.
struct JvmLibraryLookup {
    std::string path;               // empty when no flavour qualifies
    bool isServer = false;
    std::string otherMachinePath;   // a flavour passed over: built for another machine
    int otherMachineBits = 0;
};

/// Leaves the chosen library in jvmLibraryPath (and runtimeVersion for a registered runtime).
bool findRuntime(Launcher& launcher);
/// The first existing runtime library of the flavour order inside `home` (which ends with a
/// separator, or is empty for the current folder); empty when there is none.
/// A flavour whose file is a readable library image for another machine does not qualify.
std::string findJvmLibrary(const std::string& home, JvmType type, bool& isServer);
std::string findJvmLibrary(const std::string& home, JvmType type);
JvmLibraryLookup lookupJvmLibrary(const std::string& home, JvmType type);
/// The flavour paths the order tries, for the trace: "bin\server\jvm.dll, bin\client\jvm.dll".
std::string flavourNames(JvmType type);
/// The home of a runtime beside the application (possibly empty); nothing when the launcher's
/// own path cannot be learnt (after the report).
std::optional<std::string> findLocalRuntime(const Launcher& launcher);
/// Every registered runtime that fits the settings, in scan order: the classic vendor keys; when
/// they give none, today's registrations (machine, then user); when those give none, JAVA_HOME
/// and the java on the search path. Without a registry: the runtime folders of the platform.
std::vector<RuntimeCandidate> collectCandidates(const Launcher& launcher);
/// Stable: preferred first (with both kinds), server first (favor_server), newer first.
void sortCandidates(const Launcher& launcher, std::vector<RuntimeCandidate>& candidates);
/// The preferred-versions list outranks the sort; otherwise the first candidate.
const RuntimeCandidate& chooseCandidate(const Launcher& launcher,
                                        const std::vector<RuntimeCandidate>& candidates);
/// Sets QN_JVM_PATH and QN_JVM_HOME from jvmLibraryPath.
void publishRuntimeEnvironment(const Launcher& launcher);

}  // namespace qn
