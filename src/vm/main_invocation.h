#pragma once
// The Java main thread: creates the VM, calls main, reports the outcome.

#include <cstdint>
#include <string>

namespace qn {

class Launcher;

/// Runs the Java main thread to its end; 0 when main was called and the thread detached.
std::uint32_t runJavaMainThread(Launcher& launcher);
/// The thread procedure; the parameter is the Launcher. 1 when it is null or anything fails.
std::uint32_t javaMainThreadBody(void* launcher);
/// Finds the main class and calls its main; true when main ran and the thread detached.
bool invokeMainClass(Launcher& launcher);
/// True when the threads that ran Java code must not detach: "VM Provider" admits IBM runtimes
/// and the chosen one is an IBM runtime of Java 8 or older, which ends the process itself.
bool keepsMainThread(const Launcher& launcher);

enum class StandardStream { Output, Error };
/// Points System.out or System.err at a new file; false (the stream unchanged) when that fails.
bool redirectStandardStream(Launcher& launcher, const std::string& path, StandardStream stream);
/// Redirects the output stream, then the error stream, to the configured files; one file named
/// for both gets one stream that both write to.
void redirectStandardStreams(Launcher& launcher);

}  // namespace qn
