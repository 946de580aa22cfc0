#include <gtest/gtest.h>

#include "text/field_record.h"

namespace qn {
namespace {

TEST(FieldRecord, AnyBytesSurviveTheRoundTrip) {
    const std::vector<std::string> fields{"line one\nline two\r\n", "", std::string("nul\0inside", 10), "12:34:",
                                          "\xff\xfe"};
    const std::string record = encodeRecord(fields);
    // Followed by the start of the next record: only its own bytes are taken.
    const DecodedRecord decoded = decodeRecord(record + "1:2:ok");
    ASSERT_EQ(RecordStatus::Complete, decoded.status);
    EXPECT_EQ(fields, decoded.fields);
    EXPECT_EQ(record.size(), decoded.length);
    // Every shorter prefix waits for more.
    for (std::size_t cut = 0; cut < record.size(); ++cut) {
        EXPECT_EQ(RecordStatus::Incomplete, decodeRecord(record.substr(0, cut)).status) << cut;
    }
}

TEST(FieldRecord, BadNumbersAndOversizedRecordsAreMalformed) {
    const char* const cases[] = {
        ":",                 // no count
        "x:",                // not a number
        "1:a:",              // length not a number
        "65:",               // more fields than a record holds
        "1:9999999999:",     // more digits than any length has
        "1:99999999:",       // a field longer than any honest one
    };
    for (const char* input : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(RecordStatus::Malformed, decodeRecord(input).status);
    }
}

}  // namespace
}  // namespace qn
