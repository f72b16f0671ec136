// The job window with real parts: disc images from the generator, the real lame, the
// Vorbis libraries and the built WM8EUTIL; outputs checked by independent tools.
#include <sys/resource.h>

#include <QLabel>
#include <QProgressBar>

#include <csignal>
#include <tuple>

#include "jobs/RipFormTestSupport.h"
#include "jobs/WriteCause.h"
#include "tags/Genres.h"

namespace jobs_test {
namespace {

constexpr int kTrackFrames = 150; // two seconds
const QStringList kThreeTracks = {"01Song A", "02Song B", "03Song C"};
const char* const kTitles[] = {"Song A", "Song B", "Song C"};

QStringList Phases(const QStringList& captions) {
    QStringList phases;
    for (const QString& c : captions) {
        phases << c.left(c.indexOf(':'));
    }
    return phases;
}

bool AnyContains(const QStringList& texts, const QString& part) {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const QString& t) { return t.contains(part); });
}

// ---- extraction, for every output format ----------------------------------------------

using settings::TOutputFormat;

struct FormatCase {
    TOutputFormat format;
    const char* ext;
    const char* codec; // of the output as ffprobe sees it; "" for WAV
};

class ExtractTo : public JobWindowTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ExtractTo, EachTrackIsExtractedThenEncodedInTurnAndTheWavsAreDeleted) {
    const FormatCase c = GetParam();
    OpenDisc({kTrackFrames, kTrackFrames + 75, kTrackFrames});
    settings::Settings.CommonOptions.OutputFormat = c.format;
    settings::Settings.ID3.Use = true;
    settings::DiscInfo.Artist = "The Band";
    settings::DiscInfo.Album = "An Album";
    settings::DiscInfo.Year = "2001";
    settings::DiscInfo.Genre = settings::GenreIndexOf("Rock") + 1;
    settings::DiscInfo.Comment = "nice";

    const JobOutcome run = Run(jobs::jkExtract, kThreeTracks);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(run.childrenAfter, 0);

    const bool wav = c.format == TOutputFormat::ofWav;
    const QString encode = wav ? "" : "Encoding(0%1/03)";
    QStringList expected;
    for (int n = 1; n <= 3; ++n) {
        expected << QString("Extracting(0%1/03)").arg(n);
        if (!wav) {
            expected << encode.arg(n);
        }
    }
    EXPECT_EQ(Phases(run.captions), expected);

