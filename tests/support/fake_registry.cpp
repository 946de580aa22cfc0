#include "fake_registry.h"

#include "fake_platform.h"
#include "platform/registry.h"

namespace qn::fake {

namespace {

std::string withoutTrailingBackslash(std::string path) {
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

}  // namespace

FakeRegistry& registry() {
    static FakeRegistry instance;
    static std::uint64_t generation = 0;
    // The fake system's reset counter tells when a new test began.
    if (generation != system().resets) {
        instance = FakeRegistry{};
        generation = system().resets;
    }
    return instance;
}

void registerRuntime(const std::string& vendorKey, const std::string& subkey,
                     const std::string& javaHome) {
    registry().keys[withoutTrailingBackslash(vendorKey)].subkeys.push_back(subkey);
    registry().keys[withoutTrailingBackslash(vendorKey + subkey)].values["JavaHome"] = javaHome;
}

}  // namespace qn::fake

namespace qn::platform {

class RegistryKey {
public:
    fake::FakeKey* key;
};

void RegistryKeyDeleter::operator()(RegistryKey* key) const { delete key; }

RegistryKeyPtr openMachineKey(const std::string& path) {
    const std::string name = fake::withoutTrailingBackslash(path);
    fake::registry().opened.push_back(name);
    const auto it = fake::registry().keys.find(name);
    if (it == fake::registry().keys.end()) return nullptr;
    return RegistryKeyPtr(new RegistryKey{&it->second});
}

std::vector<std::string> subkeyNames(RegistryKey& key) { return key.key->subkeys; }

std::optional<std::string> stringValue(RegistryKey& key, const std::string& name) {
    const auto it = key.key->values.find(name);
    if (it == key.key->values.end() || it->second.empty()) return std::nullopt;
    return it->second;
}

std::vector<InstalledRuntime> installedRuntimes() { return fake::registry().installed; }

}  // namespace qn::platform
