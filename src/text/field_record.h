#pragma once
// The records the launcher and its window helper exchange over a socket: a list of text fields,
// each of any bytes (a stack trace holds line feeds, a path may hold anything but NUL).
// A record is "<count>:" followed by each field as "<length>:<bytes>", numbers in decimal.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

std::string encodeRecord(const std::vector<std::string>& fields);

enum class RecordStatus { Complete, Incomplete, Malformed };

struct DecodedRecord {
    RecordStatus status = RecordStatus::Incomplete;
    std::vector<std::string> fields;  // when Complete
    std::size_t length = 0;           // bytes of `input` the record took, when Complete
};

/// The record at the start of `input`: Incomplete while more bytes may complete it, Malformed
/// when no continuation can (a bad number, more fields or bytes than a record may hold).
DecodedRecord decodeRecord(std::string_view input);

}  // namespace qn
