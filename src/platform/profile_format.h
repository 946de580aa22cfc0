#pragma once
// The Windows profile (ini) format, for backends that read and write the files themselves.
// Section and key names match in any letter case; a value in a pair of double or single quotes
// comes without them; the first matching section and key win.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qn::profile {

/// The value of key in section, or nothing when either is absent.
std::optional<std::string> lookup(const std::string& content, const std::string& section,
                                  const std::string& key);

/// A file's sections and keys, for many lookups in one content. It refers into the content, which
/// must outlive it unchanged.
class Index {
public:
    explicit Index(const std::string& content);
    /// The same answer as lookup on the content.
    std::optional<std::string> lookup(const std::string& section, const std::string& key) const;

private:
    struct Entry {
        std::string_view key;
        std::string_view value;
    };
    struct Section {
        std::string_view name;
        std::vector<Entry> entries;
    };
    std::vector<Section> sections_;
};
/// The content with key set to value (an existing key changed in place, otherwise added at the
/// end of its section, or a new section appended).
std::string update(const std::string& content, const std::string& section, const std::string& key,
                   const std::string& value);
/// Copies the value the way GetPrivateProfileStringA fills a buffer; returns the count copied.
std::uint32_t copyToBuffer(const std::string& value, char* buffer, std::uint32_t size);

}  // namespace qn::profile
