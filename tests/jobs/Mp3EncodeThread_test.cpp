#include "jobs/Mp3EncodeThread.h"

#include <algorithm>
#include <stdexcept>

#include "EncoderTestSupport.h"

using namespace jobs_test;
using jobs::TMp3EncodeProcess;

namespace {

class Mp3Wrapper : public EncoderTest {
protected:
    void Prepare(const std::string& in, const std::string& out, bool encode, jobs::TJobKind kind) {
        EncoderTest::Prepare(mp3, in, out, encode, kind);
    }

    TMp3EncodeProcess mp3;
};

// lame's progress table as it looks on a pipe: the first line fixes the column.
const char* const kHeader = "    Frame          |  CPU time/estim | REAL time/estim |";
const char* const kFirst = "     0/767    ( 0%)|    0:00/    0:00|    0:00/    0:00|";
const char* const kFive = "    38/767    ( 5%)|    0:01/    0:19|    0:01/    0:20|";
const char* const kKbps = "   kbps        MS  %     long switch short %";
const char* const kDone = "   767/767   (100%)|    0:07/    0:07|    0:08/    0:08|";

} // namespace

TEST_F(Mp3Wrapper, TheCommandLinesFollowTheModeAndTheSettings) {
    Prepare("/music/in put.wav", "/out/in put.mp3", true, jobs::jkWavToMp3);
    EXPECT_EQ(mp3.CommandLine(), "lame -b 128 -m j \"/music/in put.wav\" \"/out/in put.mp3\"");
    mp3.EncodeMode = false;
    EXPECT_EQ(mp3.CommandLine(), "lame --decode \"/music/in put.wav\" \"/out/in put.mp3\"");
    mp3.EncodeMode = true;
    mp3.InputFile = "a.wav";
    mp3.OutputFile = "a.mp3";
    auto& o = mp3.Options; // the step's own copy, never the settings record
    o.BitRate = 192;
    o.StereoMode = 4;
    o.MpegQuality = 2;
    o.VBRQuality = 2;
    o.MaxBitRate = 256;
    o.IsVBRHead = true;
    o.IsSelectVBR = false; // VBR quality, maximum and header then change nothing
    EXPECT_EQ(mp3.CommandLine(), "lame -b 192 -m m -h \"a.wav\" \"a.mp3\"");
    o.IsSelectVBR = true;
    EXPECT_EQ(mp3.CommandLine(), "lame -b 192 -m m -h -V 2 -B 256 -t \"a.wav\" \"a.mp3\"");
    o.IsVBRHead = false;
    o.StereoMode = 7; // unknown modes add nothing
    o.MpegQuality = 1;
    EXPECT_EQ(mp3.CommandLine(), "lame -b 192 -f -V 2 -B 256 \"a.wav\" \"a.mp3\"");
    const std::string modes[] = {"-m s", "-m j", "-m f", "-m d"};
    for (int m = 0; m < 4; ++m) {
        o.StereoMode = m;
        EXPECT_NE(mp3.CommandLine().find(" " + modes[m] + " "), std::string::npos);
    }
}

TEST_F(Mp3Wrapper, TheEncodeParserReadsThePercentFieldAtTheColumnOfTheFirstProgressLine) {
    // lame echoes the file names first; a "%" in them must not fix the column.
    Prepare("/m/100% hits.wav", "/m/100% hits.mp3", true, jobs::jkWavToMp3);
    mp3.ParseEncodeLines("Encoding /m/100% hits.wav to /m/100% hits.mp3\n");
    mp3.ParseEncodeLines(std::string(kHeader) + "\n" + kFirst + "\r" + kKbps + "\n" + kFive +
                         "\r\n");
    // The column stays where the first line put it, even though "100%" sits one further left.
    mp3.ParseEncodeLines(std::string(kDone) + "\r");
    mp3.ParseEncodeLines("   400/767    (ab%)|    0:03/    0:07|\n");
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(window.Records().size(), 2u); // 0%, the kbps line and "ab" are not posted
    EXPECT_EQ(window.Records()[0].Code, 5);
    EXPECT_EQ(window.Records()[0].Elapsed, "0:01");
    EXPECT_EQ(window.Records()[0].Estimated, "0:19");
    EXPECT_EQ(window.Records()[1].Code, 100);
    EXPECT_EQ(window.Records()[1].Elapsed, "0:07");
}

