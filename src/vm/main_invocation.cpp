#include "vm/main_invocation.h"

#include "launcher/launcher.h"

namespace qn {

// The main invocation arrives with the VM work; until then the Java program cannot start.
std::uint32_t runJavaMainThread(Launcher&) { return 1; }

}  // namespace qn
