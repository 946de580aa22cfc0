#include "vm/vm_options.h"

#include "launcher/launcher.h"
#include "runtime/runtime_search.h"

namespace qn {

void setNativeSearchPaths(Launcher& launcher) { publishRuntimeEnvironment(launcher); }

// The option assembly arrives with the VM work; until then no VM can be started.
bool assembleVmOptions(Launcher&) { return false; }

}  // namespace qn
