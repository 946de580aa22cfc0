// "+" sections: a plain value wins; an empty one is taken from the "+" section with one blank.
#include "fake_platform.h"
#include "fuzz_input.h"
#include "launcher/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qn::fuzz::Input input(data, size);
    qn::fake::reset();
    const std::string file = "C:\\App\\app.ini";
    qn::fake::addFile(file, input.rest());
    const qn::SettingsReader reader(file);
    for (const char* section : {"Java Runtime Environment", "Application"}) {
        for (const char* key : {"Main Class", "Virtual Machine Parameters", "Cmd"}) {
            const std::string plain = qn::readProfileString(file, section, key);
            const std::string plus = qn::readProfileString(file, std::string(section) + "+", key);
            const std::string value = reader.read(section, key);
            if (!plain.empty()) QN_FUZZ_CHECK(value == plain);
            else if (plus.empty()) QN_FUZZ_CHECK(value.empty());
            else QN_FUZZ_CHECK(value == (plus[0] == ' ' ? plus : " " + plus));
        }
    }
    return 0;
}
