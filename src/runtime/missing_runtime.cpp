#include "runtime/missing_runtime.h"

#include "launcher/launcher.h"

namespace qn {

// The dialog arrives with the runtime discovery work; until then the question ends as Cancel.
bool resolveMissingRuntime(Launcher&) { return false; }

}  // namespace qn
