#pragma once
// An exception that escaped the Java main method: its stack trace as text, and the question
// whether to stop the application.

#include <jni.h>

#include <string>

namespace qn {

class Launcher;

/// The exception's stack trace as the runtime prints it (modified UTF-8, the runtime's own line
/// breaks); empty when any step yields nothing. Failing steps are printed with ExceptionDescribe.
std::string describeException(JNIEnv* env, Launcher& launcher, jthrowable exception);

/// Shows the trace and asks Ignore or Stop; true for Stop. An empty trace asks nothing (Ignore).
bool showUncaughtException(Launcher& launcher, jthrowable exception, JNIEnv* env);

}  // namespace qn
