// The runtime registrations, read only.
#include "platform/registry.h"
#include "platform/win32/windows_h.h"

namespace qn::platform {

class RegistryKey {
public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    ~RegistryKey() { RegCloseKey(key_); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_;
};

void RegistryKeyDeleter::operator()(RegistryKey* key) const { delete key; }

RegistryKeyPtr openKey(RegistryRoot root, const std::string& path, RegistryView view) {
    HKEY key = nullptr;
    const HKEY rootKey = root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    // No view flag for the own view: a 32-bit launcher sees the registrations of 32-bit runtimes.
    REGSAM access = KEY_READ;
    if (view == RegistryView::Other) {
#if defined(_WIN64)
        access |= KEY_WOW64_32KEY;
#else
        // A 32-bit launcher on 32-bit Windows has no other view: the flag is ignored there, so
        // the own view must not be counted twice.
        BOOL wow64 = FALSE;
        if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return nullptr;
        access |= KEY_WOW64_64KEY;
#endif
    }
    if (RegOpenKeyExA(rootKey, path.c_str(), 0, access, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return RegistryKeyPtr(new RegistryKey(key));
}

std::vector<std::string> subkeyNames(RegistryKey& key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[260];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, size);
    }
    return names;
}

std::optional<std::string> stringValue(RegistryKey& key, const std::string& name) {
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size == 0) {
        return std::nullopt;
    }
    std::string data(size, '\0');
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    data.resize(std::min<std::size_t>(size, data.size()));
    // The stored size counts the terminating zero, when the writer included one.
    const std::size_t end = data.find('\0');
    if (end != std::string::npos) data.resize(end);
    return data;
}

}  // namespace qn::platform
