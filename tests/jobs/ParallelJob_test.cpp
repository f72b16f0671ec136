// Extraction jobs with more than one encoder: the same files as the serial job, byte for
// byte, and Stop ends every step and leaves nothing half-written.
#include <QProgressBar>
#include <QPushButton>

#include <map>

#include "jobs/RipFormTestSupport.h"

namespace jobs_test {
namespace {

using settings::TOutputFormat;

const QStringList kFourTracks = {"01One", "02Two", "03Three", "04Four"};

class ParallelJob : public JobWindowTest, public ::testing::WithParamInterface<TOutputFormat> {
protected:
    // Every file of the output folder with its bytes.
    std::map<std::string, std::vector<std::uint8_t>> Files() const {
        std::map<std::string, std::vector<std::uint8_t>> files;
        for (const auto& entry : fs::directory_iterator(out)) {
            files[entry.path().filename().string()] = testsupport::ReadAll(entry.path().string());
        }
        return files;
    }
    void Empty() const {
        for (const auto& entry : fs::directory_iterator(out)) {
            fs::remove_all(entry.path());
        }
    }
};

TEST_P(ParallelJob, MakesTheSameFilesAndTagsAsTheSerialJob) {
    OpenDisc({150, 300, 225, 150});
    settings::Settings.CommonOptions.OutputFormat = GetParam();
    settings::Settings.ID3.Use = true;
    settings::DiscInfo.Artist = "The Band";
    settings::DiscInfo.Comment = "live";

    settings::Settings.Performance.Encoders = 1;
    JobOutcome run = Run(jobs::jkExtract, kFourTracks);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    const auto serial = Files();
    ASSERT_EQ(serial.size(), 4u);
    Empty();

    settings::Settings.Performance.Encoders = 3;
    run = Run(jobs::jkExtract, kFourTracks);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(run.childrenAfter, 0);
    const auto parallel = Files();
    ASSERT_EQ(parallel.size(), serial.size());
    for (const auto& [name, bytes] : serial) {
        ASSERT_TRUE(parallel.count(name)) << name;
        EXPECT_TRUE(parallel.at(name) == bytes) << name << " differs";
    }
    EXPECT_GE(run.mostAtOnce, 2) << "the encoders never overlapped";
}

TEST_P(ParallelJob, StopEndsEveryStepAndLeavesNoPartialFileNorChild) {
    OpenDisc({75 * 30, 75 * 30, 75 * 30, 150});
    settings::Settings.CommonOptions.OutputFormat = GetParam();
    settings::Settings.Performance.Encoders = 2;
    {
        jobs::TRipForm form(nullptr, kFourTracks, handle, jobs::jkExtract);
        form.show();
        ASSERT_TRUE(
            PumpUntil([&] { return form.RunningEncodes() == 2 || form.JobFinished(); }, 60000ms));
        ASSERT_FALSE(form.JobFinished()) << "the encoders were too quick to be stopped";
        // One progress row per running encoder, under the designed window.
        const auto rows = form.findChildren<QProgressBar*>("StepGauge");
        EXPECT_EQ(rows.size(), 2);
        EXPECT_GT(form.height(), 117);
        form.findChild<QPushButton*>("btStop")->click();
        EXPECT_TRUE(form.JobFinished());
        EXPECT_EQ(ChildProcessCount(), 0);
        ASSERT_TRUE(PumpUntil([&] { return !form.isVisible(); }, 5000ms));
    }
    const std::string ext = settings::FormatRow(GetParam())->Extension;
    for (const auto& entry : fs::directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
        if (entry.path().extension() == ext) {
            // An output that is there was finished: it decodes to its whole length.
            EXPECT_NEAR(Duration(entry.path().string()), 30.0, 0.2) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ParallelJob,
                         ::testing::Values(TOutputFormat::ofMp3, TOutputFormat::ofOgg,
                                           TOutputFormat::ofWma),
                         [](const auto& param) {
                             return std::string(settings::FormatRow(param.param)->Extension + 1);
                         });

} // namespace
} // namespace jobs_test
