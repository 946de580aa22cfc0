#pragma once
// The Windows profile (ini) format, for backends that read and write the files themselves.
// Section and key names match in any letter case; a value in a pair of double or single quotes
// comes without them; the first matching section and key win. A line ends at CR LF, LF or a CR
// alone.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace qn::profile {

/// How a file's bytes hold its text. Files saved as UTF-16 begin with a byte-order mark.
enum class Encoding { Bytes, Utf16LittleEndian, Utf16BigEndian };

struct DecodedText {
    Encoding encoding = Encoding::Bytes;
    std::string text;  // 8-bit text; UTF-16 files come as UTF-8
};

/// The text of a file's bytes; nothing when they cannot be text of a profile file (a NUL byte in
/// 8-bit text, UTF-16 of odd length or with an unpaired surrogate).
std::optional<DecodedText> decode(const std::string& bytes);
/// The bytes that hold text in the encoding (a UTF-16 file keeps its mark); nothing when the text
/// is not valid UTF-8 and so has no UTF-16 form.
std::optional<std::string> encode(const std::string& text, Encoding encoding);

/// A file's text parsed once, for many lookups.
class Document {
public:
    explicit Document(const std::string& content);
    /// The value of key in section, or nothing when either is absent.
    std::optional<std::string> lookup(const std::string& section, const std::string& key) const;

private:
    using Keys = std::unordered_map<std::string, std::string>;  // folded key -> value
    std::unordered_map<std::string, Keys> sections_;             // folded section name -> keys
};

/// The value of key in section, or nothing when either is absent.
std::optional<std::string> lookup(const std::string& content, const std::string& section,
                                  const std::string& key);
/// The content with key set to value (an existing key changed in place, otherwise added at the
/// end of its section, or a new section appended); every other byte stays as it was. The value
/// must hold no line break.
std::string update(const std::string& content, const std::string& section, const std::string& key,
                   const std::string& value);
/// Copies the value the way GetPrivateProfileStringA fills a buffer; returns the count copied.
std::uint32_t copyToBuffer(const std::string& value, char* buffer, std::uint32_t size);

}  // namespace qn::profile
