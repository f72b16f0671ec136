#include <gtest/gtest.h>

#include "platform/Shell.h"
#include "support/ScopedStandIns.h"

namespace {

TEST(Shell, TheDesktopShellRefusesWhatCannotBeOpenedOrStarted) {
    platform::DesktopShell shell;
    EXPECT_FALSE(shell.StartDetached("vellorine-no-such-program", {}));
    EXPECT_FALSE(shell.Open("/nonexistent/vellorine/folder"));
}

TEST(Shell, TheVolumeControlOpensItsRecordingTabOnRequestAndReportsAMissingProgram) {
    const testsupport::ScopedShell recorder;
    platform::RecordingShell* requests = recorder.get();

    EXPECT_TRUE(platform::OpenVolumeControl(false));
    EXPECT_TRUE(platform::OpenVolumeControl(true));
    requests->answer = false;
    EXPECT_FALSE(platform::OpenVolumeControl(false));

    ASSERT_EQ(requests->requests.size(), 3);
    EXPECT_EQ(requests->requests[0].program, "pavucontrol");
    EXPECT_TRUE(requests->requests[0].arguments.isEmpty());
    EXPECT_EQ(requests->requests[1].arguments, QStringList{"--tab=2"});
}

} // namespace
