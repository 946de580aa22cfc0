#pragma once
// Finding the runtime library to load: configured folder, local runtime, registered runtimes.

#include <cstdint>
#include <string>

namespace qn {

class Launcher;
enum class JvmType : std::int32_t;

/// Leaves the chosen library in jvmLibraryPath (and runtimeVersion for a registered runtime).
bool findRuntime(Launcher& launcher);
/// The first existing runtime library of the flavour order inside `home` (which ends with a
/// separator, or is empty for the current folder); empty when there is none.
std::string findJvmLibrary(const std::string& home, JvmType type, bool& isServer);
/// Sets QN_JVM_PATH and QN_JVM_HOME from jvmLibraryPath.
void publishRuntimeEnvironment(const Launcher& launcher);

}  // namespace qn
