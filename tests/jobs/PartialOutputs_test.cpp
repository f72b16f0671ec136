// What a job leaves in the output folder when something goes wrong: while a step runs its
// file has no final name, a failed output is not kept, and a WAV the job did not make is
// never written over or deleted.
#include "jobs/RipFormTestSupport.h"

namespace jobs_test {
namespace {

using settings::TOutputFormat;

// The names in the output folder that end as given.
std::vector<std::string> NamesEndingWith(const fs::path& folder, const std::string& end) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= end.size() &&
            name.compare(name.size() - end.size(), end.size(), end) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

struct RunningCase {
    const char* name;
    TOutputFormat format;
    const char* phase; // the caption phase whose step is watched
    const char* final; // the name that must not exist while the step writes
};

class WhileAStepRuns : public JobWindowTest, public ::testing::WithParamInterface<RunningCase> {};

// A program killed at any moment leaves its half-written file under a name no player
// mistakes for a finished file.
TEST_P(WhileAStepRuns, ItsFileHasNoFinalName) {
    const RunningCase c = GetParam();
    OpenDisc({75 * 40});
    settings::Settings.CommonOptions.OutputFormat = c.format;
    bool watched = false;
    bool finalSeen = false;
    {
        jobs::TRipForm form(nullptr, {"01Long"}, handle, jobs::jkExtract);
        form.show();
        PumpUntil(
            [&] {
                if (form.windowTitle().startsWith(c.phase) &&
                    !NamesEndingWith(out, ".part").empty()) {
                    watched = true;
                    finalSeen = Exists(c.final);
                    return true;
                }
                return form.JobFinished();
            },
            60000ms);
        form.findChild<QPushButton*>("btStop")->click();
        PumpUntil([&] { return !form.isVisible(); }, 5000ms);
    }
    ASSERT_TRUE(watched) << "the step ended before it could be watched";
    EXPECT_FALSE(finalSeen) << c.final << " existed while it was written";
    EXPECT_TRUE(NamesEndingWith(out, ".part").empty());
    EXPECT_EQ(ChildProcessCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, WhileAStepRuns,
    ::testing::Values(RunningCase{"Rip", TOutputFormat::ofWav, "Extracting", "Long.wav"},
                      RunningCase{"Mp3", TOutputFormat::ofMp3, "Encoding", "Long.mp3"},
                      RunningCase{"Ogg", TOutputFormat::ofOgg, "Encoding", "Long.ogg"},
                      RunningCase{"Wma", TOutputFormat::ofWma, "Encoding", "Long.wma"},
                      RunningCase{"Flac", TOutputFormat::ofFlac, "Encoding", "Long.flac"},
                      RunningCase{"Opus", TOutputFormat::ofOpus, "Encoding", "Long.opus"}),
    [](const auto& param) { return std::string(param.param.name); });

// A user's WAV from an earlier rip, named like this rip's intermediate WAV, stays as it was.
TEST_F(JobWindowTest, ARipToMp3KeepsAWavOfTheSameNameThatItDidNotMake) {
    OpenDisc({150, 150});
    settings::Settings.CommonOptions.OutputFormat = TOutputFormat::ofMp3;
    WriteFile(Out("Song A.wav"), "the user's own recording");
    const JobOutcome run = Run(jobs::jkExtract, {"01Song A", "02Song B"});
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(testsupport::ReadText(Out("Song A.wav")), "the user's own recording");
    EXPECT_NEAR(Duration(Out("Song A.mp3")), 2.0, 0.1);
    EXPECT_NEAR(Duration(Out("Song B.mp3")), 2.0, 0.1);
    // The job's own WAVs went once encoded.
    EXPECT_EQ(NamesEndingWith(out, ".wav"), std::vector<std::string>{"Song A.wav"});

    // Kept WAVs keep the name they were written under.
    settings::Settings.CommonOptions.IsKeepWav = true;
    const JobOutcome kept = Run(jobs::jkExtract, {"01Song A"});
    ASSERT_TRUE(kept.ended);
    EXPECT_EQ(testsupport::ReadText(Out("Song A.wav")), "the user's own recording");
    EXPECT_TRUE(Exists("Song A (rip 1).wav"));
}

// lame "decodes" a file that is no MP3 into a WAV of nothing and exits 0; the job says the
// output could not be made and so must not keep it.
TEST_F(JobWindowTest, AnOutputTheJobReportsAsFailedIsNotKept) {
    const std::string notMp3 = Path("not.mp3");
    fs::copy_file(MakeWav("tone.wav", 1), notMp3);
    const JobOutcome run = Run(jobs::jkMp3ToWav, {QString::fromStdString(notMp3)});
    ASSERT_TRUE(run.ended);
    ASSERT_EQ(run.boxes.size(), 1);
    EXPECT_TRUE(run.boxes[0].startsWith("Create MP3 file error!")) << run.boxes[0].toStdString();
    EXPECT_FALSE(Exists("not.wav"));
    EXPECT_TRUE(NamesEndingWith(out, ".part").empty());
}

} // namespace
} // namespace jobs_test
