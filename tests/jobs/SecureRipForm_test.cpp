// The job window with secure extraction on: every track goes through the session, and a
// track with frames that could not be read reliably is kept, reported and encoded.
#include "cd/RipSession.h"
#include "jobs/RipFormTestSupport.h"
#include "support/LoopbackServer.h"

#include <algorithm>
#include <csignal>

namespace jobs_test {
namespace {

TEST_F(JobWindowTest, SecureModeLogsEveryTrackAndWarnsAboutUnreliableFrames) {
    testsupport::ScopedEnv damage("VELLORINE_FAULTY_SECTORS", "200=noise"); // inside track 2
    OpenDisc({150, 150});
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    settings::Settings.SecureRip.Enabled = true;
    settings::Settings.SecureRip.AccurateRip = false;
    settings::Settings.SecureRip.CTDB = false; // no outside hosts in tests
    const JobOutcome run = Run(jobs::jkExtract, {"01Song A", "02Song B"});
    ASSERT_TRUE(run.ended);
    const std::string log = Out("rip-06000402.log");
    ASSERT_EQ(run.boxes.size(), 1) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(run.boxes[0].toStdString(),
              Out("Song B.wav") + " has frames that could not be read reliably; see " + log + ".");
    EXPECT_TRUE(Exists("Song A.wav"));
    EXPECT_TRUE(Exists("Song B.wav"));
    const std::string text = testsupport::ReadText(log);
    EXPECT_NE(text.find("Track 01"), std::string::npos) << text;
    EXPECT_NE(text.find("Track 02"), std::string::npos);
    EXPECT_NE(text.find("There were errors: 1 track(s) with frames"), std::string::npos);
}

const std::string ArHelper = VELLORINE_SOURCE_DIR "/tests/cd/accuraterip.py";

// The loopback AccurateRip server, serving a database file made for the image whose
// checksums all match it ("match": two pressings, confidence 5 and 3).
class ArServer {
public:
    ArServer(const std::string& bin, const std::vector<int>& frames)
        : server_(Command(bin, frames, dir_), "AccurateRip") {}
    std::string Url() const { return server_.Url(); }

private:
    static std::string Command(const std::string& bin, const std::vector<int>& frames,
                               const testsupport::ScratchFolder& dir) {
        using testsupport::Quoted;
        std::string command = "python3 " + Quoted(ArHelper) + " database " + Quoted(bin) + " " +
                              Quoted(dir.File("answer")) + " match";
        for (int f : frames) {
            command += " " + std::to_string(f);
        }
        const auto made = testsupport::RunCommand(command);
        EXPECT_EQ(made.ExitCode, 0) << made.Output;
        fs::rename(dir.File("answer"), dir.File(made.Output.substr(0, made.Output.find('\n'))));
        return "python3 " + platform::QuoteArgument(ArHelper) + " serve " +
               platform::QuoteArgument(dir.Path()) + " - 2";
    }

