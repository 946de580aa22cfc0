#pragma once
// Runtimes installed as folders (POSIX: /usr/lib/jvm and JAVA_HOME), for platforms without
// runtime registrations.

#include <string>
#include <vector>

namespace qn::platform {

struct InstalledRuntime {
    std::string home;         // with a trailing separator
    std::string versionText;  // JAVA_VERSION of the runtime's release file
    bool isJdk;               // the runtime has a compiler (bin/javac)
};

/// The installed runtimes in a repeatable order; empty where runtimes are registered instead.
std::vector<InstalledRuntime> installedRuntimes();

}  // namespace qn::platform
