#pragma once
// The answer typed at the terminal question after an uncaught exception.

#include <optional>
#include <string>

namespace qn::platform {

enum class ExceptionAnswer { Ignore, Stop };

/// One typed line: empty (Enter alone), "i" or "ignore" ignore; "s" or "stop" stop; letter case
/// and surrounding blanks do not matter. Nothing for any other text (the question is repeated).
std::optional<ExceptionAnswer> parseExceptionAnswer(const std::string& line);

/// The first line of a stack trace: the exception's class and message.
std::string firstLine(const std::string& text);

}  // namespace qn::platform