    const std::vector<std::uint8_t> image = testsupport::ReadAll(BinPath());
    const double seconds[] = {2.0, 3.0, 2.0};
    std::size_t offset = 0;
    for (int t = 0; t < 3; ++t) {
        const std::string stem = kTitles[t];
        const std::size_t bytes = static_cast<std::size_t>(seconds[t] * 75) * 2352;
        if (wav) {
            const auto file = testsupport::ReadAll(Out(stem + ".wav"));
            ASSERT_EQ(file.size(), 44 + bytes);
            EXPECT_TRUE(std::equal(file.begin() + 44, file.end(),
                                   image.begin() + static_cast<std::ptrdiff_t>(offset)));
        } else {
            EXPECT_FALSE(Exists(stem + ".wav")) << "intermediate WAV left";
            const std::string output = Out(stem + c.ext);
            EXPECT_EQ(ProbeCodec(output), c.codec);
            EXPECT_NEAR(Duration(output), seconds[t], 0.1) << output;
        }
        offset += bytes;
    }
    if (c.format == TOutputFormat::ofMp3) {
        const std::string tag =
            testsupport::RunCommand("id3v2 -l " + testsupport::Quoted(Out("Song B.mp3"))).Output;
        EXPECT_NE(tag.find("Title  : Song B "), std::string::npos) << tag;
        EXPECT_NE(tag.find("Artist: The Band"), std::string::npos) << tag;
        EXPECT_NE(tag.find("Album  : An Album "), std::string::npos) << tag;
        EXPECT_NE(tag.find("Year: 2001, Genre: Rock (17)"), std::string::npos) << tag;
        EXPECT_NE(tag.find("Comment: nice "), std::string::npos) << tag;
        EXPECT_NE(tag.find("Track: 2"), std::string::npos) << tag;
    }
    if (c.format == TOutputFormat::ofOgg) {
        const auto decoded =
            testsupport::RunCommand("oggdec -Q -o " + testsupport::Quoted(Path("c.wav")) + " " +
                                    testsupport::Quoted(Out("Song C.ogg")));
        EXPECT_EQ(decoded.ExitCode, 0) << decoded.Output;
        EXPECT_NEAR(Duration(Path("c.wav")), 2.0, 0.05);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ExtractTo,
                         ::testing::Values(FormatCase{TOutputFormat::ofMp3, ".mp3", "mp3"},
                                           FormatCase{TOutputFormat::ofWav, ".wav", ""},
                                           FormatCase{TOutputFormat::ofOgg, ".ogg", "vorbis"},
                                           FormatCase{TOutputFormat::ofWma, ".wma", "wmav2"},
                                           FormatCase{TOutputFormat::ofFlac, ".flac", "flac"},
                                           FormatCase{TOutputFormat::ofOpus, ".opus", "opus"}),
                         [](const auto& param) { return std::string(param.param.ext + 1); });

TEST_F(JobWindowTest, KeptWavsStayAndTheNormalizePassShowsItsPhase) {
    OpenDisc({kTrackFrames, kTrackFrames});
    settings::Settings.CommonOptions.IsKeepWav = true;
    settings::Settings.CommonOptions.IsNormalize = true;
    settings::Settings.CommonOptions.NormalizePercent = 100;
    const JobOutcome run = Run(jobs::jkExtract, {"01One", "02Two"});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(Phases(run.captions),
              QStringList({"Extracting(01/02)", "Normalizing(01/02)", "Encoding(01/02)",
                           "Extracting(02/02)", "Normalizing(02/02)", "Encoding(02/02)"}));
    for (const char* stem : {"One", "Two"}) {
        EXPECT_TRUE(Exists(std::string(stem) + ".wav"));
        EXPECT_TRUE(Exists(std::string(stem) + ".mp3"));
    }
}

// ---- failures while extracting ---------------------------------------------------------

TEST_F(JobWindowTest, AReadFailureIsReportedAndTheJobGoesOnWithTheNextTrack) {
    OpenDisc({kTrackFrames, kTrackFrames * 4});
    // The disc goes bad after it was opened: the end of track 2 can no longer be read.
    const auto size = fs::file_size(BinPath());
    fs::resize_file(BinPath(), (kTrackFrames * 2) * 2352);
    const JobOutcome run = Run(jobs::jkExtract, {"02Song B", "01Song A"});
    fs::resize_file(BinPath(), size);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, QStringList({"Error while reading CD information!"}))
        << run.boxes.join("\n").toStdString();
    EXPECT_FALSE(Exists("Song B.mp3"));
    EXPECT_NEAR(Duration(Out("Song A.mp3")), 2.0, 0.1);
    EXPECT_EQ(Phases(run.captions),
              QStringList({"Extracting(01/02)", "Extracting(02/02)", "Encoding(02/02)"}));
}

TEST_F(JobWindowTest, TitlesWithSlashesOrDotsAreRippedInsideTheOutputFolder) {
    OpenDisc({kTrackFrames, kTrackFrames, kTrackFrames});
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    fs::create_directories(out / "AC");
    const JobOutcome run = Run(jobs::jkExtract, {"01AC/DC", "02../escape", "03Fine"});
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_TRUE(Exists("AC-DC.wav"));
    EXPECT_TRUE(Exists("..-escape.wav"));
    EXPECT_FALSE(fs::exists(out / "AC" / "DC.wav"));
    EXPECT_FALSE(fs::exists(dir / "escape.wav"));
    EXPECT_TRUE(Exists("Fine.wav"));
}

TEST_F(JobWindowTest, ADiskThatFillsUpReportsTheFileAndLeavesNoPartialWav) {
    OpenDisc({kTrackFrames * 4});
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 200000;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const JobOutcome run = Run(jobs::jkExtract, {"01Big"});
    ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(run.ended);
    ASSERT_EQ(run.boxes.size(), 1);
    EXPECT_TRUE(run.boxes[0].contains("could not be written")) << run.boxes[0].toStdString();
    // The system's reason follows the designed text on a line of its own.
    EXPECT_TRUE(run.boxes[0].endsWith(QString::fromStdString(
        " could not be written completely (is the disk full?).\n" + jobs::ErrorText(EFBIG))))
        << run.boxes[0].toStdString();
    EXPECT_FALSE(Exists("Big.wav"));
}

