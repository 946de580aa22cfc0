#include "platform/native_splash.h"
#include "platform/win32/windows_h.h"

namespace qn::platform {

// The runtime's splash library finds what it needs itself; the runtime library is loaded later.
void* loadNativeSplashLibrary(const std::string& path, const std::string&) {
    return LoadLibraryA(path.c_str());
}

}  // namespace qn::platform