TEST_F(Mp3Wrapper, TheDecodeParserDividesFrameByTotalAndDropsATotalOfZero) {
    Prepare("/m/my#song.mp3", "/m/out.wav", false, jobs::jkMp3ToWav);
    mp3.ParseDecodeLines("input:  /m/my#song.mp3  (44.1 kHz, 2 channels, MPEG-1 Layer III)\n");
    mp3.ParseDecodeLines("Frame#   250/1000   128 kbps  MS\rFrame#     3/0      128 kbps\r"
                         "Frame#     x/1000\rFrame#  1000/1000   128 kbps  MS\r");
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(window.Percentages(), (std::vector<int>{25, 100}));
    // Our own clock: nothing has elapsed yet, so both texts read 00:00.
    EXPECT_EQ(window.Records()[0].Elapsed, "00:00");
    EXPECT_EQ(window.Records()[0].Estimated, "00:00");
}

TEST_F(Mp3Wrapper, EncodingWithTheRealLameReportsRisingProgressEndingAt100ThenEndsOnce) {
    const std::string wav = MakeWav("song.wav", 30);
    const std::string out = Path("song.mp3");
    Prepare(wav, out, true, jobs::jkWavToMp3);
    mp3.Start();
    ASSERT_NE(mp3.ChildPid(), 0);
    ASSERT_TRUE(WaitForEnds(1));
    ASSERT_TRUE(Settle());
    const auto ends = window.Events();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].Code, settings::PI_MP3_ENDED);
    EXPECT_EQ(ends[0].Status, jobs::EncodeStatusEnded);
    const auto p = window.Percentages();
    ASSERT_GE(p.size(), 3u);
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
    EXPECT_LT(p.front(), 100);
    EXPECT_EQ(p.back(), 100);
    EXPECT_EQ(window.Records().back().Code, settings::PI_MP3_ENDED); // the end comes last
    EXPECT_NE(window.Records()[0].Elapsed.find(':'), std::string::npos);
    EXPECT_NEAR(Duration(out), 30.0, 0.1);
    EXPECT_EQ(ProbeCodec(out), "mp3");
    EXPECT_TRUE(mp3.Active); // only StopProcess clears it
    EXPECT_EQ(mp3.ChildPid(), 0);
}

TEST_F(Mp3Wrapper, DecodingWithTheRealLameGivesTheWavBackWithRisingProgress) {
    const std::string wav = MakeWav("orig.wav", 20);
    const std::string mp3File = Path("orig.mp3");
    ASSERT_EQ(std::system(("lame --quiet '" + wav + "' '" + mp3File + "'").c_str()), 0);
    const std::string back = Path("back.wav");
    Prepare(mp3File, back, false, jobs::jkMp3ToWav);
    mp3.Start();
    ASSERT_TRUE(WaitForEnds(1));
    const auto p = window.Percentages();
    ASSERT_GE(p.size(), 3u);
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
    EXPECT_GE(p.back(), 99);
    EXPECT_EQ(window.Events()[0].Status, jobs::EncodeStatusEnded);
    EXPECT_NEAR(Duration(back), 20.0, 0.1);
    EXPECT_EQ(ProbeCodec(back), "pcm_s16le");
}

TEST_F(Mp3Wrapper, WithoutLameOnThePathStartRaisesTheSystemErrorAndNoEndFollows) {
    const std::string wav = MakeWav("a.wav", 1);
    UseEmptyPath();
    Prepare(wav, Path("a.mp3"), true, jobs::jkWavToMp3);
    try {
        mp3.Start();
        FAIL() << "Start must raise";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Error while creating mp3 encoding process!2");
    }
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(window.Records().empty());
    EXPECT_EQ(mp3.ChildPid(), 0);
}

TEST_F(Mp3Wrapper, AnOutputFolderThatVanishedEndsWithoutAnyProgress) {
    const std::string wav = MakeWav("a.wav", 2);
    Prepare(wav, Path("gone/a.mp3"), true, jobs::jkExtract);
    mp3.Start();
    ASSERT_TRUE(WaitForEnds(1));
    ASSERT_TRUE(Settle());
    ASSERT_EQ(window.Records().size(), 1u);
    EXPECT_EQ(window.Records()[0].Status, jobs::EncodeStatusEnded);
    EXPECT_FALSE(fs::exists(Path("gone")));
}

