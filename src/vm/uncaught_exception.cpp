#include "vm/uncaught_exception.h"

#include "vm/exception_text.h"

namespace qn {

bool reportUncaughtException(Launcher& launcher, JNIEnv* env, jthrowable exception) {
    return showUncaughtException(launcher, exception, env);
}

}  // namespace qn
