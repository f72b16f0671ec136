// FLAC and Opus in jobs: rips and conversions give files an independent decoder (the flac
// program, ffprobe) reads back as their input, at the input's own rate; Stop and a full disk
// leave nothing under a final name; FLAC to WAV asks before replacing a file.
#include <sys/resource.h>

#include <csignal>

#include "jobs/FlacDecodeStep.h"
#include "jobs/RipFormTestSupport.h"
#include "jobs/WorkerStep.h"
#include "jobs/WriteCause.h"

namespace jobs_test {
namespace {

constexpr int kTrackFrames = 150; // two seconds

QStringList Phases(const QStringList& captions) {
    QStringList phases;
    for (const QString& c : captions) {
        phases << c.left(c.indexOf(':'));
    }
    return phases;
}

// The partial files left in a folder.
std::vector<std::string> PartFiles(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".part") {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

// The data chunk of a WAV file (the first one), found by walking its chunks.
std::vector<std::uint8_t> DataChunk(const std::string& wav) {
    const std::vector<std::uint8_t> file = testsupport::ReadAll(wav);
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::uint32_t size = testsupport::Le32(file, at + 4);
        if (std::string(file.begin() + static_cast<std::ptrdiff_t>(at),
                        file.begin() + static_cast<std::ptrdiff_t>(at + 4)) == "data") {
            const std::size_t end = std::min<std::size_t>(file.size(), at + 8 + size);
            return {file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                    file.begin() + static_cast<std::ptrdiff_t>(end)};
        }
        at += 8 + size + (size & 1U);
    }
    return {};
}

class LosslessAndOpus : public JobWindowTest {
protected:
    // A noise-rich WAV made by sox, e.g. layout "-r 22050 -c 2 -b 24".
    std::string MakeNoise(const std::string& name, const std::string& layout, int seconds) {
        const std::string path = Path(name);
        const auto made = testsupport::RunCommand(
            "sox -n " + layout + " " + testsupport::Quoted(path) + " synth " +
            std::to_string(seconds) + " pinknoise sine 440 vol 0.5 2>&1");
        EXPECT_EQ(made.ExitCode, 0) << made.Output;
        return path;
    }
    // What the flac program decodes a file to (the data chunk of its WAV).
    std::vector<std::uint8_t> FlacDecoded(const std::string& flac) {
        const std::string wav = Path("decoded.wav");
        const auto run = testsupport::RunCommand("flac -s -d -f -o " + testsupport::Quoted(wav) +
                                                 " " + testsupport::Quoted(flac) + " 2>&1");
        EXPECT_EQ(run.ExitCode, 0) << run.Output;
        return DataChunk(wav);
    }
};

// A rip to FLAC holds the disc's samples exactly, whatever the level.
TEST_F(LosslessAndOpus, ARipToFlacHoldsTheDiscsSamplesAtEveryLevel) {
    OpenDisc({kTrackFrames});
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofFlac;
    const std::vector<std::uint8_t> image = testsupport::ReadAll(BinPath());
    for (const int level : {0, 5, 8}) {
        SCOPED_TRACE(level);
        settings::Settings.FLACOptions.Level = level;
        const JobOutcome run = Run(jobs::jkExtract, {"01Track"});
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
        EXPECT_EQ(Phases(run.captions), QStringList({"Extracting(01/01)", "Encoding(01/01)"}));
        EXPECT_EQ(FlacDecoded(Out("Track.flac")), image);
        EXPECT_FALSE(Exists("Track.wav"));
    }
}

struct ConversionCase {
    const char* name;
    int kind;
    const char* layout; // of the WAV the case starts from
    const char* input;  // the chosen file: in.wav, or in.flac made from it by the flac program
    const char* output;
    const char* codec;
    const char* rate; // of the output, by ffprobe
    const char* phase;
};

class ConvertTo : public LosslessAndOpus, public ::testing::WithParamInterface<ConversionCase> {};

TEST_P(ConvertTo, EveryFileIsConvertedAtItsOwnRateAndLosslessStepsKeepEverySample) {
    const ConversionCase c = GetParam();
    const std::string wav = MakeNoise("in.wav", c.layout, 3);
    std::string input = wav;
    if (std::string(c.input) == "in.flac") {
        input = Path("in.flac");
        ASSERT_EQ(testsupport::RunCommand("flac -s -f -o " + testsupport::Quoted(input) + " " +
                                          testsupport::Quoted(wav))
                      .ExitCode,
                  0);
    }
    const JobOutcome run = Run(c.kind, {QString::fromStdString(input)});
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(Phases(run.captions), QStringList({c.phase}));
    const std::string output = Out(c.output);
    EXPECT_EQ(ProbeCodec(output), c.codec);
    EXPECT_EQ(Probe(output, "stream=sample_rate"), c.rate);
    EXPECT_NEAR(Duration(output), 3.0, 0.03);
    if (c.kind == jobs::jkWavToFlac) {
        EXPECT_EQ(FlacDecoded(output), DataChunk(wav));
    } else if (c.kind == jobs::jkFlacToWav) {
        EXPECT_EQ(DataChunk(output), DataChunk(wav));
    }
    EXPECT_TRUE(PartFiles(out).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ConvertTo,
    ::testing::Values(ConversionCase{"WavToFlac", jobs::jkWavToFlac, "-r 22050 -c 2 -b 24",
                                     "in.wav", "in.flac", "flac", "22050", "Encoding(01/01)"},
                      ConversionCase{"WavToFlacCd", jobs::jkWavToFlac, "-r 44100 -c 2 -b 16",
                                     "in.wav", "in.flac", "flac", "44100", "Encoding(01/01)"},
                      ConversionCase{"WavToOpus", jobs::jkWavToOpus, "-r 22050 -c 1 -b 16",
                                     "in.wav", "in.opus", "opus", "48000", "Encoding(01/01)"},
                      ConversionCase{"FlacToWav", jobs::jkFlacToWav, "-r 44100 -c 2 -b 16",
                                     "in.flac", "in.wav", "pcm_s16le", "44100", "Decoding(01/01)"},
                      ConversionCase{"FlacToWav24", jobs::jkFlacToWav, "-r 96000 -c 1 -b 24",
                                     "in.flac", "in.wav", "pcm_s24le", "96000", "Decoding(01/01)"}),
    [](const auto& param) { return std::string(param.param.name); });

struct StepCase {
    const char* name;
    int kind;
    const char* output;
};

class WhenItFails : public LosslessAndOpus, public ::testing::WithParamInterface<StepCase> {
protected:
    // A long input for the job, in the form the job reads.
    QString LongInput(int seconds) {
        const std::string wav = MakeNoise("long.wav", "-r 44100 -c 2 -b 16", seconds);
        if (GetParam().kind != jobs::jkFlacToWav) {
            return QString::fromStdString(wav);
        }
        const std::string flac = Path("long.flac");
        EXPECT_EQ(testsupport::RunCommand("flac -s -0 -f -o " + testsupport::Quoted(flac) + " " +
                                          testsupport::Quoted(wav))
                      .ExitCode,
                  0);
        return QString::fromStdString(flac);
    }
};

TEST_P(WhenItFails, StopLeavesNoFileUnderTheFinalNameAndNoPartialFile) {
    const QString input = LongInput(240);
    const JobOutcome run =
        Run(GetParam().kind, {input},
            StopAt{GetParam().kind == jobs::jkFlacToWav ? "Decoding" : "Encoding", 30});
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_FALSE(Exists(GetParam().output));
    EXPECT_TRUE(PartFiles(out).empty());
}

// The file size limit stands in for a full disk: the write fails with the system's reason.
TEST_P(WhenItFails, AFullDiskFailsTheItemWithItsCauseAndLeavesNoFile) {
    const QString input = LongInput(10);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = GetParam().kind == jobs::jkWavToOpus ? 50000 : 200000;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const JobOutcome run = Run(GetParam().kind, {input});
    ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, QStringList({QString::fromStdString(Out(GetParam().output) + ": " +
                                                             jobs::ErrorText(EFBIG))}));
    EXPECT_FALSE(Exists(GetParam().output));
    EXPECT_TRUE(PartFiles(out).empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, WhenItFails,
                         ::testing::Values(StepCase{"WavToFlac", jobs::jkWavToFlac, "long.flac"},
                                           StepCase{"WavToOpus", jobs::jkWavToOpus, "long.opus"},
                                           StepCase{"FlacToWav", jobs::jkFlacToWav, "long.wav"}),
                         [](const auto& param) { return std::string(param.param.name); });

// FLAC to WAV asks before replacing a file, as MP3 to WAV does; No keeps the file untouched.
TEST_F(LosslessAndOpus, FlacToWavAsksBeforeReplacingAndNoKeepsTheFile) {
    const std::string wav = MakeNoise("in.wav", "-r 44100 -c 2 -b 16", 1);
    const std::string flac = Path("in.flac");
    ASSERT_EQ(testsupport::RunCommand("flac -s -f -o " + testsupport::Quoted(flac) + " " +
                                      testsupport::Quoted(wav))
                  .ExitCode,
              0);
    for (const platform::MbResult answer : {platform::MbResult::No, platform::MbResult::Yes}) {
        WriteFile(Out("in.wav"), "keep me");
        dialogs->answers = {answer};
        const JobOutcome run = Run(jobs::jkFlacToWav, {QString::fromStdString(flac)});
        ASSERT_TRUE(run.ended);
        ASSERT_EQ(run.boxes.size(), 1);
        EXPECT_TRUE(run.boxes[0].endsWith("in.wav has existed,overite it?"))
            << run.boxes[0].toStdString();
        if (answer == platform::MbResult::No) {
            EXPECT_EQ(testsupport::ReadText(Out("in.wav")), "keep me");
        } else {
            EXPECT_EQ(DataChunk(Out("in.wav")), DataChunk(wav));
        }
        EXPECT_TRUE(PartFiles(out).empty());
    }
}

// A step's worker stopped in the middle: nothing more is posted and nothing stays.
TEST_F(LosslessAndOpus, AStoppedStepPostsNoEndAndRemovesItsPartialFile) {
    for (const auto format : {settings::TOutputFormat::ofFlac, settings::TOutputFormat::ofOpus}) {
        jobs::TEncodeRequest r;
        r.Format = format;
        r.Input = MakeNoise("in.wav", "-r 44100 -c 2 -b 16", 240);
        r.Output = Path(std::string("out") + settings::FormatRow(format)->Extension);
        r.Partial = jobs::TJobPlan::PartialName(r.Output, 0);
        r.Flac.Level = 8;
        r.StepId = 5;
        const std::size_t before = window.Events().size();
        auto step = jobs::MakeEncodeStep(r, &window);
        step->Start();
        ASSERT_TRUE(PumpUntil([&] { return fs::exists(r.Partial); }, 5000ms));
        step->Stop();
        EXPECT_FALSE(step->Running());
        EXPECT_FALSE(fs::exists(r.Partial));
        EXPECT_FALSE(fs::exists(r.Output));
        EXPECT_FALSE(step->Finish(false).Produced);
        PumpFor(100ms);
        EXPECT_EQ(window.Events().size(), before) << "a stopped step sends no end";
    }
}

// A damaged FLAC file fails its item with the decoder's reason and leaves no WAV.
TEST_F(LosslessAndOpus, ADamagedFlacFailsItsItemWithTheReason) {
    const std::string wav = MakeNoise("in.wav", "-r 44100 -c 2 -b 16", 2);
    const std::string flac = Path("in.flac");
    ASSERT_EQ(testsupport::RunCommand("flac -s -f -o " + testsupport::Quoted(flac) + " " +
                                      testsupport::Quoted(wav))
                  .ExitCode,
              0);
    std::vector<std::uint8_t> bytes = testsupport::ReadAll(flac);
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 200; ++i) {
        bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ 0xA5);
    }
    scratch.Write("in.flac", bytes);
    const JobOutcome run = Run(jobs::jkFlacToWav, {QString::fromStdString(flac)});
    ASSERT_TRUE(run.ended);
    ASSERT_EQ(run.boxes.size(), 1);
    EXPECT_TRUE(run.boxes[0].startsWith(QString::fromStdString(Out("in.wav") + ": ")))
        << run.boxes[0].toStdString();
    EXPECT_FALSE(Exists("in.wav"));
    EXPECT_TRUE(PartFiles(out).empty());
}

} // namespace
} // namespace jobs_test
