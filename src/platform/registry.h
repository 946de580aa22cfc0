#pragma once
// Reading the runtime registrations, read only: machine-wide installs under HKEY_LOCAL_MACHINE,
// per-user installs under HKEY_CURRENT_USER. POSIX has no registry, so nothing opens there; the
// runtimes installed as folders stand in for it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qn::platform {

class RegistryKey;  // defined by each backend
struct RegistryKeyDeleter {
    void operator()(RegistryKey* key) const;
};
using RegistryKeyPtr = std::unique_ptr<RegistryKey, RegistryKeyDeleter>;

enum class RegistryRoot { LocalMachine, CurrentUser };
/// On 64-bit Windows 32-bit and 64-bit programs register under separate views of the registry.
/// The process's own view holds the runtimes it can load; the other one is only counted, to say
/// what the search could not use.
enum class RegistryView { Own, Other };

/// Opens a key under the root for reading (KEY_READ, in the given view); null when it cannot be
/// opened, or when the system has no other view.
RegistryKeyPtr openKey(RegistryRoot root, const std::string& path, RegistryView view = RegistryView::Own);
/// Subkey names in enumeration order (index 0, 1, ... until the enumeration fails).
std::vector<std::string> subkeyNames(RegistryKey& key);
/// A string value: nothing when it is missing, the query fails or its size is 0.
std::optional<std::string> stringValue(RegistryKey& key, const std::string& name);

}  // namespace qn::platform
