#include "tools/OggPlayer.h"

#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>

#include "support/SoundServer.h"
#include "tools/ToolWindows.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Goertzel;
using testsupport::MonitorRecording;
using testsupport::PumpFor;
using testsupport::PumpUntil;
using toolstest::ToolWindowTest;

class OggPlayerWindow : public ToolWindowTest {
protected:
    // A 1 kHz stereo tone of the given length, encoded by oggenc.
    std::string OggTone(const std::string& name, int seconds) {
        const std::string wav = dir.File(name + ".wav");
        const std::string ogg = dir.File(name);
        Shell("sox -n -r 44100 -c 2 -b 16 " + wav + " synth " + std::to_string(seconds) +
              " sine 1000 vol 0.5");
        Shell("oggenc -Q -q 4 -o " + ogg + " " + wav);
        return ogg;
    }
    void Open(tools::TfrmOggPlayer& form, const std::string& path) {
        dialogs->openAnswers.push_back({QString::fromStdString(path)});
        Click(form, "BitBtn1");
    }
    // Power of the tone in the left and right channels of a stereo recording.
    static std::pair<double, double> ToneIn(const std::vector<std::int16_t>& stereo) {
        return {Goertzel(stereo, 1000, 44100, 0, 2), Goertzel(stereo, 1000, 44100, 1, 2)};
    }
    // Records the sink for the given time while the window goes on handling its events.
    std::vector<std::int16_t> Listen(std::chrono::milliseconds time, const std::string& name) {
        MonitorRecording recording(testsupport::TestSink().second, dir.File(name), 2);
        PumpFor(time);
        return recording.Stop();
    }
    // The bar (1..31) the spectrum drew tallest, read from the image's pixels.
    static int TallestBar(QWidget& form) {
        const QImage image = testsupport::Child<QWidget>(&form, "Image1")->grab().toImage();
        int best = -1;
        int bestHeight = 0;
        for (int i = 1; i < 32; ++i) {
            const int x = (image.width() / 32) * i + 1;
            int height = 0;
            while (height < image.height() &&
                   image.pixelColor(x, image.height() - 1 - height) == QColor(0, 128, 0)) {
                ++height;
            }
            if (height > bestHeight) {
                bestHeight = height;
                best = i;
            }
        }
        return best;
    }
};

TEST_F(OggPlayerWindow, PlaysAnOggencFileWithSpectrumBalancePauseSeekAndEnd) {
    REQUIRE_SOUND_SERVER();
    const std::string ogg = OggTone("Tone.OGG", 6);
    tools::TfrmOggPlayer form(nullptr);
    form.show();
    auto* play = testsupport::Child<QPushButton>(&form, "BitBtn1");
    auto* bar = testsupport::Child<QScrollBar>(&form, "ScrollBar1");
    EXPECT_FALSE(bar->isEnabled());

    Open(form, ogg);
    EXPECT_TRUE(dialogs->boxes.isEmpty());
    EXPECT_EQ(dialogs->fileRequests.back().filter, "Sound file(*.ogg)|*.ogg| Any file(*.*)|*.*");
    EXPECT_FALSE(play->isEnabled());
    EXPECT_TRUE(bar->isEnabled());
    EXPECT_EQ(Text(form, "lFileName"), "Tone") << "capital .OGG accepted and cut off";
    EXPECT_EQ(Text(form, "lSampleRate"), "44100 bps");
    EXPECT_EQ(Text(form, "lTotalTime"), "0:06");

    // Centre balance: the tone in both channels, and the spectrum's bar for 1 kHz (64-point
    // bands of 689 Hz) is the tallest.
    const auto [left, right] = ToneIn(Listen(900ms, "centre.raw"));
    EXPECT_GT(left, 0.0);
    EXPECT_NEAR(right / left, 1.0, 0.2);
    EXPECT_EQ(TallestBar(form), 1);
    EXPECT_EQ(Text(form, "lCurrentTime"), "0:01");

    // Hard left silences the right channel (after the queued 0.4 s have played out).
    testsupport::Child<QSlider>(&form, "TrackBar1")->setValue(0);
    PumpFor(600ms);
    const auto [hardLeft, hardRight] = ToneIn(Listen(500ms, "left.raw"));
    EXPECT_LT(hardRight, hardLeft / 10000);
    testsupport::Child<QSlider>(&form, "TrackBar1")->setValue(5);

    // Pause: the sound and the clock stop; resume: both go on.
    Click(form, "BitBtn2");
    EXPECT_TRUE(form.Playing());
    PumpFor(600ms);
    const QString pausedAt = Text(form, "lCurrentTime");
    const auto [pausedLeft, pausedRight] = ToneIn(Listen(500ms, "paused.raw"));
    EXPECT_LT(pausedLeft + pausedRight, (left + right) / 10000);
    EXPECT_EQ(Text(form, "lCurrentTime"), pausedAt);
    Click(form, "BitBtn2");
    const auto [resumedLeft, resumedRight] = ToneIn(Listen(500ms, "resumed.raw"));
    EXPECT_GT(resumedLeft, left / 10);

    // Dragging the bar to 80 % jumps there: the clock shows 4.8 s and the position follows.
    bar->setSliderPosition(80);
    EXPECT_TRUE(PumpUntil([&] { return bar->value() >= 80; }, 2s));
    EXPECT_TRUE(PumpUntil([&] { return Text(form, "lCurrentTime") == "0:05"; }, 2s));

    // The end of the file brings the window back to idle.
    EXPECT_TRUE(PumpUntil([&] { return play->isEnabled(); }, 4s));
    EXPECT_FALSE(bar->isEnabled());
    EXPECT_FALSE(form.Playing());
    EXPECT_TRUE(dialogs->boxes.isEmpty());
}

