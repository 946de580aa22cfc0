#pragma once
// The launch trace: one line per decision of one start, written only when the environment variable
// QN_LAUNCHER_TRACE names a destination. Steps report what they decided and why; formatting, the
// destination and the timing live in trace.cpp alone. With the variable unset every call returns at
// once and nothing is written.

#include <string>
#include <string_view>
#include <vector>

namespace qn::trace {

/// True when this start is traced. Cheap: the variable is read once per process.
bool enabled();

/// Writes "<elapsed ms> [<process id>] <category>: <text>" as one line; control characters in
/// `text` are escaped. Does nothing when the trace is off or cannot be written.
void line(std::string_view category, std::string_view text);

/// The text in double quotes, so that blanks at its ends and an empty value can be seen.
std::string quoted(std::string_view text);

/// Unit tests only: while `lines` is set, the trace is on and each line is appended there as
/// "<category>: <text>", as given (no time, nothing escaped); null ends the capture.
void captureForTests(std::vector<std::string>* lines);

/// Closes the destination and forgets it: the next call reads QN_LAUNCHER_TRACE again. A start
/// never needs it; tests that change the variable between cases do.
void restart();

}  // namespace qn::trace
