#pragma once
// The user's own VM options: "Virtual Machine Parameters" of the per-user settings file, taken
// after the vendor's when the configuration file says "User Parameters=yes". Nothing else of that
// file reaches the VM, and nothing from it changes the class path.

#include <string>

namespace qn {

class Launcher;
class SettingsReader;

/// Appends the per-user file's options to `vmOptions`, without those that name the class path,
/// and keeps them and the file's path in the launcher. Nothing for a service, without the vendor's
/// permission or without a readable file.
void addPerUserVmOptions(Launcher& launcher, const SettingsReader& reader);

/// What the message of a failed creation adds while per-user options are in use, after the
/// runtime's words `said`: the file the refused option came from, or all of the file's options
/// when the words name none of them. Empty without per-user options.
std::string perUserOptionsNote(const Launcher& launcher, const std::string& said);

}  // namespace qn
