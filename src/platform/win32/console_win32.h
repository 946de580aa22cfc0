#pragma once
// The console build: the same objects as the GUI program, linked for the console subsystem. It
// tells itself apart by its own image header, so no source is compiled twice.

#include <string>

namespace qn::win32 {

/// True when this executable was linked for the console subsystem.
bool isConsoleProgram();

/// Launcher text (the ANSI code page) on standard error, each line ended by CR LF: as UTF-16 to
/// a console, so that it reads right whatever the console's code page; as the bytes it is to a
/// pipe or a file. Nothing when the process has no standard error.
void writeStandardError(const std::string& text);

}  // namespace qn::win32