// Failures that end no step: the window shows them and waits for Stop, which keeps every WAV
// that has no encoded file beside it.
TEST_F(JobWindowTest, FailuresThatEndNoStepWaitForStopAndKeepTheUnencodedWavs) {
    OpenDisc({kTrackFrames});
    const QString wav = QString::fromStdString(MakeWav("tone.wav", 1));
    UseEmptyPath(); // no lame
    JobOutcome run = Run(jobs::jkExtract, {"01Alone"}, StopAt{"Encoding(01/01)", 300});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, QStringList({"Error while creating mp3 encoding process!2."}));
    EXPECT_TRUE(Exists("Alone.wav"));
    EXPECT_FALSE(Exists("Alone.mp3"));

    const int realHandle = handle;
    handle = 99; // no such drive: the rip thread cannot set it up
    run = Run(jobs::jkExtract, {"01Alone"}, StopAt{"Extracting(01/01)", 300});
    handle = realHandle;
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, QStringList({"CD extract failed!Please try again."}));

    // When the very first step cannot start, the window does not open at all.
    EXPECT_THROW(jobs::TRipForm(nullptr, {wav}, 0, jobs::jkWavToMp3), std::runtime_error);
}

// ---- Stop in each phase ----------------------------------------------------------------

struct StopCase {
    const char* name;
    TOutputFormat format;
    const char* captionPrefix;
    int delayMs;
    std::vector<const char*> present;
    std::vector<const char*> absent;
};

