#pragma once
// The launcher's own command-line rule and the arguments of the Java main method.

#include <string>
#include <vector>

namespace qn {

class Launcher;

/// Fills `arguments` from the process's command line, without the program name.
void readCommandLine(Launcher& launcher);
/// Words separated by spaces only; a double quote opens a word only at its start.
std::vector<std::string> splitArguments(const std::string& text);
/// Appends the non-empty words of the expanded "Cmd" text to `arguments`.
void appendExtraArguments(Launcher& launcher);
/// Puts the non-empty words of the expanded "Cmd Before" text in front of `arguments`.
void insertLeadingArguments(Launcher& launcher, const std::string& text);
/// Index of the first element equal to `text` (case-sensitive), or -1.
int findArgument(const std::vector<std::string>& list, const std::string& text);
/// The text without the white space of the thread's locale at both ends.
std::string trimWhiteSpace(const std::string& text);

}  // namespace qn
