#pragma once
// The fake registry of the unit tests.

#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace qn::fake {

struct FakeKey {
    std::vector<std::string> subkeys;            // in enumeration order
    std::map<std::string, std::string> values;   // string values
};

struct FakeRegistry {
    std::map<std::string, FakeKey> keys;  // "HKLM\<path>" or "HKCU\<path>", no trailing "\"
    std::vector<std::string> opened;      // every key opened, in order, without the root
    std::vector<std::string> openedWithRoot;
};

/// Reset together with the fake system.
FakeRegistry& registry();

/// Registers `vendorKey` (with its trailing "\") + subkey with the given JavaHome, under
/// HKEY_LOCAL_MACHINE.
void registerRuntime(const std::string& vendorKey, const std::string& subkey,
                     const std::string& javaHome);
/// Adds the value `name` = `value` to the key `path` (whose parents list it as a subkey).
void setValue(platform::RegistryRoot root, const std::string& path, const std::string& name,
              const std::string& value);

}  // namespace qn::fake
