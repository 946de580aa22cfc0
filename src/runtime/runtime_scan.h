#pragma once
// One walk over the runtime sources: what happens to every home a source names. The sources
// themselves are tables: the registrations in registry_sources.cpp, the folders in
// folder_sources.cpp.

#include <set>
#include <string>
#include <vector>

#include "runtime/runtime_search.h"
#include "runtime/runtime_sources.h"

namespace qn {

/// A home as a source names it, before it is looked into.
struct FoundHome {
    std::string registered;   // with its trailing separator
    std::string versionText;  // as the source or the home gives it; empty when none can be read
    RuntimeKind kind;
    VendorFamily vendor;      // what "VM Provider" filters by
    std::string vendorName;   // who made it, for the trace
    JvmType probe;            // the flavour order that decides whether it qualifies
    bool runtimeFolderFirst;  // a JDK of Java 8 or older keeps its runtime in "jre\"
    std::string where;        // the registration or the source, for the trace
};

struct Scan {
    const Launcher& launcher;
    std::vector<RuntimeCandidate>& candidates;
    std::set<std::string> seen;  // one runtime is often reachable under several names

    void trace(const std::string& text) const;
    bool inRange(const JavaVersion& version) const;
    /// Adds the home when it holds a library the settings accept, or traces why it does not.
    void consider(const FoundHome& found);
};

/// The classic vendor keys, or today's installers' keys under the machine and the user.
void scanRegistry(Scan& scan, bool classic);
/// JAVA_HOME, the java program on the search path and, on POSIX, the runtime folders.
void scanFolders(Scan& scan);

/// The version a home tells without a registration: its release file, else (Windows) the
/// version resource of its runtime library; empty when neither can be read.
std::string homeVersion(const std::string& home, const std::string& library);
/// IMPLEMENTOR of the home's release file; empty when there is none.
std::string homeVendor(const std::string& home);

}  // namespace qn
