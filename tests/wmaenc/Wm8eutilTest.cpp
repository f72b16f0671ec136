// The WMA helper as the job window runs it: built binary, real WAV input made by sox,
// output checked by ffprobe and decoded by ffmpeg.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "EncoderRun.h"

using namespace wmatests;

namespace {

struct PresetCase {
    const char* Code;
    int SampleRate;
    int Channels;
    long BitRate; // what the stream carries: the preset's rate, at least 24 kbit/s
};

constexpr PresetCase AllPresets[] = {
    {"192_48_2", 48000, 2, 192000}, {"160_48_2", 48000, 2, 160000}, {"128_48_2", 48000, 2, 128000},
    {"192_44_2", 44100, 2, 192000}, {"160_44_2", 44100, 2, 160000}, {"128_44_2", 44100, 2, 128000},
    {"96_44_2", 44100, 2, 96000},   {"80_44_2", 44100, 2, 80000},   {"64_44_2", 44100, 2, 64000},
    {"48_44_2", 44100, 2, 48000},   {"32_44_2", 44100, 2, 32000},   {"48_44_1", 44100, 1, 48000},
    {"32_44_1", 44100, 1, 32000},   {"48_32_2", 32000, 2, 48000},   {"40_32_2", 32000, 2, 40000},
    {"32_32_2", 32000, 2, 32000},   {"20_32_1", 32000, 1, 24000},   {"32_22_2", 22050, 2, 32000},
    {"22_22_2", 22050, 2, 24000},   {"20_22_2", 22050, 2, 24000},   {"20_22_1", 22050, 1, 24000},
    {"16_22_1", 22050, 1, 24000},   {"20_16_2", 16000, 2, 24000},   {"16_16_2", 16000, 2, 24000},
    {"16_16_1", 16000, 1, 24000},   {"12_16_1", 16000, 1, 24000},   {"10_16_1", 16000, 1, 24000},
    {"10_11_1", 11025, 1, 24000},   {"8_11_1", 11025, 1, 24000},    {"12_8_2", 8000, 2, 24000},
    {"8_8_1", 8000, 1, 24000},      {"6_8_1", 8000, 1, 24000},      {"5_8_1", 8000, 1, 24000},
};

class Wm8eutil : public ::testing::Test {
protected:
    void SetUp() override {
        if (RunCommand("sox --version").ExitCode != 0 ||
            RunCommand("ffprobe -version").ExitCode != 0) {
            GTEST_SKIP() << "sox and ffprobe are needed";
        }
    }

    // A half-scale 1 kHz sine of the given length and format.
    std::string MakeWav(const std::string& name, int rate, int channels, int bits, double seconds) {
        const std::string path = folder.File(name);
        const auto result =
            RunCommand("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                       " -b " + std::to_string(bits) + " " + Quoted(path) + " synth " +
                       std::to_string(seconds) + " sine 1000 vol 0.5");
        EXPECT_EQ(result.ExitCode, 0) << result.Output;
        return path;
    }

    ScratchFolder folder;
};

// The job window's contract: "100%" only as the last line of a good run, no "ERROR".
void ExpectFinishedCleanly(const CommandResult& result) {
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    const auto lines = Lines(result.Output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "100%");
    EXPECT_EQ(result.Output.find("ERROR"), std::string::npos) << result.Output;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "100%"), 1);
}

void ExpectFailedWithErrorLine(const CommandResult& result) {
    EXPECT_NE(result.ExitCode, 0);
    const auto lines = Lines(result.Output);
    ASSERT_EQ(lines.size(), 1u) << result.Output;
    EXPECT_NE(lines[0].find("ERROR"), std::string::npos);
    EXPECT_EQ(result.Output.find("100%"), std::string::npos);
}

} // namespace