TEST_F(Mp3Wrapper, AnExistingOutputIsReplacedOnlyAfterYesUnlessTheJobIsAnExtraction) {
    const std::string wav = MakeWav("a.wav", 1);
    const std::string out = Path("a.mp3");
    WriteFile(out, "old");
    Prepare(wav, out, true, jobs::jkWavToMp3);
    dialogs->answers = {platform::MbResult::No, platform::MbResult::Yes, platform::MbResult::Yes};
    mp3.Start();
    EXPECT_EQ(mp3.ChildPid(), 0);
    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_EQ(window.Events()[0].Status, jobs::EncodeStatusDeclined);
    ASSERT_EQ(dialogs->boxes.size(), 1);
    EXPECT_EQ(dialogs->boxes[0].text.toStdString(), out + " has existed,overite it?");
    EXPECT_EQ(dialogs->boxes[0].caption, "Vellorine");
    EXPECT_EQ(dialogs->boxes[0].icon, platform::MbIcon::Information);
    EXPECT_EQ(dialogs->boxes[0].buttons, platform::MbButtons::YesNo);

    fs::permissions(out, fs::perms::owner_read); // read-only: in use
    mp3.Start();
    ASSERT_TRUE(WaitForEnds(2));
    EXPECT_EQ(window.Events()[1].Status, jobs::EncodeStatusInUse);
    EXPECT_EQ(testsupport::ReadText(out), "old");

    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_write);
    mp3.Start();
    ASSERT_TRUE(WaitForEnds(3));
    EXPECT_EQ(window.Events()[2].Status, jobs::EncodeStatusEnded);
    EXPECT_EQ(ProbeCodec(out), "mp3");

    for (const jobs::TJobKind kind : {jobs::jkExtract, jobs::jkRecordedToMp3}) {
        WriteFile(out, "old");
        mp3.JobKind = static_cast<std::uint8_t>(kind);
        mp3.Start();
        ASSERT_TRUE(WaitForEnds(kind == jobs::jkExtract ? 4 : 5));
        EXPECT_EQ(ProbeCodec(out), "mp3") << kind;
    }
    EXPECT_EQ(dialogs->boxes.size(), 3); // extractions and recordings never ask
}

TEST_F(Mp3Wrapper, StoppingPartWayKillsAndReapsLameAndSendsNoEnd) {
    const std::string wav = MakeWav("long.wav", 180);
    const std::string out = Path("long.mp3");
    Prepare(wav, out, true, jobs::jkWavToMp3);
    mp3.Start();
    ASSERT_TRUE(PumpUntil([&] { return !window.Percentages().empty(); }));
    const pid_t pid = mp3.ChildPid();
    ASSERT_NE(pid, 0);
    mp3.StopProcess(0);
    EXPECT_FALSE(mp3.Active);
    EXPECT_TRUE(ProcessGone(pid)); // killed and reaped: no zombie either
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
    EXPECT_EQ(mp3.ChildPid(), 0);
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(window.Events().empty());
    EXPECT_GT(fs::file_size(out), 0u); // the partial output stays
    EXPECT_LT(window.Percentages().back(), 100);
}

TEST_F(Mp3Wrapper, ItemsStartedFromTheEndEventEachEndExactlyOnce) {
    const std::vector<std::string> inputs = {MakeWav("1.wav", 2), MakeWav("2.wav", 2),
                                             MakeWav("3.wav", 2)};
    std::size_t next = 1;
    window.onMessage = [&](const testsupport::RecordedMessage& m) -> std::intptr_t {
        if (!testsupport::IsPercentage(m.info) && next < inputs.size()) {
            mp3.InputFile = inputs[next];
            mp3.OutputFile = Path(std::to_string(++next) + ".mp3");
            mp3.Start();
        }
        return 0;
    };
    Prepare(inputs[0], Path("1.mp3"), true, jobs::jkWavToMp3);
    mp3.Start();
    ASSERT_TRUE(WaitForEnds(3));
    ASSERT_TRUE(Settle());
    const auto ends = window.Events();
    ASSERT_EQ(ends.size(), 3u);
    for (const auto& e : ends) {
        EXPECT_EQ(e.Status, jobs::EncodeStatusEnded);
    }
    for (const char* name : {"1.mp3", "2.mp3", "3.mp3"}) {
        EXPECT_NEAR(Duration(Path(name)), 2.0, 0.1) << name;
    }
}

TEST_F(Mp3Wrapper, DestroyingAWrapperWhileLameRunsLeavesNoChildBehind) {
    const std::string wav = MakeWav("long.wav", 120);
    pid_t pid = 0;
    {
        TMp3EncodeProcess local;
        EncoderTest::Prepare(local, wav, Path("long.mp3"), true, jobs::jkExtract);
        local.Start();
        pid = local.ChildPid();
        ASSERT_NE(pid, 0);
        ASSERT_TRUE(PumpUntil([&] { return !window.Percentages().empty(); })); // lame is at work
    }
    EXPECT_TRUE(ProcessGone(pid));
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(window.Events().empty());
}
