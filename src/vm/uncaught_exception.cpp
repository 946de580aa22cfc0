#include "vm/uncaught_exception.h"

namespace qn {

// The dialog arrives with its own work; until then every exception counts as ignored.
bool reportUncaughtException(Launcher&, JNIEnv*, jthrowable) { return false; }

}  // namespace qn
