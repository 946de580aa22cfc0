#include "text/field_record.h"

namespace qn {

namespace {

// Bounds that no honest record reaches: a stack trace of a few megabytes is the largest field.
constexpr std::size_t kMostFields = 64;
constexpr std::size_t kLongestField = 64u << 20;
constexpr std::size_t kMostDigits = 9;

// A number ended by ':' at `pos`; moves `pos` past the colon.
RecordStatus readNumber(std::string_view input, std::size_t& pos, std::size_t& number) {
    number = 0;
    std::size_t digits = 0;
    for (;; ++pos, ++digits) {
        if (pos >= input.size()) return RecordStatus::Incomplete;
        const char c = input[pos];
        if (c == ':') break;
        if (c < '0' || c > '9' || digits == kMostDigits) return RecordStatus::Malformed;
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    if (digits == 0) return RecordStatus::Malformed;
    ++pos;
    return RecordStatus::Complete;
}

}  // namespace

std::string encodeRecord(const std::vector<std::string>& fields) {
    std::string record = std::to_string(fields.size()) + ':';
    for (const std::string& field : fields) {
        record += std::to_string(field.size());
        record += ':';
        record += field;
    }
    return record;
}

DecodedRecord decodeRecord(std::string_view input) {
    DecodedRecord decoded;
    std::size_t pos = 0;
    std::size_t count = 0;
    decoded.status = readNumber(input, pos, count);
    if (decoded.status != RecordStatus::Complete) return decoded;
    if (count > kMostFields) return {RecordStatus::Malformed, {}, 0};
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t length = 0;
        const RecordStatus status = readNumber(input, pos, length);
        if (status != RecordStatus::Complete) return {status, {}, 0};
        if (length > kLongestField) return {RecordStatus::Malformed, {}, 0};
        if (input.size() - pos < length) return {RecordStatus::Incomplete, {}, 0};
        decoded.fields.emplace_back(input.substr(pos, length));
        pos += length;
    }
    decoded.length = pos;
    return decoded;
}

}  // namespace qn
