#pragma once
// Where runtimes are found besides the configured folder and the application's own: the vendors'
// registrations and the folders runtimes are installed in. Each place is a row of a table; one
// scan walks them.

#include <string>
#include <vector>

#include "runtime/runtime_search.h"

namespace qn {

class Launcher;

enum class RuntimeKind { Jdk, Jre };
enum class VendorFamily { JavaSoft, JRockit, Ibm };

/// True when "JVM Source" and "VM Provider" let registrations of this kind and vendor be searched.
bool kindScanned(const Launcher& launcher, RuntimeKind kind);
bool vendorScanned(const Launcher& launcher, VendorFamily vendor);
/// Of a favoured kind and a favoured vendor.
bool isPreferredRuntime(const Launcher& launcher, RuntimeKind kind, VendorFamily vendor);

/// JAVA_VERSION of a home's release file, without its quotes; empty when there is none.
std::string releaseVersion(const std::string& home);

/// True for an IBM runtime of Java 8 or older, told by its release file (IMPLEMENTOR and
/// JAVA_VERSION) or its library's version resource: the runtime whose main thread must outlive
/// main.
bool isLegacyIbm(bool ibm, const std::string& versionText);
bool isLegacyIbmHome(const std::string& home, const std::string& library);

/// Appends the candidates of the registry tables, then JAVA_HOME and the search path (Windows),
/// or of the runtime folders (POSIX).
void scanRuntimeSources(const Launcher& launcher, std::vector<RuntimeCandidate>& candidates);

}  // namespace qn
