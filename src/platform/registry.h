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

/// Opens a key under the root for reading (KEY_READ, the process's own view); null when it cannot
/// be opened.
RegistryKeyPtr openKey(RegistryRoot root, const std::string& path);
/// Subkey names in enumeration order (index 0, 1, ... until the enumeration fails).
std::vector<std::string> subkeyNames(RegistryKey& key);
/// A string value: nothing when it is missing, the query fails or its size is 0.
std::optional<std::string> stringValue(RegistryKey& key, const std::string& name);

}  // namespace qn::platform
