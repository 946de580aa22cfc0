#pragma once
// Keeping an application to one running instance.

#include <cstdint>

namespace qn {

class Launcher;

/// False only when a later instance fails to hand its arguments over.
bool setUpSingleInstance(Launcher& launcher);
/// The whole run phase of a later instance; its result is the exit code.
std::int32_t waitForFirstInstance(Launcher& launcher);
/// Teardown of the coordination (listener, block, event).
void endSingleInstance(Launcher& launcher);

}  // namespace qn
