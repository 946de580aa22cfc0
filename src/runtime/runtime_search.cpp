#include "runtime/runtime_search.h"

#include "launcher/launcher.h"

namespace qn {

// The search itself arrives with the runtime discovery work; until then nothing is found.
bool findRuntime(Launcher& launcher) { return !launcher.jvmLibraryPath.empty(); }

void publishRuntimeEnvironment(const Launcher&) {}

}  // namespace qn
