// The profile reader and writer: both readers agree, and a write changes only its own key.
#include "fuzz_input.h"
#include "text/profile_format.h"

namespace {

const char* const kSections[] = {"S", "s+", "Java Runtime Environment", "", " T "};
const char* const kKeys[] = {"K", "k", "JRE Path", ";K", "A B"};

bool readsBackAsWritten(const std::string& value) {
    if (value.find_first_of("\r\n") != std::string::npos) return false;
    if (!value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                           value.back() == '\t'))
        return false;
    return !(value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qn::fuzz::Input input(data, size);
    const std::string section = kSections[input.byte() % 5];
    const std::string key = kKeys[input.byte() % 5];
    const std::string value = input.text();
    const std::string content = input.rest();

    const qn::profile::Document document(content);
    for (const char* s : kSections) {
        for (const char* k : kKeys) QN_FUZZ_CHECK(document.lookup(s, k) == qn::profile::lookup(content, s, k));
    }

    if (value.find_first_of("\r\n") == std::string::npos && section != " T " && key != ";K") {
        const std::string updated = qn::profile::update(content, section, key, value);
        const qn::profile::Document after(updated);
        if (readsBackAsWritten(value)) QN_FUZZ_CHECK(after.lookup(section, key) == value);
        for (const char* s : kSections) {
            for (const char* k : kKeys) {
                const bool target = qn::profile::Document("[" + section + "]\n" + key + "=x\n").lookup(s, k).has_value();
                // Only the written key may read differently afterwards.
                if (!target) QN_FUZZ_CHECK(after.lookup(s, k) == document.lookup(s, k));
            }
        }
    }

    // Decoding and encoding: what decodes comes back byte for byte.
    if (const auto decoded = qn::profile::decode(content)) {
        const auto bytes = qn::profile::encode(decoded->text, decoded->encoding);
        QN_FUZZ_CHECK(bytes.has_value() && *bytes == content);
    }
    for (const auto encoding : {qn::profile::Encoding::Utf16LittleEndian, qn::profile::Encoding::Utf16BigEndian}) {
        if (const auto bytes = qn::profile::encode(content, encoding)) {
            const auto decoded = qn::profile::decode(*bytes);
            if (content.find('\0') == std::string::npos) {
                QN_FUZZ_CHECK(decoded && decoded->text == content && decoded->encoding == encoding);
            }
        }
    }
    return 0;
}
