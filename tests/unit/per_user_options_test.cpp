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
    fake::system().memory.totalPhysical = std::uint64_t{4} << 30;
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
        std::uint32_t stackSize;
    } cases[] = {
        {"allowed", {"-Xmx1g -Dx=%HOMEDIR%"}, {"-Xmx1g", "-Dx=C:\\Users\\u"}, 1048576},
        {"allowed from the + section", {"-Xmx1g", "[Java Runtime Environment+]\nUser Parameters=yes\n"}, {"-Xmx1g"}, 1048576},
        {"Yes is not yes", {"-Xmx1g", "User Parameters=Yes\n"}, {}, 1048576},
        {"not allowed", {"-Xmx1g", ""}, {}, 1048576},
        {"a service", {"-Xmx1g", kAllowed, true}, {}, 1048576},
        {"no file", {nullptr}, {}, 1048576},
        {"a file that cannot be read", {"-Xmx1g", kAllowed, false, true}, {}, 1048576},
        {"percentages and the stack size", {"-Xmx25P \"-Xss2m\""}, {"-Xmx1048576K", "-Xss2m"}, 2097152},
        {"class path options left out with their values",
         {"-Djava.class.path=x.jar -cp a.jar -classpath b.jar --class-path c.jar --class-path=d.jar "
          "-Djava.class.path \"-Djava.class.path=q.jar\" -Dkeep=1"},
         {"-Dkeep=1"}, 1048576},
        {"-cp as the last word", {"-Dkeep=1 -cp"}, {"-Dkeep=1"}, 1048576},
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
        EXPECT_EQ(c.stackSize, launcher.mainThreadStackSize);
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
    for (const char* wanted : {"per-user: VM option \"-Xmx1g\" from C:\\AppData\\P\\C\\app.ini",
                               "per-user: left out \"-cp\" of C:\\AppData\\P\\C\\app.ini: the class path is the "
                               "configuration file's",
                               "per-user: left out \"a.jar\" of C:\\AppData\\P\\C\\app.ini: the class path is the "
                               "configuration file's"}) {
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

TEST(PerUserOptions, NoteOfAFailedCreationNamesTheFile) {
    const std::string file = kUserFile;
    const struct {
        const char* name;
        Strings options;
        const char* said;
        bool saidInReason;
        std::string note;
    } cases[] = {
        {"no per-user options", {}, "Unrecognized option: -Xbogus", false, ""},
        {"the refused option named", {"-Xmx1g", "-Xbogus"}, "Unrecognized option: -Xbogus", false,
         "The runtime says: Unrecognized option: -Xbogus\nThe option -Xbogus comes from " + file + ".\n"},
        {"a -XX option named by its name", {"-XX:Bogus=1"}, "Unrecognized VM option 'Bogus=1'", false,
         "The runtime says: Unrecognized VM option 'Bogus=1'\nThe option -XX:Bogus=1 comes from " + file + ".\n"},
        {"a -XX flag named by its name", {"-XX:+Bogus"}, "Unrecognized VM option 'Bogus'", false,
         "The runtime says: Unrecognized VM option 'Bogus'\nThe option -XX:+Bogus comes from " + file + ".\n"},
        {"words already in the reason, no option named", {"-Xms9g", "-Xmx9g"}, "Could not reserve enough space", true,
         "These options come from " + file + ": -Xms9g -Xmx9g\n"},
        {"nothing said", {"-Xmx1g"}, "", false, "These options come from " + file + ": -Xmx1g\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Launcher launcher;
        launcher.perUserVmOptions = c.options;
        if (!c.options.empty()) launcher.perUserOptionsFile = file;
        EXPECT_EQ(c.note, perUserOptionsNote(launcher, c.said, c.saidInReason));
    }
}

}  // namespace
}  // namespace qn
