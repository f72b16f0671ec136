#include "jobs/WMAEncodeThread.h"

#include "EncoderTestSupport.h"
#include "jobs/JobPlan.h"

using namespace jobs_test;
using jobs::TWMAEncodeProcess;

namespace {

class WmaWrapper : public EncoderTest {
protected:
    void Prepare(const std::string& in, const std::string& out) {
        EncoderTest::Prepare(wma, in, out, true, jobs::jkWavToWma);
    }
    // The real helper, built beside the program in the build tree.
    void UseRealEncoder() {
        const fs::path built = fs::path(VELLORINE_BINARY_DIR) / "WM8EUTIL";
        ASSERT_TRUE(fs::exists(built)) << built;
        ::setenv("PATH", (built.parent_path().string() + ":" + oldPath).c_str(), 1);
    }

    TWMAEncodeProcess wma;
};

} // namespace

TEST_F(WmaWrapper, TheCommandLineCarriesThePresetCodeAndTheTagWordsThatAreSet) {
    Prepare("/in/a b.wav", "/out/a b.wma");
    const std::string base =
        "/e/WM8EUTIL -input \"/in/a b.wav\" -output \"/out/a b.wma\" -a_setting 64_44_2";
    EXPECT_EQ(wma.CommandLine("/e/WM8EUTIL"), base);
    for (const int unknown : {40, -1}) {
        // The job takes the settings on the GUI thread, where the preset is mended.
        settings::Settings.WMAOptions.BitRate = unknown;
        wma.Preset = jobs::SnapshotSettings().WmaPreset;
        EXPECT_EQ(wma.CommandLine("/e/WM8EUTIL"), base);
        EXPECT_EQ(settings::Settings.WMAOptions.BitRate, 8); // reset in the settings too
        // The encoder itself falls back without writing anywhere.
        wma.Preset = unknown;
        settings::Settings.WMAOptions.BitRate = unknown;
        EXPECT_EQ(wma.CommandLine("/e/WM8EUTIL"), base);
        EXPECT_EQ(settings::Settings.WMAOptions.BitRate, unknown);
    }
    wma.Preset = 0;
    EXPECT_NE(wma.CommandLine("/e/WM8EUTIL").find("-a_setting 192_48_2"), std::string::npos);
    wma.Preset = 8;

    wma.Artist = "The Band";
    EXPECT_EQ(wma.CommandLine("/e/WM8EUTIL"), base); // tags off
    wma.Tags = true;
    EXPECT_EQ(wma.CommandLine("/e/WM8EUTIL"), base + " -author The Band");
    wma.Comment = "live take";
    EXPECT_EQ(wma.CommandLine("/e/WM8EUTIL"), base + " -author The Band -description live take");
    wma.Artist.clear();
    EXPECT_EQ(wma.CommandLine("/e/WM8EUTIL"), base + " -description live take");

    // A folder with a blank still gives one program word.
    const auto words = platform::SplitCommandLine(wma.CommandLine("/opt/my apps/WM8EUTIL"));
    ASSERT_GE(words.size(), 2u);
    EXPECT_EQ(words[0], "/opt/my apps/WM8EUTIL");
    EXPECT_EQ(words[1], "-input");
}

TEST_F(WmaWrapper, AHundredPercentLineRightAfterTheStartReportsOneSecondForBothTimes) {
    Prepare("a.wav", "a.wma");
    wma.ParseWmaLines("Encoding...\r\n 50%\r\n100%\r\n");
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(window.Records().size(), 1u);
    EXPECT_EQ(window.Records()[0].Code, 100);
    EXPECT_EQ(window.Records()[0].Elapsed, "00:01");
    EXPECT_EQ(window.Records()[0].Estimated, "00:01");
}

TEST_F(WmaWrapper, AnErrorLineEndsTheStepAtOnceWithTheLineAndIgnoresTheRestOfThePiece) {
    Prepare("a.wav", "a.wma");
    wma.ParseWmaLines("ERROR: cannot open a.wav\n100%\n");
    // Sent, not posted: the window has it before the parser returns.
    ASSERT_EQ(window.Records().size(), 1u);
    EXPECT_EQ(window.Records()[0].Code, settings::PI_WMA_ENDED);
    EXPECT_EQ(window.Records()[0].Status, jobs::EncodeStatusErrorLine);
    EXPECT_EQ(window.Records()[0].Elapsed, "ERROR: cannot open a.wav");
    wma.ParseWmaLines("an error, not an ERR0R\n");
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(window.Records().size(), 1u);
}

TEST_F(WmaWrapper, TheRealEncoderMakesAWmaFileAndTheStepEndsOnceAfterItsHundredPercent) {
    UseRealEncoder();
    const std::string wav = MakeWav("song.wav", 5);
    const std::string out = Path("song.wma");
    Prepare(wav, out);
    wma.Start();
    ASSERT_TRUE(WaitForEnds(1));
    ASSERT_TRUE(Settle());
    ASSERT_EQ(window.Records().size(), 2u);
    EXPECT_EQ(window.Records()[0].Code, 100);
    EXPECT_EQ(window.Records()[0].Elapsed, window.Records()[0].Estimated);
    EXPECT_EQ(window.Records()[1].Code, settings::PI_WMA_ENDED);
    EXPECT_EQ(window.Records()[1].Status, jobs::EncodeStatusEnded);
    EXPECT_EQ(ProbeCodec(out), "wmav2");
    EXPECT_NEAR(Duration(out), 5.0, 0.2);
}

