// The window helper's entry: the request, the toolkit, then the one window it was started for.
#include <unistd.h>

#include <cstring>

#include "platform/posix/ui/windows.h"

namespace qn::platform {

namespace {

struct Kind {
    const char* name;
    int (*show)(const ui::GtkApi&, const Fields&, RecordChannel&);
    bool x11Only;  // a window that must be placed: Wayland lets no client place its windows
};

constexpr Kind kKinds[] = {
    {"message", ui::showMessage, false},
    {"exception", ui::askAboutException, false},
    {"runtime", ui::askForRuntime, false},
    {"splash", ui::showSplash, true},
};

}  // namespace

int runWindowHelper(const char* kind, int argc, char** argv) {
    RecordChannel channel(STDIN_FILENO, STDOUT_FILENO);
    const std::optional<Fields> request = channel.receive();
    if (!request) return 2;
    const Kind* found = nullptr;
    for (const Kind& candidate : kKinds) {
        if (std::strcmp(candidate.name, kind) == 0) found = &candidate;
    }
    if (!found) {
        channel.send({"unavailable", std::string("no window of kind ") + kind});
        return 2;
    }
    std::string problem;
    const ui::GtkApi* gtk = ui::loadGtk(problem);
    if (!gtk) {
        channel.send({"unavailable", problem});
        return 1;
    }
    if (found->x11Only) gtk->gdk_set_allowed_backends("x11");
    if (!gtk->gtk_init_check(&argc, &argv)) {
        channel.send({"unavailable", "GTK cannot open the display"});
        return 1;
    }
    return found->show(*gtk, *request, channel);
}

}  // namespace qn::platform
