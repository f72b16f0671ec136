// The encode steps over lame, WM8EUTIL and the Vorbis writer, run for real: each writes only
// under its partial name, names every record with its step id, tags and renames what it
// made, and leaves nothing behind when stopped or failed.
#include "jobs/EncodeStep.h"

#include "EncoderTestSupport.h"
#include "jobs/Mp3EncodeThread.h"
#include "tags/id3.h"

using namespace jobs_test;

namespace {

struct StepCase {
    const char* name;
    settings::TOutputFormat format;
    bool decode;
    const char* codec; // of the output, by ffprobe
};

class EncodeStep : public EncoderTest, public ::testing::WithParamInterface<StepCase> {
protected:
    void SetUp() override {
        EncoderTest::SetUp();
        ::setenv("PATH", (std::string(VELLORINE_BINARY_DIR) + ":" + oldPath).c_str(), 1);
    }

    // A request as a job makes it, reading a sine of the given length.
    jobs::TEncodeRequest Request(int seconds) {
        const StepCase c = GetParam();
        jobs::TEncodeRequest r;
        r.Format = c.format;
        r.Decode = c.decode;
        r.Input = MakeWav("in.wav", seconds);
        if (c.decode) {
            const std::string mp3 = Path("in.mp3");
            EXPECT_EQ(testsupport::RunCommand("lame --quiet " + testsupport::Quoted(r.Input) + " " +
                                              testsupport::Quoted(mp3))
                          .ExitCode,
                      0);
            r.Input = mp3;
        }
        r.Output = Path(std::string("out") +
                        (c.decode ? ".wav" : settings::FormatRow(c.format)->Extension));
        r.Partial = jobs::TJobPlan::PartialName(r.Output, 0);
        r.WriteId3 = c.format == settings::TOutputFormat::ofMp3 && !c.decode;
        r.Tag.Artist = "The Band";
        r.TagTitle = "A Song";
        r.TagTrack = 4;
        r.StepId = 17;
        return r;
    }

    // The end record, once every record has come; each must carry the step's id.
    settings::TProcessInfo WaitForEnd() {
        EXPECT_TRUE(WaitForEnds(1));
        EXPECT_TRUE(Settle());
        for (const auto& m : window.messages) {
            EXPECT_EQ(m.wParam, 17) << "record " << m.info.Code;
        }
        return window.Events().at(0);
    }
};

TEST_P(EncodeStep, WritesUnderItsPartialNameAndFinishGivesTheOutputItsNameAndTag) {
    const jobs::TEncodeRequest r = Request(2);
    auto step = jobs::MakeEncodeStep(r, &window);
    step->Start();
    const settings::TProcessInfo end = WaitForEnd();
    EXPECT_EQ(end.Code, GetParam().decode ? settings::PI_MP3_ENDED
                                          : settings::FormatRow(GetParam().format)->EndCode);
    EXPECT_FALSE(fs::exists(r.Output)) << "a final name before the step is finished";
    EXPECT_TRUE(fs::exists(r.Partial));
    ASSERT_TRUE(step->Succeeded(end, !window.Percentages().empty()));
    const jobs::TFinishResult result = step->Finish(true);
    EXPECT_TRUE(result.Produced);
    EXPECT_EQ(result.TagResult, 0);
    EXPECT_FALSE(fs::exists(r.Partial));
    EXPECT_EQ(ProbeCodec(r.Output), GetParam().codec);
    EXPECT_NEAR(Duration(r.Output), 2.0, 0.1);
    if (r.WriteId3) {
        tags::Tid3tag tag;
        ASSERT_EQ(tag.ReadTag(r.Output), 0);
        EXPECT_EQ(tag.Title, "A Song");
        EXPECT_EQ(tag.Artist, "The Band");
        EXPECT_EQ(tag.Track, 4);
    }
}

TEST_P(EncodeStep, AFailedOrStoppedStepLeavesNoFileAndNoChild) {
    jobs::TEncodeRequest r = Request(2);
    auto failed = jobs::MakeEncodeStep(r, &window);
    failed->Start();
    WaitForEnd();
    const jobs::TFinishResult result = failed->Finish(false);
    EXPECT_FALSE(result.Produced);
    EXPECT_FALSE(fs::exists(r.Partial));
    EXPECT_FALSE(fs::exists(r.Output));

    r = Request(60);
    r.StepId = 18;
    auto stopped = jobs::MakeEncodeStep(r, &window);
    stopped->Start();
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(r.Partial); }, 5000ms));
    ASSERT_TRUE(stopped->Running());
    stopped->Stop();
    EXPECT_FALSE(stopped->Running());
    EXPECT_FALSE(fs::exists(r.Partial));
    EXPECT_FALSE(fs::exists(r.Output));
    EXPECT_TRUE(Settle());
    EXPECT_EQ(window.Events().size(), 1u) << "a stopped step sends no end";
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, EncodeStep,
    ::testing::Values(StepCase{"Lame", settings::TOutputFormat::ofMp3, false, "mp3"},
                      StepCase{"LameDecode", settings::TOutputFormat::ofWav, true, "pcm_s16le"},
                      StepCase{"Vorbis", settings::TOutputFormat::ofOgg, false, "vorbis"},
                      StepCase{"Wma", settings::TOutputFormat::ofWma, false, "wmav2"},
                      StepCase{"Flac", settings::TOutputFormat::ofFlac, false, "flac"},
                      StepCase{"Opus", settings::TOutputFormat::ofOpus, false, "opus"}),
    [](const auto& param) { return std::string(param.param.name); });

// An output the user declined to replace is never touched, not even by the clean-up.
TEST_F(EncoderTest, ADeclinedOverwriteLeavesTheExistingOutputAsItWas) {
    jobs::TEncodeRequest r;
    r.Input = MakeWav("in.wav", 1);
    r.Output = Path("in.mp3");
    r.Partial = jobs::TJobPlan::PartialName(r.Output, 0);
    r.AsksToOverwrite = true;
    WriteFile(r.Output, "keep me");
    dialogs->answers = {platform::MbResult::No};
    auto step = jobs::MakeEncodeStep(r, &window);
    step->Start();
    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_FALSE(step->Succeeded(window.Events()[0], true));
    step->Finish(false);
    step->Stop();
    EXPECT_EQ(testsupport::ReadText(r.Output), "keep me");
}

} // namespace
