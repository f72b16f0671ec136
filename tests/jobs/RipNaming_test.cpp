// Rips named by the naming template, in the real job window.
#include "jobs/RipFormTestSupport.h"

#include "cd/DiscToc.h"

namespace jobs_test {
namespace {

constexpr int kTrackFrames = 150; // two seconds

using testsupport::FilesUnder;

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

    std::string OpenImage(const std::string& name, const std::vector<int>& frames,
                          const std::string& extraArgs) {
        const std::string image = cdtest::MakeImage(scratch, name, frames, extraArgs);
        cdtest::UseImages({image});
        handle = cdtest::OpenFirstDrive();
        return image;
    }
};

// A disc with pregaps (INDEX 00 of tracks 2 and 3) and an ISRC on track 1.
const std::vector<int> kGapFrames = {150, 300, 225};
const char* const kGapArgs = "--pregaps 0 30 45 --isrcs USABC1234567";

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

// The playlist and the cue sheet list the files the rip made, in track order and with paths
// relative to their folder; the cue puts each pregap at the end of the previous file, so the
// files and the sheet give the disc's layout back.
TEST_F(RipNaming, APlaylistAndACueSheetListTheRipsFilesInTrackOrder) {
    settings::Settings.Naming = settings::TNaming{"%a/%l/%n - %t", true, true};
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    settings::DiscInfo.Artist = "Band";
    settings::DiscInfo.Album = "Live";
    const std::string image = OpenImage("gaps", kGapFrames, kGapArgs);
    ASSERT_GT(handle, 0);
    const JobOutcome run = Run(jobs::jkExtract, {"03Three", "01One", "02Two"});
    ASSERT_TRUE(run.ended);
    const fs::path album = out / "Band" / "Live";
    EXPECT_EQ(FilesUnder(out),
              (std::vector<std::string>{"Band/Live/01 - One.wav", "Band/Live/02 - Two.wav",
                                        "Band/Live/03 - Three.wav", "Band/Live/Live.cue",
                                        "Band/Live/Live.m3u8"}));
    // 180, 345 and 225 frames: 2.4, 4.6 and 3 seconds.
    EXPECT_EQ(testsupport::ReadText((album / "Live.m3u8").string()),
              "#EXTM3U\n#EXTINF:2,Band - One\n01 - One.wav\n#EXTINF:5,Band - Two\n02 - Two.wav\n"
              "#EXTINF:3,Band - Three\n03 - Three.wav\n");
    EXPECT_EQ(testsupport::ReadText((album / "Live.cue").string()),
              "PERFORMER \"Band\"\nTITLE \"Live\"\n"
              "FILE \"01 - One.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n"
              "    PERFORMER \"Band\"\n    ISRC USABC1234567\n    INDEX 01 00:00:00\n"
              "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    PERFORMER \"Band\"\n"
              "    INDEX 00 00:02:00\n"
              "FILE \"02 - Two.wav\" WAVE\n    INDEX 01 00:00:00\n"
              "  TRACK 03 AUDIO\n    TITLE \"Three\"\n    PERFORMER \"Band\"\n"
              "    INDEX 00 00:04:00\n"
              "FILE \"03 - Three.wav\" WAVE\n    INDEX 01 00:00:00\n");
    // The program's own reader of cue sheets finds the source disc's starts in the files.
    std::string error;
    const std::optional<cd::RipDisc> source = cd::ReadCueSheetDisc(image, error);
    const std::optional<cd::RipDisc> rebuilt =
        cd::ReadCueSheetDisc((album / "Live.cue").string(), error);
    ASSERT_TRUE(source && rebuilt) << error;
    ASSERT_EQ(rebuilt->toc.size(), source->toc.size());
    for (std::size_t i = 0; i < source->toc.size(); ++i) {
        EXPECT_EQ(rebuilt->toc[i].start, source->toc[i].start) << i;
    }
    EXPECT_EQ(rebuilt->leadOut, source->leadOut);
}

// Without the options nothing is written beside the files; a stopped rip lists what it made.
TEST_F(RipNaming, PlaylistsAndCueSheetsOnlyWhenAskedAndOfMadeFilesOnly) {
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    settings::DiscInfo.Album = "Live";
    OpenDisc({kTrackFrames, kTrackFrames});
    ASSERT_TRUE(Run(jobs::jkExtract, {"01One", "02Two"}).ended);
    EXPECT_EQ(FilesUnder(out), (std::vector<std::string>{"One.wav", "Two.wav"}));
    fs::remove_all(out);
    fs::create_directories(out);
    settings::Settings.Naming.Playlist = true;
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofMp3;
    // Track 2 cannot be read: it is not in the playlist.
    fs::resize_file(BinPath(), kTrackFrames * 2352 + 1000);
    ASSERT_TRUE(Run(jobs::jkExtract, {"01One", "02Two"}).ended);
    EXPECT_EQ(testsupport::ReadText((out / "Live.m3u8").string()),
              "#EXTM3U\n#EXTINF:2,One\nOne.mp3\n");
}

} // namespace
} // namespace jobs_test
