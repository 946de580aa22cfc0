// No registry on POSIX: no key opens.
#include "platform/registry.h"

namespace qn::platform {

class RegistryKey {};

void RegistryKeyDeleter::operator()(RegistryKey* key) const { delete key; }

RegistryKeyPtr openKey(RegistryRoot, const std::string&, RegistryView) { return nullptr; }

std::vector<std::string> subkeyNames(RegistryKey&) { return {}; }

std::optional<std::string> stringValue(RegistryKey&, const std::string&) { return std::nullopt; }

}  // namespace qn::platform