TEST_F(OggPlayerWindow, ClosingWhilePlayingStopsFirstAndClosesOnlyWhenIdle) {
    REQUIRE_SOUND_SERVER();
    const std::string ogg = OggTone("long.ogg", 8);
    for (const char* how : {"button", "title bar"}) {
        SCOPED_TRACE(how);
        tools::TfrmOggPlayer form(nullptr);
        form.show();
        Open(form, ogg);
        PumpFor(300ms);
        ASSERT_TRUE(form.Playing());
        if (std::string(how) == "button") {
            Click(form, "bClose");
        } else {
            form.close(); // refused at first, then closed once the output is idle
        }
        EXPECT_FALSE(form.Playing()) << "stopped before the window goes";
        EXPECT_TRUE(PumpUntil([&] { return !form.isVisible(); }, 2s));
    }
}

TEST_F(OggPlayerWindow, BadFilesAndAFailingDeviceLeaveTheWindowReadyForTheNextFile) {
    const std::string ogg = OggTone("tone.ogg", 6);
    const auto whole = testsupport::ReadAll(ogg);
    const std::string noise =
        dir.Write("noise.ogg", testsupport::Bytes(5000, static_cast<std::uint8_t>(0x4F)));
    const std::string wav = dir.File("tone.ogg.wav"); // a valid sound file, not an Ogg
    const std::string opus = dir.File("opus.ogg");
    Shell("ffmpeg -v error -y -i " + wav + " -c:a libopus " + opus);

    tools::TfrmOggPlayer form(nullptr);
    form.show();
    auto* play = testsupport::Child<QPushButton>(&form, "BitBtn1");
    for (const std::string& bad : {noise, wav, opus}) {
        SCOPED_TRACE(bad);
        dialogs->boxes.clear();
        Open(form, bad);
        ASSERT_EQ(dialogs->boxes.size(), 1);
        EXPECT_EQ(dialogs->boxes[0].text, "Ogg file is not valid.");
        EXPECT_EQ(dialogs->boxes[0].caption, "");
        EXPECT_TRUE(play->isEnabled());
        EXPECT_EQ(Text(form, "lFileName"), "OGG");
    }

    // No sound server to play on: the output's failure is shown and Play works again.
    {
        testsupport::ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/vellorine-no-server");
        dialogs->boxes.clear();
        Open(form, ogg);
        EXPECT_TRUE(PumpUntil([&] { return play->isEnabled() && !dialogs->boxes.isEmpty(); }));
        ASSERT_EQ(dialogs->boxes.size(), 1);
        EXPECT_TRUE(dialogs->boxes[0].text.contains("could not be opened"))
            << dialogs->boxes[0].text.toStdString();
        EXPECT_FALSE(testsupport::Child<QScrollBar>(&form, "ScrollBar1")->isEnabled());
    }

    // A file cut short (past its headers) plays what it holds and ends.
    REQUIRE_SOUND_SERVER();
    const std::string cut = dir.Write(
        "cut.ogg", testsupport::Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(
                                                                         whole.size() / 2)));
    dialogs->boxes.clear();
    Open(form, cut);
    EXPECT_TRUE(PumpUntil([&] { return play->isEnabled(); }, 5s));
    EXPECT_TRUE(dialogs->boxes.isEmpty()) << dialogs->BoxTexts().join("|").toStdString();
}

} // namespace
