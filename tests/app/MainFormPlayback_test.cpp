// CD playback from the main window, heard through the sound server's null sink.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/MainWindowFixture.h"
#include "platform/MciCdAudio.h"
#include "support/SoundServer.h"

namespace fs = std::filesystem;

namespace {

using apptest::kSecond;
using namespace std::chrono_literals;
class CdPlayback : public apptest::MainWindowCommands {};

// Track 1 holds a 440 Hz tone for 3 s, track 2 a 660 Hz tone for 0.8 s.
TEST_F(CdPlayback, PlayPauseResumeStopAndTheEndOfTheLastTrackComeBackToIdle) {
    REQUIRE_SOUND_SERVER();
    cdtest::UseImages({cdtest::MakeImage(images_, "Tones", {3 * kSecond, 60}, "--tones")});
    auto& form = Start();
    platform::MciCdAudio& device = form.MediaPlayer();
    ClickRow(0);
    form.activateWindow(); // shortcuts reach the active window only
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form, 2000));
    QTest::keyClick(&form, Qt::Key_P, Qt::ControlModifier);
    ASSERT_TRUE(form.Playing());
    EXPECT_EQ(form.StatusText(), "Play Track01");
    EXPECT_TRUE(Enabled("aPause"));
    EXPECT_TRUE(Enabled("aStop"));
    EXPECT_EQ(device.Mode(), platform::MciMode::Playing);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return device.Position() > kSecond / 4; }, 3000ms));

    form.Action("aPause")->trigger();
    EXPECT_TRUE(form.Paused());
    EXPECT_FALSE(Enabled("aPause"));
    EXPECT_TRUE(Enabled("aStop"));
    EXPECT_EQ(device.Mode(), platform::MciMode::Paused);
    testsupport::PumpFor(150ms); // the sound server's time goes on; the position must not
    const std::uint32_t held = device.Position();

    ClickRow(1); // a paused track is resumed whichever row is selected
    form.Action("aPlay")->trigger();
    EXPECT_FALSE(form.Paused());
    EXPECT_EQ(device.Mode(), platform::MciMode::Playing);
    EXPECT_GE(device.Position(), held);
    EXPECT_LT(device.Position(), device.TrackPosition(2));

    form.Action("aStop")->trigger();
    EXPECT_FALSE(form.Playing());
    EXPECT_EQ(form.StatusText(), form.IdleStatusText());
    EXPECT_EQ(device.Mode(), platform::MciMode::NotOpen);
    EXPECT_FALSE(Enabled("aStop"));

    // The last row plays to the end of the disc; its end stops playback by itself.
    testsupport::MonitorRecording recording(testsupport::TestSink().second);
    form.Action("aPlay")->trigger();
    EXPECT_EQ(form.StatusText(), "Play Track02");
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !form.Playing(); }, 6000ms));
    EXPECT_EQ(form.StatusText(), form.IdleStatusText());
    EXPECT_FALSE(Enabled("aStop"));
    EXPECT_EQ(device.Mode(), platform::MciMode::NotOpen);
    testsupport::PumpFor(200ms); // the monitor delivers what the sink played last
    const auto heard = recording.Stop();
    ASSERT_GT(heard.size(), 44100u / 4);
    EXPECT_GT(testsupport::Goertzel(heard, 660, 44100),
              100 * testsupport::Goertzel(heard, 440, 44100));
    EXPECT_TRUE(dialogs_->boxes.isEmpty());

    // Play on another row while playing restarts with that row's track; closing the
    // window while it plays stops and closes the device.
    form.Action("aPlay")->trigger();
    ClickRow(0);
    form.Action("aPlay")->trigger();
    EXPECT_EQ(form.StatusText(), "Play Track01");
    ASSERT_EQ(device.Mode(), platform::MciMode::Playing);
    EXPECT_LT(device.Position(), device.TrackPosition(2));
    form.close();
    EXPECT_EQ(device.Mode(), platform::MciMode::NotOpen);
    EXPECT_FALSE(form.Playing());
}

TEST_F(CdPlayback, APlayThatCannotReadTheDiscReturnsToIdleOnItsOwn) {
    REQUIRE_SOUND_SERVER();
    const std::string cue = cdtest::MakeImage(images_, "Gone", {4 * kSecond}, "--tones");
    cdtest::UseImages({cue});
    auto& form = Start();
    ClickRow(0);
    fs::resize_file(images_.File("Gone.bin"), 10 * 2352); // the disc is taken away
    form.Action("aPlay")->trigger();
    EXPECT_TRUE(form.Playing());
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !form.Playing(); }, 3000ms));
    EXPECT_EQ(form.StatusText(), form.IdleStatusText());
    EXPECT_FALSE(Enabled("aStop"));
    EXPECT_TRUE(dialogs_->boxes.isEmpty()) << "playback errors stay silent";
}

} // namespace
