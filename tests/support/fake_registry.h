#pragma once
// The fake registry and installed-runtime list of the unit tests.

#include <map>
#include <string>
#include <vector>

#include "platform/installed_runtimes.h"

namespace qn::fake {

struct FakeKey {
    std::vector<std::string> subkeys;            // in enumeration order
    std::map<std::string, std::string> values;   // string values
};

struct FakeRegistry {
    std::map<std::string, FakeKey> keys;  // full path under HKEY_LOCAL_MACHINE, no trailing "\"
    std::vector<std::string> opened;      // every key opened, in order
    std::vector<platform::InstalledRuntime> installed;
};

/// Reset together with the fake system.
FakeRegistry& registry();

/// Registers `vendorKey` (with its trailing "\") + subkey with the given JavaHome.
void registerRuntime(const std::string& vendorKey, const std::string& subkey,
                     const std::string& javaHome);

}  // namespace qn::fake
