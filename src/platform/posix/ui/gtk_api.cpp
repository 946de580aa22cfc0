#include "platform/posix/ui/gtk_api.h"

#include <dlfcn.h>

namespace qn::platform::ui {

namespace {

struct Loaded {
    GtkApi api;
    std::string problem;  // empty when every function was found
};

Loaded load() {
    Loaded loaded;
    // Never unloaded: the toolkit registers types and threads that outlive any window.
    void* library = ::dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = ::dlerror();
        loaded.problem = reason ? reason : "libgtk-3.so.0 cannot be loaded";
        return loaded;
    }
    // dlsym on the toolkit's handle also finds what GDK, GdkPixbuf and GLib export.
#define QN_GTK_RESOLVE(result, name, parameters)                                              \
    loaded.api.name = reinterpret_cast<result(*) parameters>(::dlsym(library, #name));        \
    if (!loaded.api.name && loaded.problem.empty()) loaded.problem = "GTK 3 lacks " #name;
    QN_GTK_FUNCTIONS(QN_GTK_RESOLVE)
#undef QN_GTK_RESOLVE
    return loaded;
}

}  // namespace

const GtkApi* loadGtk(std::string& problem) {
    static const Loaded loaded = load();
    problem = loaded.problem;
    return loaded.problem.empty() ? &loaded.api : nullptr;
}

}  // namespace qn::platform::ui
