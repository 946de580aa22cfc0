#pragma once
// The few operating-system services the stand-in runtime needs, one file per system.

#include <cstdint>
#include <optional>
#include <string>

namespace standin {

/// The variable from the process environment as the operating system holds it now.
std::optional<std::string> environment(const char* name);
/// Text of the process's own code page (option strings, environment values) as UTF-8, the
/// encoding of the record.
std::string platformTextToUtf8(const std::string& text);
/// A path given in Unix form ("/tmp/x") in the form the system's file functions accept.
std::string nativePath(const std::string& path);
/// Reserved stack size of the calling thread, in bytes.
std::uint64_t currentThreadStackSize();
/// Creates (or empties, or appends to) a file named in UTF-16; false when it cannot be opened.
bool writeFile(const std::u16string& path, const std::string& bytes, bool append);
/// Ends the process at once with the code, as System.exit does.
[[noreturn]] void exitProcess(int code);

}  // namespace standin
