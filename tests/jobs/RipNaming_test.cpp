// Rips named by the naming template, in the real job window.
#include "jobs/RipFormTestSupport.h"

namespace jobs_test {
namespace {

constexpr int kTrackFrames = 150; // two seconds

// Every file under the folder, relative to it, in name order.
std::vector<std::string> FilesUnder(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(fs::relative(entry.path(), folder).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class RipNaming : public JobWindowTest {
protected:
    void UseDisc(const std::string& artist, const std::string& album,
                 const std::vector<int>& frames) {
        if (handle != 0) {
            cd::CloseCDHandle(handle);
            handle = 0;
        }
        settings::DiscInfo.Artist = artist;
        settings::DiscInfo.Album = album;
        OpenDisc(frames);
    }
};

// Two albums with a track of the same title go to one library folder side by side; the rip
// makes the folders it needs and leaves no intermediate WAV behind.
TEST_F(RipNaming, TwoAlbumsInOneLibraryFolderDoNotCollide) {
    settings::Settings.Naming.Template = "%a/%l/%n - %t";
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofMp3;
    UseDisc("Band A", "First", {kTrackFrames, kTrackFrames});
    const JobOutcome first = Run(jobs::jkExtract, {"01Intro", "02Song"});
    ASSERT_TRUE(first.ended);
    UseDisc("Band B", "Second", {kTrackFrames * 2});
    const JobOutcome second = Run(jobs::jkExtract, {"01Intro"});
    ASSERT_TRUE(second.ended);
    EXPECT_TRUE(first.boxes.isEmpty() && second.boxes.isEmpty())
        << (first.boxes + second.boxes).join("\n").toStdString();
    EXPECT_EQ(FilesUnder(out),
              (std::vector<std::string>{"Band A/First/01 - Intro.mp3", "Band A/First/02 - Song.mp3",
                                        "Band B/Second/01 - Intro.mp3"}));
    EXPECT_NEAR(Duration(Out("Band A/First/01 - Intro.mp3")), 2.0, 0.1);
    EXPECT_NEAR(Duration(Out("Band B/Second/01 - Intro.mp3")), 4.0, 0.1);
}

// Folders are made only for the tracks ripped, and an empty artist makes no empty folder.
TEST_F(RipNaming, OnlyTheFoldersOfRippedTracksAreMade) {
    settings::Settings.Naming.Template = "%a/%l/%n - %t";
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    UseDisc("", "Solo", {kTrackFrames, kTrackFrames});
    settings::DiscInfo.TrackArtists[2] = "Guest";
    const JobOutcome run = Run(jobs::jkExtract, {"01One"});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(FilesUnder(out), std::vector<std::string>{"Solo/01 - One.wav"});
    EXPECT_FALSE(fs::exists(out / "Guest"));
}

} // namespace
} // namespace jobs_test
