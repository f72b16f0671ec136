// The main of every Qt test program. It makes the program's own application object (so an
// exception that escapes a handler reaches the error display as in the program) on the
// offscreen platform, and points the user's folders at a scratch folder for the whole run:
// no test reads or writes the real configuration, music folder or Wine prefix, even one
// that forgets to set its own.
#include <gtest/gtest.h>

#include <QInputDevice>
#include <cstdlib>

#include "platform/ErrorDisplay.h"
#include "support/TestSupport.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS(); // CTest's discovery needs no application
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0); // xcb stays possible, to look at a window
    const testsupport::ScratchFolder user;
    const testsupport::ScopedEnv home("HOME", user.Path().c_str());
    const testsupport::ScopedEnv config("XDG_CONFIG_HOME", user.File(".config").c_str());
    const testsupport::ScopedEnv data("XDG_DATA_HOME", user.File(".local/share").c_str());
    const testsupport::ScopedEnv program("VELLORINE_HOME", user.File("vellorine").c_str());
    const testsupport::ScopedEnv wine("WINEPREFIX", user.File(".wine").c_str());
    platform::TApplication app(argc, argv);
    // The keyboard that simulated key presses use is made while the application lives, so
    // that Qt's device registry outlives the application at exit.
    (void)QInputDevice::primaryKeyboard();
    return RUN_ALL_TESTS();
}