TEST_F(Wm8eutil, TheDefaultPresetMakesStereoWmaWithAuthorAndDescription) {
    const std::string input = MakeWav("track 01.wav", 44100, 2, 16, 3.0);
    const std::string output = folder.File("track 01.wma");
    const auto result =
        RunEncoder({"-input", input, "-output", output, "-a_setting", "64_44_2", "-author", "The",
                    "Caf\xc3\xa9", "Band", "-description", "Recorded", "in", "one", "take"});
    ExpectFinishedCleanly(result);

    const Probe probe = ProbeFile(output);
    EXPECT_EQ(probe.Codec, "wmav2");
    EXPECT_EQ(probe.SampleRate, 44100);
    EXPECT_EQ(probe.Channels, 2);
    EXPECT_EQ(probe.BitRate, 64000);
    EXPECT_NEAR(probe.Duration, 3.0, 0.1);
    EXPECT_EQ(probe.Artist, "The Caf\xc3\xa9 Band");
    EXPECT_EQ(probe.Comment, "Recorded in one take");
    const double rms = DecodedRms(output);
    EXPECT_GT(rms, 0.25); // a half-scale sine has 0.354
    EXPECT_LT(rms, 0.45);
}

TEST_F(Wm8eutil, ProgressLinesRiseAndNeverReach100BeforeTheEnd) {
    const std::string input = MakeWav("long.wav", 44100, 2, 16, 20.0);
    const auto result =
        RunEncoder({"-input", input, "-output", folder.File("long.wma"), "-a_setting", "128_44_2"});
    ExpectFinishedCleanly(result);
    const auto lines = Lines(result.Output);
    ASSERT_GE(lines.size(), 10u);
    int previous = -1;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        ASSERT_EQ(lines[i].back(), '%') << lines[i];
        const int percent = std::stoi(lines[i]);
        EXPECT_GT(percent, previous);
        EXPECT_LT(percent, 100);
        previous = percent;
    }
}

TEST_F(Wm8eutil, EveryPresetGivesItsRateAndChannels) {
    const std::string input = MakeWav("in.wav", 44100, 2, 16, 1.0);
    for (const auto& preset : AllPresets) {
        SCOPED_TRACE(preset.Code);
        const std::string output = folder.File(std::string(preset.Code) + ".wma");
        ExpectFinishedCleanly(
            RunEncoder({"-input", input, "-output", output, "-a_setting", preset.Code}));
        const Probe probe = ProbeFile(output);
        EXPECT_EQ(probe.Codec, "wmav2");
        EXPECT_EQ(probe.SampleRate, preset.SampleRate);
        EXPECT_EQ(probe.Channels, preset.Channels);
        EXPECT_EQ(probe.BitRate, preset.BitRate);
        EXPECT_NEAR(probe.Duration, 1.0, 0.1);
    }
}

TEST_F(Wm8eutil, InputsOfOtherRatesAndLayoutsAreResampledAndRemixed) {
    struct Case {
        int Rate, Channels, Bits;
        const char* Preset;
        int ExpectRate, ExpectChannels;
    };
    const Case cases[] = {
        {11025, 1, 8, "128_48_2", 48000, 2}, // 8-bit mono up to 48 kHz stereo
        {48000, 2, 16, "10_11_1", 11025, 1}, // down to 11 kHz mono
        {22050, 1, 16, "12_8_2", 8000, 2},
        {96000, 2, 24, "48_44_1", 44100, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Preset);
        const std::string name = std::to_string(c.Rate) + "_" + std::to_string(c.Channels);
        const std::string input = MakeWav(name + ".wav", c.Rate, c.Channels, c.Bits, 2.0);
        const std::string output = folder.File(name + ".wma");
        ExpectFinishedCleanly(
            RunEncoder({"-input", input, "-output", output, "-a_setting", c.Preset}));
        const Probe probe = ProbeFile(output);
        EXPECT_EQ(probe.SampleRate, c.ExpectRate);
        EXPECT_EQ(probe.Channels, c.ExpectChannels);
        EXPECT_NEAR(probe.Duration, 2.0, 0.1);
        EXPECT_GT(DecodedRms(output), 0.15); // the sine survived, no silence
    }
}

TEST_F(Wm8eutil, EveryOutputChannelKeepsTheInputsLevel) {
    // A half-scale sine has an RMS of 0.354; 3 dB less would be 0.25.
    const struct {
        int Channels;
        const char* Preset;
        int OutputChannels;
    } cases[] = {
        {1, "128_44_2", 2}, // mono recording to a stereo preset: both sides at its level
        {1, "32_22_2", 2},  // also when resampled
        {2, "128_44_2", 2},
        {1, "48_44_1", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Preset) + " from " + std::to_string(c.Channels));
        const std::string name = std::string(c.Preset) + "_" + std::to_string(c.Channels);
        const std::string input = MakeWav(name + ".wav", 44100, c.Channels, 16, 2.0);
        const std::string output = folder.File(name + ".wma");
        ExpectFinishedCleanly(
            RunEncoder({"-input", input, "-output", output, "-a_setting", c.Preset}));
        ASSERT_EQ(ProbeFile(output).Channels, c.OutputChannels);
        for (int channel = 1; channel <= c.OutputChannels; ++channel) {
            const double rms = DecodedChannelRms(output, channel);
            EXPECT_GT(rms, 0.32) << "channel " << channel;
            EXPECT_LT(rms, 0.39) << "channel " << channel;
        }
    }
}

