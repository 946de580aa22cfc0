// The Windows GUI entry point. The command line is read by the launcher itself, so none of the
// parameters are used.
#include "launcher/launcher.h"
#include "platform/win32/windows_h.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return qn::runLauncher(); }
