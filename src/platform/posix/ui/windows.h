#pragma once
// The helper's windows, one function each: the request's fields in, the answer sent on `channel`.
// Each runs after the toolkit is up and gives the helper's exit code.

#include "platform/posix/ui/gtk_api.h"
#include "platform/posix/window_helper.h"

namespace qn::platform::ui {

/// Fields: title, text. Answers "closed" once the user dismissed it.
int showMessage(const GtkApi& gtk, const Fields& request, RecordChannel& channel);
/// Fields: the stack trace. Answers "ignore" or "stop" (also for Escape and the close box).
int askAboutException(const GtkApi& gtk, const Fields& request, RecordChannel& channel);
/// Fields: message, download address, title of the folder chooser. Sends "check" with each picked
/// folder and takes back ("1" or "0", problem); answers "ok" or "cancel".
int askForRuntime(const GtkApi& gtk, const Fields& request, RecordChannel& channel);
/// Fields: picture path. Answers "shown" with width and height (or "empty" when the picture does
/// not load), then keeps the window until the launcher closes the socket.
int showSplash(const GtkApi& gtk, const Fields& request, RecordChannel& channel);

/// Text the toolkit can draw: invalid UTF-8 replaced, trailing line feeds dropped.
std::string labelText(const GtkApi& gtk, const std::string& text);
/// A left-aligned label, wrapped at `wrapChars` characters (0: not wrapped).
Object leftLabel(const GtkApi& gtk, const std::string& text, int wrapChars);
/// The layout both questions share: `dialog` titled and centred, its content a frame named
/// `frameLabel` around a column that starts with the error icon beside `heading`. Gives the
/// column, for the rest of the question.
Object questionColumn(const GtkApi& gtk, Object dialog, const char* title, const char* frameLabel,
                      Object heading);

}  // namespace qn::platform::ui
