#pragma once
// Loading the runtime library and creating and destroying the virtual machine.

namespace qn {

class Launcher;

/// Loads jvmLibraryPath and resolves both entry points; false after the report.
bool loadRuntimeLibrary(Launcher& launcher);
/// Creates the VM on the calling thread and redirects the standard streams.
bool createJavaVm(Launcher& launcher);
/// Destroys the VM when one exists; waits for the Java program's non-daemon threads.
void destroyJavaVm(Launcher& launcher);

}  // namespace qn
