#pragma once
// The release file of a Java runtime's home: lines of NAME="value".

#include <string>

namespace qn {

/// The value of `name` without its quotes; empty when the text has no such line.
std::string releaseValue(const std::string& releaseText, const std::string& name);

}  // namespace qn