class StopDuring : public JobWindowTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopDuring, LeavesWhatWasFinishedRemovesWhatWasNotAndNoChildRuns) {
    const StopCase c = GetParam();
    // Track 2 is long enough for its encode to be under way when Stop comes. The OGG and WMA
    // encoders are fast enough to finish 40 s within a few hundred milliseconds, so Stop
    // follows their start at once.
    OpenDisc({kTrackFrames, 75 * 40, kTrackFrames});
    settings::Settings.CommonOptions.OutputFormat = c.format;
    const JobOutcome run = Run(jobs::jkExtract, kThreeTracks, StopAt{c.captionPrefix, c.delayMs});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.childrenAfter, 0);
    EXPECT_EQ(jobs::Mp3Process->ChildPid(), 0);
    EXPECT_EQ(jobs::WmaProcess->ChildPid(), 0);
    EXPECT_FALSE(AnyContains(run.captions, "(03/03)"));
    for (const char* name : c.present) {
        EXPECT_TRUE(Exists(name)) << name;
    }
    for (const char* name : c.absent) {
        EXPECT_FALSE(Exists(name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Phases, StopDuring,
                         ::testing::Values(StopCase{"Extraction",
                                                    TOutputFormat::ofMp3,
                                                    "Extracting(02/03)",
                                                    0,
                                                    {"Song A.wav", "Song A.mp3"},
                                                    {"Song B.mp3"}},
                                           StopCase{"Mp3Encode",
                                                    TOutputFormat::ofMp3,
                                                    "Encoding(02/03)",
                                                    150,
                                                    {"Song A.wav", "Song B.wav", "Song A.mp3"},
                                                    {"Song B.mp3"}},
                                           StopCase{"OggEncode",
                                                    TOutputFormat::ofOgg,
                                                    "Encoding(02/03)",
                                                    0,
                                                    {"Song A.wav", "Song B.wav", "Song A.ogg"},
                                                    {"Song B.ogg"}},
                                           StopCase{"WmaEncode",
                                                    TOutputFormat::ofWma,
                                                    "Encoding(02/03)",
                                                    0,
                                                    {"Song A.wav", "Song B.wav", "Song A.wma"},
                                                    {"Song B.wma"}}),
                         [](const auto& param) { return std::string(param.param.name); });

// ---- file conversions ------------------------------------------------------------------

struct ConversionCase {
    const char* name;
    int kind;
    QStringList phases;
    const char* output; // in the output folder, or beside the input for the recorder's job
    const char* codec;
    const char* temp; // the resample file that must not stay
};

class Convert : public JobWindowTest, public ::testing::WithParamInterface<ConversionCase> {};

// The input is a 3 s file at 22 050 Hz (a 2 s one at 44 100 Hz follows it for the resampling
// kinds); the outputs keep their lengths at the encoder's rate.
TEST_P(Convert, EveryChosenFileIsConvertedAndNoTemporaryFileStays) {
    const ConversionCase c = GetParam();
    const bool resampling = c.temp[0] != '\0';
    const std::string slow = Path("slow.wav");
    ASSERT_EQ(testsupport::RunCommand("sox -n -r " + std::string(resampling ? "22050" : "44100") +
                                      " -c 2 -b 16 " + testsupport::Quoted(slow) +
                                      " synth 3 sine 440 vol 0.5")
                  .ExitCode,
              0);
    QStringList items = {QString::fromStdString(slow)};
    if (c.kind == jobs::jkMp3ToWav) {
        ASSERT_EQ(testsupport::RunCommand("lame --quiet " + testsupport::Quoted(slow) + " " +
                                          testsupport::Quoted(Path("slow.mp3")))
                      .ExitCode,
                  0);
        items = {QString::fromStdString(Path("slow.mp3"))};
    }
    if (resampling) {
        items << QString::fromStdString(MakeWav("fast.wav", 2));
    }
    if (c.kind == jobs::jkRecordedToMp3) {
        WriteFile(Path("slow.mp3"), "old take"); // replaced without a question
    }
    const JobOutcome run = Run(c.kind, items);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(Phases(run.captions), c.phases);
    const std::string output = c.kind == jobs::jkRecordedToMp3 ? Path(c.output) : Out(c.output);
    EXPECT_EQ(ProbeCodec(output), c.codec);
    EXPECT_EQ(Probe(output, "stream=sample_rate"), "44100");
    EXPECT_NEAR(Duration(output), 3.0, 0.15);
    if (resampling) {
        EXPECT_NEAR(Duration(Out(std::string("fast") + fs::path(c.output).extension().string())),
                    2.0, 0.1);
        EXPECT_FALSE(Exists(c.temp));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Convert,
    ::testing::Values(
        ConversionCase{"WavToMp3",
                       jobs::jkWavToMp3,
                       {"Resampling(01/02)", "Encoding(01/02)", "Encoding(02/02)"},
                       "slow.mp3",
                       "mp3",
                       "MyMP3ReTemp.wav"},
        ConversionCase{"WavToOgg",
                       jobs::jkWavToOgg,
                       {"Resampling(01/02)", "Encoding(01/02)", "Encoding(02/02)"},
                       "slow.ogg",
                       "vorbis",
                       "MyReTemp.wav"},
        ConversionCase{
            "Mp3ToWav", jobs::jkMp3ToWav, {"Decoding(01/01)"}, "slow.wav", "pcm_s16le", ""},
        ConversionCase{"WavToWma", jobs::jkWavToWma, {"Encoding(01/01)"}, "slow.wma", "wmav2", ""},
        ConversionCase{
            "RecordedToMp3", jobs::jkRecordedToMp3, {"Encoding(01/01)"}, "slow.mp3", "mp3", ""}),
    [](const auto& param) { return std::string(param.param.name); });

// ADPCM files convert too: at 44 100 Hz lame reads them itself (through libsndfile), at a
// lower rate our decoder brings them to 44 100 Hz through the temporary file.
TEST_F(JobWindowTest, AdpcmWavsAreDecodedForLameAtTheirRateOrResampled) {
    QStringList items;
    for (const auto& [name, coding, rate] :
         {std::tuple{"ima.wav", "ima-adpcm", "44100"}, std::tuple{"ms.wav", "ms-adpcm", "22050"}}) {
        ASSERT_EQ(testsupport::RunCommand(std::string("sox -n -e ") + coding + " -r " + rate +
                                          " -c 2 " + testsupport::Quoted(Path(name)) +
                                          " synth 2 sine 440 vol 0.5")
                      .ExitCode,
                  0);
        items << QString::fromStdString(Path(name));
    }
    const JobOutcome run = Run(jobs::jkWavToMp3, items);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    for (const char* output : {"ima.mp3", "ms.mp3"}) {
        SCOPED_TRACE(output);
        EXPECT_EQ(ProbeCodec(Out(output)), "mp3");
        EXPECT_EQ(Probe(Out(output), "stream=sample_rate"), "44100");
        EXPECT_NEAR(Duration(Out(output)), 2.0, 0.1);
    }
    EXPECT_FALSE(Exists("MyMP3ReTemp.wav"));
}

TEST_F(JobWindowTest, AnExistingOutputIsReplacedOnlyWhenTheUserSaysYesAndNotWhileInUse) {
    const std::string wav = MakeWav("tone.wav", 1);
    const std::string existing = Out("tone.mp3");
    const QString question = QString::fromStdString(existing) + " has existed,overite it?";

    WriteFile(existing, "keep me");
    dialogs->answers = {platform::MbResult::No};
    JobOutcome run = Run(jobs::jkWavToMp3, {QString::fromStdString(wav)});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, QStringList({question}));
    EXPECT_EQ(testsupport::ReadText(existing), "keep me");

    fs::permissions(existing, fs::perms::owner_read); // read-only counts as in use
    dialogs->answers = {platform::MbResult::Yes};
    run = Run(jobs::jkWavToMp3, {QString::fromStdString(wav)});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes,
              QStringList({question, QString::fromStdString(wav) + "maybe be used,operate fail!"}));
    EXPECT_EQ(testsupport::ReadText(existing), "keep me");

    fs::permissions(existing, fs::perms::owner_read | fs::perms::owner_write);
    dialogs->answers = {platform::MbResult::Yes};
    run = Run(jobs::jkWavToMp3, {QString::fromStdString(wav)});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, QStringList({question}));
    EXPECT_EQ(ProbeCodec(existing), "mp3");

    // A WAV named like its own output, chosen in the output folder, is never written over.
    fs::copy_file(wav, Out("self.mp3"));
    run = Run(jobs::jkWavToMp3, {QString::fromStdString(Out("self.mp3"))});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, QStringList({QString::fromStdString(Out("self.mp3")) +
                                      " is the file being converted; it cannot also be its "
                                      "output."}));
    EXPECT_EQ(testsupport::ReadAll(Out("self.mp3")), testsupport::ReadAll(wav));
}

