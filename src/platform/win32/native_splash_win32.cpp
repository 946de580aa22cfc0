#include "platform/native_splash.h"
#include "platform/platform.h"

namespace qn::platform {

// The runtime library is loaded later. The splash library goes first, so it gets the same
// protected search: a library it imports comes from its own folder or the system, never from the
// working folder or the launcher's folder (and the runtime library would then bind that copy too).
void* loadNativeSplashLibrary(const std::string& path, const std::string&) {
    const std::size_t cut = conventions().lastSeparator(path);
    std::uint32_t errorCode = 0;
    return loadRuntimeLibrary(path, cut == std::string::npos ? std::string() : path.substr(0, cut), errorCode);
}

}  // namespace qn::platform
