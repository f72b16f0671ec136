// What an error box adds below its text: the system's reason the output could not be written.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "jobs/RipFormTestSupport.h"
#include "jobs/WriteCause.h"

namespace jobs_test {
namespace {

using jobs::ErrorText;
using jobs::WriteCause;

constexpr int kFrames = 150; // two seconds

TEST(WriteCause, NamesTheErrorAWriteMeetsAndLeavesTheFileAsItWas) {
    testsupport::ScratchFolder scratch;
    const fs::path root = scratch.Path();
    fs::create_directories(root / "readonly");
    fs::permissions(root / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
    scratch.WriteText("kept.txt", "twelve bytes");
    // Root writes into a read-only folder all the same: the mode decides what to expect.
    const bool rootWrites = ::geteuid() == 0;
    struct Case {
        std::string path;
        std::string cause;
    };
    const Case cases[] = {
        {(root / "new.mp3").string(), ""},
        {(root / "kept.txt").string(), ""},
        {(root / "gone" / "x.mp3").string(), ErrorText(ENOENT)},
        {root.string(), ErrorText(EISDIR)},
        {"/dev/full", ErrorText(ENOSPC)},
        {(root / "readonly" / "x.mp3").string(), rootWrites ? "" : ErrorText(EACCES)},
    };
    ASSERT_EQ(fs::status(root / "readonly").permissions() & fs::perms::owner_write,
              fs::perms::none);
    for (const Case& c : cases) {
        EXPECT_EQ(WriteCause(c.path), c.cause) << c.path;
    }
    EXPECT_FALSE(fs::exists(root / "new.mp3")) << "the probe leaves no file behind";
    EXPECT_FALSE(fs::exists(root / "readonly" / "x.mp3"));
    EXPECT_EQ(testsupport::ReadText((root / "kept.txt").string()), "twelve bytes");
    EXPECT_EQ(ErrorText(0), "");
    EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
    fs::permissions(root / "readonly", fs::perms::owner_all);
}

// An output folder that vanished before the job: the designed text, then the reason.
TEST_F(JobWindowTest, AVanishedOutputFolderIsReportedWithTheSystemsReason) {
    struct Case {
        int kind;
        QString item;
        QString box;
    };
    OpenDisc({kFrames});
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    const QString wav = QString::fromStdString(MakeWav("tone.wav", 1));
    const QString folder = QString::fromStdString(out.string());
    const QString missing = QString::fromStdString("\n" + ErrorText(ENOENT));
    const Case cases[] = {
        {jobs::jkExtract, "01Song",
         folder +
             "/Song.wav is not a valid file name.Please rename the Title in the CD tracks "
             "list." +
             missing},
        {jobs::jkWavToMp3, wav,
         "Create MP3 file error!\nPlease check the output and lame options or run application "
         "again." +
             missing},
    };
    for (const Case& c : cases) {
        fs::remove_all(out);
        const JobOutcome run = Run(c.kind, {c.item});
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.boxes, QStringList({c.box})) << run.boxes.join("|").toStdString();
        EXPECT_FALSE(fs::exists(out));
    }
}

} // namespace
} // namespace jobs_test
