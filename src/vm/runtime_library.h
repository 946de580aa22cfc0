#pragma once
// Loading the runtime library and creating and destroying the virtual machine.

#include <jni.h>

#include <string>

namespace qn {

class Launcher;

/// Loads jvmLibraryPath and resolves both entry points; false after the report.
bool loadRuntimeLibrary(Launcher& launcher);
/// Creates the VM on the calling thread and redirects the standard streams.
bool createJavaVm(Launcher& launcher);
/// The reason text of a failed creation's result code (empty for codes without one).
std::string creationFailureReason(jint result);
/// Destroys the VM when one exists; waits for the Java program's non-daemon threads.
void destroyJavaVm(Launcher& launcher);

}  // namespace qn
