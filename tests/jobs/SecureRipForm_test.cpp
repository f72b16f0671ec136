// The job window with secure extraction on: every track goes through the session, and a
// track with frames that could not be read reliably is kept, reported and encoded.
#include "cd/RipSession.h"
#include "jobs/RipFormTestSupport.h"

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

} // namespace
} // namespace jobs_test
