#include <dlfcn.h>

#include "platform/native_splash.h"

namespace qn::platform {

void* loadNativeSplashLibrary(const std::string& path, const std::string& runtimeLibrary) {
    // Some JDK builds link the splash library against libjvm.so without a search path that finds
    // it, so the runtime library has to be in the process first. Loading it here is harmless: the
    // launcher loads the same library right after the splash step, and nothing is ever unloaded.
    if (!runtimeLibrary.empty()) ::dlopen(runtimeLibrary.c_str(), RTLD_NOW | RTLD_GLOBAL);
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    ::dlerror();  // a library that does not load means no native splash, not a message
    return library;
}

}  // namespace qn::platform
