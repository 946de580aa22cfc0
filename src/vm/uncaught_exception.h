#pragma once
// The report of an exception that escaped the Java main method.

#include <jni.h>

namespace qn {

class Launcher;

/// Shows the uncaught-exception dialog for the exception; true when the user chose Stop.
bool reportUncaughtException(Launcher& launcher, JNIEnv* env, jthrowable exception);

}  // namespace qn