TEST_F(Wm8eutil, FailuresPrintOneErrorLineAndLeaveNoOutput) {
    const std::string input = MakeWav("in.wav", 44100, 2, 16, 0.5);
    const std::string output = folder.File("out.wma");

    ExpectFailedWithErrorLine(RunEncoder(
        {"-input", folder.File("missing.wav"), "-output", output, "-a_setting", "64_44_2"}));
    EXPECT_FALSE(std::filesystem::exists(output));

    ExpectFailedWithErrorLine(
        RunEncoder({"-input", input, "-output", folder.File("no/such/folder/out.wma"), "-a_setting",
                    "64_44_2"}));

    ExpectFailedWithErrorLine(
        RunEncoder({"-input", input, "-output", output, "-a_setting", "65_44_2"}));
    ExpectFailedWithErrorLine(
        RunEncoder({"-input", input, "-output", output, "-a_setting", "64_44"}));
    ExpectFailedWithErrorLine(RunEncoder({"-input", input, "-output", output}));
    ExpectFailedWithErrorLine(RunEncoder({"stray", "-input", input}));
    EXPECT_FALSE(std::filesystem::exists(output));

    // Text that is no audio, and the input named as its own output.
    const std::string text = folder.File("notes.wav");
    RunCommand("echo 'not audio at all' > " + Quoted(text));
    ExpectFailedWithErrorLine(
        RunEncoder({"-input", text, "-output", output, "-a_setting", "64_44_2"}));
    EXPECT_FALSE(std::filesystem::exists(output));
    const auto sizeBefore = std::filesystem::file_size(input);
    ExpectFailedWithErrorLine(
        RunEncoder({"-input", input, "-output", input, "-a_setting", "64_44_2"}));
    EXPECT_EQ(std::filesystem::file_size(input), sizeBefore);
}

// A helper killed by the job (or by Ctrl+C in a terminal) leaves no half-written ASF behind.
// The input is a pipe fed slowly, so the signal always arrives in the middle of the encode.
TEST_F(Wm8eutil, ATerminationSignalMidEncodeRemovesThePartialOutput) {
    for (const int signo : {SIGTERM, SIGINT}) {
        const std::string input = folder.File("slow" + std::to_string(signo) + ".wav");
        const std::string output = folder.File("slow" + std::to_string(signo) + ".wma");
        ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            ::execl(VELLORINE_BINARY_DIR "/WM8EUTIL", "WM8EUTIL", "-input", input.c_str(),
                    "-output", output.c_str(), "-a_setting", "64_44_2", nullptr);
            ::_exit(127);
        }
        // A streamed WAV (sizes unknown), fed a tenth of a second at a time until the
        // encoder has created its output; the pipe then stays open and silent.
        const int feed = ::open(input.c_str(), O_WRONLY);
        ASSERT_GE(feed, 0);
        std::vector<std::uint8_t> header = {
            'R',  'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A',  'V',  'E',  'f',  'm',  't',
            ' ',  16,  0,   0,   0,    1,    0,    2,    0,   0x44, 0xAC, 0,    0,    0x10, 0xB1,
            0x02, 0,   4,   0,   16,   0,    'd',  'a',  't', 'a',  0xFF, 0xFF, 0xFF, 0xFF};
        ASSERT_EQ(::write(feed, header.data(), header.size()), ssize_t(header.size()));
        const std::vector<std::uint8_t> tenth(17640, 0x11);
        for (int i = 0; i < 300 && !std::filesystem::exists(output); ++i) {
            ASSERT_EQ(::write(feed, tenth.data(), tenth.size()), ssize_t(tenth.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(std::filesystem::exists(output)) << "the encoder never started writing";
        ::kill(pid, signo);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(feed);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo) << status;
        EXPECT_FALSE(std::filesystem::exists(output)) << "signal " << signo;
    }
}
