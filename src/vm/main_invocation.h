#pragma once
// The Java main thread: creates the VM, calls main, reports the outcome.

#include <cstdint>

namespace qn {

class Launcher;

/// Runs the Java main thread to its end; 0 when main was called and the thread detached.
std::uint32_t runJavaMainThread(Launcher& launcher);

}  // namespace qn
