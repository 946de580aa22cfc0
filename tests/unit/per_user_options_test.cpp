#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "launcher/settings.h"
#include "vm/vm_options.h"

namespace qn {
namespace {

using Strings = std::vector<std::string>;

const char* const kUserFile = "C:\\AppData\\P\\C\\app.ini";

// The user's file holds `userValue` as its "Virtual Machine Parameters"; the vendor's ini says
// "User Parameters=`permission`".
void assemble(Launcher& launcher, const char* userValue, const char* permission = "yes", bool service = false) {
    fake::system().environment["APPDATA"] = "C:\\AppData";
    fake::system().environment["HOMEDIR"] = "C:\\Users\\u";
    fake::addFile("C:\\App\\app.jar");
    fake::addFile("C:\\App\\app.ini", std::string("[Class Path]\nClass Path=app.jar\n[Java Runtime Environment]\n"
                                                   "Virtual Machine Parameters=-Xmx256m\nUser Parameters=") + permission);
    fake::addFile(kUserFile, std::string("[Java Runtime Environment]\nVirtual Machine Parameters=") + userValue +
                                 "\n[Class Path]\nClass Path=evil.jar\n");
    launcher.productName = "P";
    launcher.productCode = "C";
    launcher.isService = service;
    EXPECT_TRUE(assembleVmOptions(launcher));
}

TEST(PerUserOptions, TakenOnlyWithTheVendorsYes) {
    const struct {
        const char* name;
        const char* userValue;
        const char* permission;
        bool service;
        Strings added;  // after the vendor's options
    } cases[] = {
        {"allowed", "-Xmx1g -Dx=%HOMEDIR%", "yes", false, {"-Xmx1g", "-Dx=C:\\Users\\u"}},
        {"Yes is not yes", "-Xmx1g", "Yes", false, {}},
        {"a service", "-Xmx1g", "yes", true, {}},
        {"class path options left out with their values",
         "-Djava.class.path=x.jar -classpath b.jar --class-path c.jar --class-path=d.jar -Djava.class.path -Dkeep=1 -cp",
         "yes", false, {"-Dkeep=1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        Launcher launcher;
        assemble(launcher, c.userValue, c.permission, c.service);
        Strings expected{"-Djava.class.path=C:\\App\\app.jar", "-Dsun.java.command=", "-Xmx256m"};
        expected.insert(expected.end(), c.added.begin(), c.added.end());
        EXPECT_EQ(expected, launcher.vmOptions);
        EXPECT_EQ(c.added, launcher.perUserVmOptions);
        EXPECT_EQ(c.added.empty() ? "" : kUserFile, launcher.perUserOptionsFile);
        const Strings& searched = fake::system().searchedPaths;
        EXPECT_TRUE(!c.service || std::find(searched.begin(), searched.end(), kUserFile) == searched.end());
    }
}

TEST(PerUserOptions, TheTraceNamesTheFileAndEachOption) {
    fake::startTrace();
    Launcher launcher;
    assemble(launcher, "-Xmx1g -cp a.jar");
    const Strings lines = fake::tracedLines();
    const std::string file = kUserFile;
    for (const std::string& wanted : {"per-user: VM option \"-Xmx1g\" from " + file,
                                      "per-user: left out \"a.jar\" of " + file +
                                          ": the class path is the configuration file's"}) {
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), wanted)) << wanted;
    }
}

// A file holding only the user's options must not hide the vendor's runtime (without the
// permission an empty "JRE Path" there hides it, as it always has).
TEST(PerUserOptions, AFileOfOptionsAloneLeavesTheVendorsRuntime) {
    fake::system().environment["APPDATA"] = "C:\\AppData";
    fake::addFile("C:\\App\\app.ini", "[Product Information]\nProduct Name=P\nProduct Code=C\n[Java Runtime Environment]\n"
                                      "Main Class=a.B\nJRE Path=C:\\J\nUser Parameters=yes\n");
    fake::addFile(kUserFile, "[Java Runtime Environment]\nVirtual Machine Parameters=-Xmx1g\n");
    Launcher launcher;
    ASSERT_TRUE(readSettings(launcher));
    EXPECT_EQ("C:\\J", launcher.configuredJrePath);
}

}  // namespace
}  // namespace qn
