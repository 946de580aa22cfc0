#pragma once
// Finding the runtime library to load: configured folder, local runtime, registered runtimes.

#include <string>

namespace qn {

class Launcher;

/// Leaves the chosen library in jvmLibraryPath (and runtimeVersion for a registered runtime).
bool findRuntime(Launcher& launcher);
/// Sets QN_JVM_PATH and QN_JVM_HOME from jvmLibraryPath.
void publishRuntimeEnvironment(const Launcher& launcher);

}  // namespace qn