// ---- bad input files -------------------------------------------------------------------

struct BadInputCase {
    const char* name;
    int kind;
    const char* content; // nullptr: the file does not exist
    const char* message; // part of the one box shown
    const char* output;
};

class BadInput : public JobWindowTest, public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(BadInput, GivesAClearMessageAndLeavesNoOutput) {
    const BadInputCase c = GetParam();
    const std::string input =
        Path(std::string("in") + (c.kind == jobs::jkMp3ToWav ? ".mp3" : ".wav"));
    if (c.content != nullptr) {
        WriteFile(input, c.content);
    }
    const JobOutcome run = Run(c.kind, {QString::fromStdString(input)});
    ASSERT_TRUE(run.ended);
    ASSERT_EQ(run.boxes.size(), 1) << run.boxes.join("\n").toStdString();
    EXPECT_TRUE(run.boxes[0].contains(c.message)) << run.boxes[0].toStdString();
    EXPECT_FALSE(Exists(c.output));
    EXPECT_EQ(run.childrenAfter, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadInput,
    ::testing::Values(
        BadInputCase{"VanishedWavToMp3", jobs::jkWavToMp3, nullptr, "is missing or is not a WAV",
                     "in.mp3"},
        BadInputCase{"EmptyWavToOgg", jobs::jkWavToOgg, "", "is missing or is not a WAV", "in.ogg"},
        BadInputCase{"TextWavToMp3", jobs::jkWavToMp3, "not audio at all\n",
                     "is missing or is not a WAV", "in.mp3"},
        BadInputCase{"TextWavToWma", jobs::jkWavToWma, "not audio at all\n", "ERROR", "in.wma"},
        BadInputCase{"TextMp3ToWav", jobs::jkMp3ToWav, "not audio at all\n",
                     "Create MP3 file error!", "in.wav"}),
    [](const auto& param) { return std::string(param.param.name); });

// ---- the WMA estimate ------------------------------------------------------------------

TEST(WmaEstimate, FollowsTheOutputSizeAgainstTheExpectedSize) {
    struct Case {
        long long elapsed;
        std::int64_t input;
        int preset;
        std::int64_t current;
        std::optional<long long> estimate;
    };
    const std::int64_t big = 10000000; // expects round(1e10 / 21790) = 458926 bytes at preset 8
    for (const Case& c :
         {Case{0, 1500000, 8, 0, 2}, Case{1, 1500000, 8, 0, 2}, Case{2, 1500000, 8, 0, 3},
          Case{5, 1500000, 8, 100, 6}, Case{3, big, 8, 0, std::nullopt}, Case{3, big, 8, 229463, 6},
          Case{3, big, 40, 229463, 6}, Case{3, big, 8, 900000, 4}, Case{3, big, 32, 10000, 11}}) {
        EXPECT_EQ(jobs::WmaEstimate(c.elapsed, c.input, c.preset, c.current), c.estimate)
            << c.elapsed << " s, " << c.input << " in, preset " << c.preset << ", " << c.current
            << " out";
    }
}

} // namespace
} // namespace jobs_test
