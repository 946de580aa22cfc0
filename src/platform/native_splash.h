#pragma once
// Loading the Java runtime's own splash library.

#include <string>

namespace qn::platform {

/// Loads the splash library for good; null, without any message, when it cannot be loaded.
/// `runtimeLibrary` is the runtime library beside it, which some builds of it link against.
void* loadNativeSplashLibrary(const std::string& path, const std::string& runtimeLibrary);

}  // namespace qn::platform
