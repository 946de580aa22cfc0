// Java versions and the preferred-version patterns.
#include "fake_platform.h"
#include "fuzz_input.h"
#include "runtime/java_version.h"

using qn::JavaVersion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qn::fuzz::Input input(data, size);
    qn::fake::reset();
    const std::string first = input.text();
    const std::string second = input.rest();
    for (const std::int32_t fill : {0, 65535}) {
        JavaVersion a, b;
        const bool parsedA = JavaVersion::parse(first, fill, a);
        JavaVersion::parse(second, fill, b);
        QN_FUZZ_CHECK(a.count >= 0 && a.count <= 4);
        if (parsedA) {
            // The text of a parsed version (which leaves out trailing 0 and 65535 groups) gives
            // back every group it shows.
            // A version of only such groups shows as "0.0.0.0".
            const std::string text = JavaVersion::toText(a);
            JavaVersion again;
            QN_FUZZ_CHECK(JavaVersion::parse(text, fill, again));
            for (int i = 0; text != "0.0.0.0" && i < again.count; ++i) {
                QN_FUZZ_CHECK(again.components[i] == a.components[i]);
            }
        }
        const int forward = JavaVersion::compare(a, b), backward = JavaVersion::compare(b, a);
        QN_FUZZ_CHECK((forward > 0) == (backward < 0) && (forward == 0) == (backward == 0));
        QN_FUZZ_CHECK(JavaVersion::compare(a, a) == 0);
        JavaVersion::matches(a, b);
        JavaVersion::inRange(a, JavaVersion::lowBound(), b);
        QN_FUZZ_CHECK(!qn::describeVersionRequirement(a, b).empty());
    }
    return 0;
}
