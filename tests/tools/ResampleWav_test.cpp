#include "tools/ResampleWav.h"

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <csignal>
#include <sys/resource.h>

#include "support/SoundServer.h"
#include "tools/ToolWindows.h"

namespace {

using testsupport::PumpUntil;
using toolstest::ToolWindowTest;

class ResampleWindow : public ToolWindowTest {
protected:
    // A 2-second 1 kHz tone made by sox.
    std::string Tone(const std::string& name, int rate, int channels, int bits,
                     const std::string& extra = "") {
        const std::string path = dir.File(name);
        Shell("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b " +
              std::to_string(bits) + " " + extra + " " + path + " synth 2 sine 1000 vol 0.5");
        return path;
    }
    void ChooseInput(tools::TfrmResample& form, const std::string& path) {
        dialogs->openAnswers.push_back({QString::fromStdString(path)});
        Click(form, "bInputFile");
    }
    void ChooseOutput(tools::TfrmResample& form, const std::string& path) {
        dialogs->saveAnswers.push_back(QString::fromStdString(path));
        Click(form, "bOutputFile");
    }
    // Clicks Convert and waits until the button is enabled again; the highest progress seen.
    int Convert(tools::TfrmResample& form) {
        auto* convert = testsupport::Child<QPushButton>(&form, "bConvert");
        int highest = 0;
        auto* bar = testsupport::Child<QProgressBar>(&form, "ProgressBar1");
        const auto watch = QObject::connect(bar, &QProgressBar::valueChanged,
                                            [&](int v) { highest = std::max(highest, v); });
        Click(form, "bConvert");
        EXPECT_TRUE(PumpUntil([&] { return convert->isEnabled(); }));
        QObject::disconnect(watch);
        EXPECT_EQ(bar->value(), 0);
        return highest;
    }
    std::string Soxi(const std::string& flag, const std::string& path) {
        std::string out = Output("soxi " + flag + " " + testsupport::Quoted(path));
        return out.substr(0, out.find('\n'));
    }
    // The file decoded by an independent decoder to 16-bit mono at its own rate.
    std::vector<std::int16_t> Decoded(const std::string& decoder, const std::string& path) {
        const std::string raw = path + "." + decoder + ".raw";
        if (decoder == "sox") {
            Shell("sox " + path + " -t raw -e signed -b 16 -c 1 " + raw);
        } else {
            Shell("ffmpeg -v error -y -i " + path + " -f s16le -ac 1 " + raw);
        }
        return testsupport::S16Samples(testsupport::ReadAll(raw));
    }
};

TEST_F(ResampleWindow, EachChainWritesTheChosenFormatThatSoxAndFfmpegDecodeToTheTone) {
    struct Case {
        const char* what;
        int inRate, inChannels, inBits;
        int rateEntry; // index in the rate list
        int channels, bits;
        bool ima;
        const char* encoding; // as soxi names it
    };
    const Case cases[] = {
        {"stereo 44100 to mono 22050", 44100, 2, 16, 4, 1, 16, false, "Signed Integer PCM"},
        {"8-bit mono kept as it is", 8000, 1, 8, 0, 1, 8, false, "Unsigned Integer PCM"},
        {"mono 22050 to stereo 44100 IMA", 22050, 1, 16, 7, 2, 16, true, "IMA ADPCM"},
        {"48000 stereo to 8-bit 32000", 48000, 2, 16, 6, 2, 8, false, "Unsigned Integer PCM"},
        {"8-bit mono 11025 to 16-bit stereo 48000", 11025, 1, 8, 8, 2, 16, false,
         "Signed Integer PCM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = Tone("in.wav", c.inRate, c.inChannels, c.inBits);
        const std::string out = dir.File("out.wav");
        tools::TfrmResample form(nullptr);
        form.show();
        ChooseInput(form, in);
        EXPECT_EQ(Text(form, "lInputFileName"), "in.wav");
        EXPECT_EQ(Text(form, "Label6"), QString::number(c.inChannels));
        EXPECT_EQ(Text(form, "Label7"), QString::number(c.inRate));
        EXPECT_EQ(Text(form, "Label8"), QString::number(c.inBits));
        EXPECT_EQ(Text(form, "Label15"), "Raw PCM");
        ChooseOutput(form, out);
        EXPECT_EQ(Text(form, "lOutputFileName"), "out.wav");
        auto* rates = testsupport::Child<QComboBox>(&form, "cbBitSamples");
        rates->setCurrentIndex(c.rateEntry);
        const int rate = rates->currentText().trimmed().toInt();
        testsupport::Child<QSpinBox>(&form, "SpinEdit1")->setValue(c.channels);
        testsupport::Child<QSpinBox>(&form, "SpinEdit3")->setValue(c.bits);
        testsupport::Child<QComboBox>(&form, "ComboBox1")->setCurrentIndex(c.ima ? 1 : 0);

        EXPECT_GE(Convert(form), 50) << "the progress bar moved";
        EXPECT_TRUE(dialogs->boxes.isEmpty()) << dialogs->BoxTexts().join("|").toStdString();
        EXPECT_EQ(Soxi("-r", out), std::to_string(rate));
        EXPECT_EQ(Soxi("-c", out), std::to_string(c.channels));
        EXPECT_EQ(Soxi("-e", out), c.encoding);
        if (!c.ima) {
            EXPECT_EQ(Soxi("-b", out), std::to_string(c.bits));
        }
        EXPECT_NEAR(std::stod(Soxi("-D", out)), 2.0, c.ima ? 0.03 : 0.002);
        for (const char* decoder : {"sox", "ffmpeg"}) {
            const auto samples = Decoded(decoder, out);
            ASSERT_GT(samples.size(), static_cast<std::size_t>(rate)) << decoder;
            const double tone = testsupport::Goertzel(samples, 1000, rate);
            EXPECT_GT(tone, 1000 * testsupport::Goertzel(samples, 1700, rate)) << decoder;
        }
    }
}

TEST_F(ResampleWindow, RefusalsAndFailuresSayWhyKeepTheFilesAndEnableConvertAgain) {
    const std::string in = Tone("in.wav", 22050, 2, 16);
    const auto original = testsupport::ReadAll(in);
    tools::TfrmResample form(nullptr);
    form.show();
    auto* convert = testsupport::Child<QPushButton>(&form, "bConvert");
    auto* rates = testsupport::Child<QComboBox>(&form, "cbBitSamples");

    // Nothing chosen yet: Convert does nothing and says nothing.
    Click(form, "bConvert");
    EXPECT_TRUE(dialogs->boxes.isEmpty());

    ChooseInput(form, in);
    // A WAV of a format the reader does not take leaves the labels and says nothing...
    ChooseInput(form, Tone("float.wav", 8000, 1, 32, "-e floating-point"));
    EXPECT_EQ(Text(form, "Label7"), "22050");
    ChooseOutput(form, dir.File("out.wav"));
    // ...and Convert then has no valid input: nothing starts.
    Click(form, "bConvert");
    EXPECT_TRUE(convert->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.wav")));
    EXPECT_TRUE(dialogs->boxes.isEmpty());
    ChooseInput(form, in);

    struct Case {
        const char* what;
        std::function<void()> arrange;
        QString box; // the start of the message
    };
    const std::string readOnly = dir.File("readonly.wav");
    Shell("cp " + in + " " + readOnly + " && chmod 444 " + readOnly);
    const Case cases[] = {
        {"a rate that is not a number", [&] { rates->setCurrentText("fast"); },
         "'fast' is not a valid integer value."},
        {"the input as output", [&] { ChooseOutput(form, in); },
         "The output file must not be the input file."},
        {"a read-only output", [&] { ChooseOutput(form, readOnly); }, "Cannot write to"},
        {"8 bits with IMA ADPCM",
         [&] {
             testsupport::Child<QSpinBox>(&form, "SpinEdit3")->setValue(8);
             testsupport::Child<QComboBox>(&form, "ComboBox1")->setCurrentIndex(1);
         },
         "Cannot encode 8 bit sound into ADPCM."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        rates->setCurrentText("44100");
        testsupport::Child<QSpinBox>(&form, "SpinEdit3")->setValue(16);
        testsupport::Child<QComboBox>(&form, "ComboBox1")->setCurrentIndex(0);
        ChooseOutput(form, dir.File("out.wav"));
        c.arrange();
        dialogs->boxes.clear();
        Click(form, "bConvert");
        EXPECT_TRUE(PumpUntil([&] { return !dialogs->boxes.isEmpty() && convert->isEnabled(); }));
        ASSERT_EQ(dialogs->boxes.size(), 1);
        EXPECT_TRUE(dialogs->boxes[0].text.startsWith(c.box))
            << dialogs->boxes[0].text.toStdString();
        EXPECT_EQ(dialogs->boxes[0].caption, "Vellorine");
    }
    EXPECT_EQ(testsupport::ReadAll(in), original);
    EXPECT_EQ(testsupport::ReadAll(readOnly), original);

    // A disk that fills up part-way: the write failure is reported, not a short file as done.
    rates->setCurrentText("44100");
    testsupport::Child<QSpinBox>(&form, "SpinEdit3")->setValue(16);
    testsupport::Child<QComboBox>(&form, "ComboBox1")->setCurrentIndex(0);
    ChooseOutput(form, dir.File("full.wav"));
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 50000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    dialogs->boxes.clear();
    Click(form, "bConvert");
    const bool reported =
        PumpUntil([&] { return !dialogs->boxes.isEmpty() && convert->isEnabled(); });
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(reported);
    EXPECT_TRUE(dialogs->boxes[0].text.startsWith("Cannot write to"))
        << dialogs->BoxTexts().join("|").toStdString();
}

} // namespace