    testsupport::ScratchFolder dir_; // before the server, which serves it
    testsupport::LoopbackServer server_;
};

// A damaged track neither ends the job nor hides the others: every track is produced, and
// the window stays with a line per track until its Close button is pressed.
TEST_F(JobWindowTest, ASecureRipGoesOnPastADamagedTrackAndEndsWithASummary) {
    const std::vector<int> frames = {40, 40, 40};
    testsupport::ScopedEnv damage("VELLORINE_FAULTY_SECTORS", "55-56=noise"); // inside track 2
    OpenDisc(frames);
    ArServer server(BinPath(), frames);
    struct Case {
        settings::TOutputFormat format;
        const char* extension;
    };
    for (const Case& c : {Case{settings::TOutputFormat::ofWav, ".wav"},
                          Case{settings::TOutputFormat::ofOgg, ".ogg"}}) {
        SCOPED_TRACE(c.extension);
        settings::Settings.CommonOptions.OutputFormat = c.format;
        settings::Settings.SecureRip.Enabled = true;
        settings::Settings.SecureRip.AccurateRip = true;
        settings::Settings.SecureRip.AccurateRipServer = server.Url();
        settings::Settings.SecureRip.CTDB = false;
        const JobOutcome run = Run(jobs::jkExtract, {"01One", "02Two", "03Three"});
        ASSERT_TRUE(run.ended) << run.summary.join("\n").toStdString();
        for (const char* name : {"One", "Two", "Three"}) {
            EXPECT_TRUE(Exists(name + std::string(c.extension))) << name;
        }
        ASSERT_EQ(run.summary.size(), 3) << run.summary.join("\n").toStdString();
        EXPECT_EQ(run.summary[0].toStdString(),
                  std::string("1 One") + c.extension + ": verified (confidence 8)");
        EXPECT_EQ(run.summary[1].toStdString(),
                  std::string("2 Two") + c.extension + ": damaged (2 sectors uncorrectable)");
        EXPECT_EQ(run.summary[2].toStdString(),
                  std::string("3 Three") + c.extension + ": verified (confidence 8)");
        EXPECT_EQ(run.disc.toStdString(), "CTDB: not checked (CTDB is off)");
        // Only the damaged track is worth a box on the way.
        EXPECT_EQ(run.boxes.size(), 1) << run.boxes.join("\n").toStdString();
        for (const char* name : {"One", "Two", "Three"}) {
            fs::remove(out / (name + std::string(c.extension)));
        }
    }
}

// Fast first in a job: the tracks the database verifies are read once, the damaged one is
// ripped again securely, and every file appears under its name only once it is complete.
TEST_F(JobWindowTest, FastFirstKeepsVerifiedReadsAndRipsTheDamagedTrackAgain) {
    const std::vector<int> frames = {40, 40, 40};
    testsupport::ScopedEnv damage("VELLORINE_FAULTY_SECTORS", "55-56=noise"); // inside track 2
    OpenDisc(frames);
    ArServer server(BinPath(), frames);
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    settings::Settings.SecureRip.Enabled = true;
    settings::Settings.SecureRip.AccurateRip = true;
    settings::Settings.SecureRip.AccurateRipServer = server.Url();
    settings::Settings.SecureRip.CTDB = false;
    settings::Settings.SecureRip.FastFirst = true;
    const JobOutcome run = Run(jobs::jkExtract, {"01One", "02Two", "03Three"});
    settings::Settings.SecureRip.FastFirst = false;
    ASSERT_TRUE(run.ended) << run.summary.join("\n").toStdString();
    ASSERT_EQ(run.summary.size(), 3) << run.summary.join("\n").toStdString();
    EXPECT_EQ(run.summary[0].toStdString(), "1 One.wav: verified (confidence 8)");
    EXPECT_EQ(run.summary[1].toStdString(), "2 Two.wav: damaged (2 sectors uncorrectable)");
    EXPECT_EQ(run.summary[2].toStdString(), "3 Three.wav: verified (confidence 8)");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "One.wav");
    EXPECT_EQ(names[1], "Three.wav");
    EXPECT_EQ(names[2], "Two.wav");
    const std::string log = testsupport::ReadText(out / names[3]);
    EXPECT_NE(log.find("Fast first: 2 track(s) verified in the fast pass; 1 re-ripped in secure "
                       "mode (02)"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("AccurateRip: mismatch; re-ripped in secure mode"), std::string::npos);
}

// Without secure extraction the window closes itself at the end of the job, summary-less.
TEST_F(JobWindowTest, APlainRipClosesWithoutASummary) {
    OpenDisc({40, 40});
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    settings::Settings.SecureRip.Enabled = false;
    const JobOutcome run = Run(jobs::jkExtract, {"01One", "02Two"});
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.summary.isEmpty()) << run.summary.join("\n").toStdString();
    EXPECT_TRUE(Exists("One.wav"));
    EXPECT_TRUE(Exists("Two.wav"));
}

} // namespace
} // namespace jobs_test
