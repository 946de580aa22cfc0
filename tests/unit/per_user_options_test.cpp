#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "launcher/settings.h"
#include "vm/per_user_options.h"
#include "vm/vm_options.h"

namespace qn {
namespace {

using Strings = std::vector<std::string>;

const char* const kUserFile = "C:\\AppData\\P\\C\\app.ini";
const Strings kVendorOptions{"-Djava.class.path=C:\\App\\app.jar", "-Dsun.java.command=", "-Xmx256m", "-Xss1m"};

const char* const kAllowed = "User Parameters=yes\n";  // goes on in the vendor's section

// The user's file holds `userValue` as its "Virtual Machine Parameters" (no file: null); the
// vendor's ini adds `permission`.
struct Start {
    const char* userValue = nullptr;
    std::string permission = kAllowed;
    bool service = false;
    bool unreadable = false;
};

void assemble(Launcher& launcher, const Start& start) {
    fake::system().environment["APPDATA"] = "C:\\AppData";
    fake::system().environment["HOMEDIR"] = "C:\\Users\\u";
    fake::addFile("C:\\App\\app.jar");
    fake::addFile("C:\\App\\app.ini", "[Class Path]\nClass Path=app.jar\n"
                                      "[Java Runtime Environment]\nVirtual Machine Parameters=-Xmx256m -Xss1m\n" +
                                          start.permission);
    if (start.userValue) {
        fake::addFile(kUserFile, std::string("[Java Runtime Environment]\nVirtual Machine Parameters=") +
                                     start.userValue + "\nMain Class=other.Main\n[Class Path]\nClass Path=evil.jar\n");
    }
    if (start.unreadable) fake::system().unreadableFiles.insert(kUserFile);
    launcher.productName = "P";
    launcher.productCode = "C";
    launcher.isService = start.service;
    EXPECT_TRUE(assembleVmOptions(launcher));
}

TEST(PerUserOptions, TakenOnlyWithTheVendorsYesFromAReadableFile) {
    const struct {
        const char* name;
        Start start;
        Strings added;  // after the vendor's options
    } cases[] = {
        {"allowed", {"-Xmx1g -Dx=%HOMEDIR%"}, {"-Xmx1g", "-Dx=C:\\Users\\u"}},
        {"Yes is not yes", {"-Xmx1g", "User Parameters=Yes\n"}, {}},
        {"not allowed", {"-Xmx1g", ""}, {}},
        {"a service", {"-Xmx1g", kAllowed, true}, {}},
        {"no file", {nullptr}, {}},
        {"a file that cannot be read", {"-Xmx1g", kAllowed, false, true}, {}},
        {"class path options left out with their values",
         {"-Djava.class.path=x.jar -cp a.jar -classpath b.jar --class-path c.jar --class-path=d.jar "
          "-Djava.class.path \"-Djava.class.path=q.jar\" -Dkeep=1"},
         {"-Dkeep=1"}},
        {"-cp as the last word", {"-Dkeep=1 -cp"}, {"-Dkeep=1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        Launcher launcher;
        assemble(launcher, c.start);
        Strings expected = kVendorOptions;
        expected.insert(expected.end(), c.added.begin(), c.added.end());
        EXPECT_EQ(expected, launcher.vmOptions);
        EXPECT_EQ(c.added, launcher.perUserVmOptions);
        EXPECT_EQ(c.added.empty() ? "" : kUserFile, launcher.perUserOptionsFile);
        EXPECT_TRUE(fake::system().errorBoxes.empty());
        if (c.start.service) {
            const Strings& searched = fake::system().searchedPaths;
            EXPECT_EQ(searched.end(), std::find(searched.begin(), searched.end(), kUserFile));
        }
    }
}

TEST(PerUserOptions, TheTraceNamesTheFileAndEachOption) {
    fake::startTrace();
    Launcher launcher;
    assemble(launcher, {"-Xmx1g -cp a.jar"});
    const Strings lines = fake::tracedLines();
    const std::string leftOut = std::string(" of ") + kUserFile + ": the class path is the configuration file's";
    for (const std::string& wanted : {std::string("per-user: VM option \"-Xmx1g\" from ") + kUserFile,
                                      "per-user: left out \"-cp\"" + leftOut, "per-user: left out \"a.jar\"" + leftOut}) {
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), wanted)) << wanted;
    }
}

// A file holding only the user's options must not hide the vendor's runtime; without the
// permission an existing file's empty "JRE Path" hides it, as it always has.
TEST(PerUserOptions, AnEmptyJrePathOfTheFileHidesTheVendorsOnlyWithoutThePermission) {
    for (const char* permission : {"yes", "no"}) {
        SCOPED_TRACE(permission);
        fake::reset();
        fake::system().environment["APPDATA"] = "C:\\AppData";
        fake::addFile("C:\\App\\app.ini", std::string("[Product Information]\nProduct Name=P\nProduct Code=C\n"
                                                       "[Java Runtime Environment]\nMain Class=a.B\nJRE Path=C:\\J\n"
                                                       "User Parameters=") + permission + "\n");
        fake::addFile(kUserFile, "[Java Runtime Environment]\nVirtual Machine Parameters=-Xmx1g\n");
        Launcher launcher;
        ASSERT_TRUE(readSettings(launcher));
        EXPECT_EQ(std::string(permission) == "yes" ? "C:\\J" : "", launcher.configuredJrePath);
    }
}

// The runtime names a refused -XX option by its name alone (the note itself: the runtime library's
// tests).
TEST(PerUserOptions, ARefusedXxOptionIsFoundByItsName) {
    Launcher launcher;
    launcher.perUserOptionsFile = kUserFile;
    launcher.perUserVmOptions = {"-Xmx1g", "-XX:Bogus=1", "-XX:+Flag"};
    const std::string file = kUserFile;
    EXPECT_EQ("The option -XX:Bogus=1 comes from " + file + ".\n",
              perUserOptionsNote(launcher, "Unrecognized VM option 'Bogus=1'"));
    EXPECT_EQ("The option -XX:+Flag comes from " + file + ".\n",
              perUserOptionsNote(launcher, "Unrecognized VM option 'Flag'"));
}

}  // namespace
}  // namespace qn
