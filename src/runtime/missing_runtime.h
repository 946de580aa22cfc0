#pragma once

#include <string>

namespace qn {

class Launcher;

/// The not-found message: 206 for a server-only runtime, 207 otherwise, with the version phrase.
std::string missingRuntimeMessage(const Launcher& launcher);

/// Asks the user for a runtime when none was found; true when one was chosen (jvmLibraryPath set
/// and the folder remembered as "JRE Path").
bool resolveMissingRuntime(Launcher& launcher);

}  // namespace qn
