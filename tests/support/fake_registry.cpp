#include "fake_registry.h"

#include <algorithm>

#include "fake_platform.h"

namespace qn::fake {

namespace {

std::string withoutTrailingBackslash(std::string path) {
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

std::string rootName(platform::RegistryRoot root) {
    return root == platform::RegistryRoot::CurrentUser ? "HKCU\\" : "HKLM\\";
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

void setValue(platform::RegistryRoot root, const std::string& path, const std::string& name,
              const std::string& value) {
    std::string key = withoutTrailingBackslash(path);
    registry().keys[rootName(root) + key].values[name] = value;
    // Every parent lists its child once, in the order they were added.
    for (std::size_t cut = key.rfind('\\'); cut != std::string::npos; cut = key.rfind('\\')) {
        const std::string child = key.substr(cut + 1);
        key.erase(cut);
        std::vector<std::string>& subkeys = registry().keys[rootName(root) + key].subkeys;
        if (std::find(subkeys.begin(), subkeys.end(), child) == subkeys.end()) subkeys.push_back(child);
    }
}

void registerRuntime(const std::string& vendorKey, const std::string& subkey,
                     const std::string& javaHome) {
    const std::string vendor = "HKLM\\" + withoutTrailingBackslash(vendorKey);
    registry().keys[vendor].subkeys.push_back(subkey);
    registry().keys["HKLM\\" + withoutTrailingBackslash(vendorKey + subkey)].values["JavaHome"] = javaHome;
}

}  // namespace qn::fake

namespace qn::platform {

class RegistryKey {
public:
    fake::FakeKey* key;
};

void RegistryKeyDeleter::operator()(RegistryKey* key) const { delete key; }

RegistryKeyPtr openKey(RegistryRoot root, const std::string& path, RegistryView view) {
    std::string name = fake::withoutTrailingBackslash(path);
    // The fake machine is 64-bit: the other view is where Windows keeps the 32-bit registrations.
    if (view == RegistryView::Other) {
        const std::size_t software = name.find('\\');
        if (software == std::string::npos) return nullptr;
        name.insert(software + 1, "WOW6432Node\\");
    }
    fake::registry().opened.push_back(name);
    fake::registry().openedWithRoot.push_back(fake::rootName(root) + name);
    const auto it = fake::registry().keys.find(fake::rootName(root) + name);
    if (it == fake::registry().keys.end()) return nullptr;
    return RegistryKeyPtr(new RegistryKey{&it->second});
}

std::vector<std::string> subkeyNames(RegistryKey& key) { return key.key->subkeys; }

std::optional<std::string> stringValue(RegistryKey& key, const std::string& name) {
    const auto it = key.key->values.find(name);
    if (it == key.key->values.end() || it->second.empty()) return std::nullopt;
    return it->second;
}

}  // namespace qn::platform
