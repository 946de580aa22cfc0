#pragma once
// The environment and option list the virtual machine is created with.

namespace qn {

class Launcher;

/// Publishes the runtime, adds the library-path option, rewrites Path.
void setNativeSearchPaths(Launcher& launcher);
/// Adds the class path and the user's options; false (after the report) without a class path.
bool assembleVmOptions(Launcher& launcher);

}  // namespace qn
