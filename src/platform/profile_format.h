#pragma once
// The Windows profile (ini) format, for backends that read and write the files themselves.
// Section and key names match in any letter case; a value in a pair of double or single quotes
// comes without them; the first matching section and key win.

#include <optional>
#include <string>

namespace qn::profile {

/// The value of key in section, or nothing when either is absent.
std::optional<std::string> lookup(const std::string& content, const std::string& section,
                                  const std::string& key);
/// The content with key set to value (an existing key changed in place, otherwise added at the
/// end of its section, or a new section appended).
std::string update(const std::string& content, const std::string& section, const std::string& key,
                   const std::string& value);
/// Copies the value the way GetPrivateProfileStringA fills a buffer; returns the count copied.
std::uint32_t copyToBuffer(const std::string& value, char* buffer, std::uint32_t size);

}  // namespace qn::profile