TEST_F(WmaWrapper, TheRealEncodersErrorLineEndsTheItemWithStatusEightAndNothingMore) {
    UseRealEncoder();
    const std::string bad = Path("bad.wav");
    WriteFile(bad, "this is not a wave file");
    Prepare(bad, Path("bad.wma"));
    wma.Start();
    ASSERT_TRUE(WaitForEnds(1));
    ASSERT_TRUE(Settle());
    const auto ends = window.Events();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].Status, jobs::EncodeStatusErrorLine);
    EXPECT_NE(ends[0].Elapsed.find("ERROR"), std::string::npos);
}

TEST_F(WmaWrapper, AMissingEncoderIsReportedAndTheStepEndsWithStatusZero) {
    const std::string wav = MakeWav("a.wav", 1);
    UseEmptyPath();
    Prepare(wav, Path("a.wma"));
    wma.Start();
    ASSERT_EQ(window.Records().size(), 1u); // sent from Start itself
    EXPECT_EQ(window.Records()[0].Status, jobs::EncodeStatusDeclined);
    ASSERT_EQ(dialogs->boxes.size(), 1);
    EXPECT_EQ(dialogs->boxes[0].text,
              "Can not find WMA encoder,please contact with support@vellorine.org!");
    EXPECT_EQ(dialogs->boxes[0].icon, platform::MbIcon::Information);
    EXPECT_EQ(dialogs->boxes[0].buttons, platform::MbButtons::Ok);
    EXPECT_EQ(wma.ChildPid(), 0);
}

// The failed item's encoder keeps running after its error line while the window already
// starts the next item on the same wrapper.
TEST_F(WmaWrapper, AfterAnErrorLineTheOldChildCannotEndTheNextItem) {
    InstallScriptOnPath("WM8EUTIL", "case \"$2\" in\n"
                                    "  *first*) echo 'ERROR: first failed'; sleep 3; echo 100% ;;\n"
                                    "  *) sleep 0.3; echo 100% ;;\n"
                                    "esac");
    pid_t firstChild = 0;
    bool started = false;
    window.onMessage = [&](const testsupport::RecordedMessage& m) -> std::intptr_t {
        if (!testsupport::IsPercentage(m.info) && !started) {
            started = true;
            wma.InputFile = Path("second.wav");
            wma.OutputFile = Path("second.wma");
            wma.Start();
        }
        return 0;
    };
    Prepare(Path("first.wav"), Path("first.wma"));
    wma.Start();
    firstChild = wma.ChildPid();
    ASSERT_NE(firstChild, 0);
    ASSERT_TRUE(WaitForEnds(2, 10000ms));
    ASSERT_TRUE(Settle());
    const auto ends = window.Events();
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0].Status, jobs::EncodeStatusErrorLine);
    EXPECT_EQ(ends[0].Elapsed, "ERROR: first failed");
    EXPECT_EQ(ends[1].Status, jobs::EncodeStatusEnded);
    EXPECT_EQ(window.Percentages(), std::vector<int>{100}); // only the second child's
    EXPECT_TRUE(ProcessGone(firstChild));
}

TEST_F(WmaWrapper, OutputArrivingInPiecesIsParsedPieceByPiece) {
    InstallScriptOnPath("WM8EUTIL", "printf 'work'; sleep 0.3; printf 'ing\\n'; sleep 0.3;"
                                    "printf '10'; sleep 0.3; printf '0%%\\n'; sleep 0.3;"
                                    "echo 'done 100%' >&2");
    Prepare(Path("a.wav"), Path("a.wma"));
    wma.Start();
    ASSERT_TRUE(WaitForEnds(1));
    // The split "10" + "0%" is two partial lines; the whole line on stderr counts.
    EXPECT_EQ(window.Percentages(), std::vector<int>{100});
    EXPECT_EQ(window.Records().size(), 2u);
}

TEST_F(WmaWrapper, AChildThatPrintsNothingOrIsKilledStillEndsTheStepOnce) {
    InstallScriptOnPath("WM8EUTIL", "case \"$2\" in *quiet*) exit 0 ;; *) exec sleep 30 ;; esac");
    Prepare(Path("quiet.wav"), Path("quiet.wma"));
    wma.Start();
    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_EQ(window.Records().size(), 1u);
    EXPECT_EQ(window.Records()[0].Status, jobs::EncodeStatusEnded);

    wma.InputFile = Path("slow.wav");
    wma.Start();
    const pid_t pid = wma.ChildPid();
    ASSERT_NE(pid, 0);
    // Killed once it has become the waiting encoder (the shell has run exec).
    ASSERT_TRUE(PumpUntil([&] { return CommandName(pid) == "sleep"; }, 5000ms));
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(WaitForEnds(2));
    ASSERT_TRUE(Settle());
    ASSERT_EQ(window.Events().size(), 2u);
    EXPECT_EQ(window.Events()[1].Status, jobs::EncodeStatusEnded);
    EXPECT_TRUE(ProcessGone(pid));
}
