#pragma once

namespace qn {

class Launcher;

/// Asks the user for a runtime when none was found; true when one was chosen (jvmLibraryPath set).
bool resolveMissingRuntime(Launcher& launcher);

}  // namespace qn
