// The whole disc in one file with a cue sheet that gives the disc back, and the audio a disc
// hides before track 1, ripped in the real job window.
#include "jobs/RipFormTestSupport.h"

#include "cd/CueSheet.h"

#include <fstream>

namespace jobs_test {
namespace {

// 30 frames before track 1's INDEX 01, pregaps of 40 and 45 frames before tracks 2 and 3:
// track 1 at sector 30, track 2's INDEX 00 at 180 and INDEX 01 at 220, track 3's at 520 and
// 565, the lead-out at 790.
const std::vector<int> kFrames = {150, 300, 225};
const char* const kArgs =
    "--pregaps 30 40 45 --catalog 1234567890123 --isrcs USABC1234567 - GBXYZ7654321";
constexpr std::size_t kSector = 2352;
constexpr std::size_t kHiddenFrames = 30;

using testsupport::FilesUnder;

// A WAV file's audio (after the canonical 44-byte header).
std::vector<std::uint8_t> AudioOf(const fs::path& wav) {
    const std::vector<std::uint8_t> all = testsupport::ReadAll(wav.string());
    return all.size() < 44 ? std::vector<std::uint8_t>()
                           : std::vector<std::uint8_t>(all.begin() + 44, all.end());
}

class SingleFile : public JobWindowTest {
protected:
    void SetUp() override {
        JobWindowTest::SetUp();
        settings::DiscInfo.Artist = "Band";
        settings::DiscInfo.Album = "Live";
        settings::DiscInfo.Titles[1] = "One";
        settings::DiscInfo.Titles[2] = "Two";
        settings::DiscInfo.Titles[3] = "Three";
        settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    }
    void TearDown() override {
        settings::DiscInfo = settings::TDiscInfo{};
        JobWindowTest::TearDown();
    }
    // Makes the CD layer's only drive the image at path, with a handle on it.
    void UseImage(const std::string& path) {
        if (handle != 0) {
            cd::CloseCDHandle(handle);
        }
        cdtest::UseImages({path});
        handle = cdtest::OpenFirstDrive();
    }
    std::string MakeSource(const std::string& args = kArgs) {
        cue = cdtest::MakeImage(scratch, "disc", kFrames, args);
        UseImage(cue);
        return cue;
    }
    // Rips these items as separate WAVs into a folder of their own.
    fs::path RipTracksInto(const std::string& name, const QStringList& items) {
        const fs::path folder = out / name;
        fs::create_directories(folder);
        settings::Settings.CommonOptions.OutputFolder = folder.string();
        settings::Settings.Naming = settings::TNaming{"%n - %t", false, false, false, true};
        const JobOutcome run = Run(jobs::jkExtract, items);
        EXPECT_TRUE(run.ended && run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
        settings::Settings.CommonOptions.OutputFolder = out.string();
        return folder;
    }
};

const char* const kSingleCue = "CATALOG 1234567890123\n"
                               "PERFORMER \"Band\"\n"
                               "TITLE \"Live\"\n"
                               "FILE \"Band - Live.wav\" WAVE\n"
                               "  TRACK 01 AUDIO\n"
                               "    TITLE \"One\"\n"
                               "    PERFORMER \"Band\"\n"
                               "    ISRC USABC1234567\n"
                               "    INDEX 00 00:00:00\n"
                               "    INDEX 01 00:00:30\n"
                               "  TRACK 02 AUDIO\n"
                               "    TITLE \"Two\"\n"
                               "    PERFORMER \"Band\"\n"
                               "    INDEX 00 00:02:30\n"
                               "    INDEX 01 00:02:70\n"
                               "  TRACK 03 AUDIO\n"
                               "    TITLE \"Three\"\n"
                               "    PERFORMER \"Band\"\n"
                               "    ISRC GBXYZ7654321\n"
                               "    INDEX 00 00:06:70\n"
                               "    INDEX 01 00:07:40\n";

// Whatever tracks are chosen, the file holds every sector of the disc once, and its sheet,
// opened by the program as a disc image, lists the source's tracks, pregaps, codes and ids,
// and its tracks (and the hidden audio) rip to the same bytes as the source's.
TEST_F(SingleFile, TheWholeDiscInOneWavIsADiscImageAgain) {
    const std::string source = MakeSource();
    ASSERT_GT(handle, 0);
    settings::Settings.Naming = settings::TNaming{"%a/%l/%n - %t", false, false, true, false};
    const JobOutcome run = Run(jobs::jkExtract, {"02Two"});
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(FilesUnder(out),
              (std::vector<std::string>{"Band/Live/Band - Live.cue", "Band/Live/Band - Live.wav"}));
    const fs::path single = out / "Band" / "Live" / "Band - Live.wav";
    EXPECT_EQ(AudioOf(single), testsupport::ReadAll(BinPath()));
    const fs::path sheet = out / "Band" / "Live" / "Band - Live.cue";
    EXPECT_EQ(testsupport::ReadText(sheet.string()), kSingleCue);

    const std::optional<cd::TCueDisc> before = cd::ReadCueDisc(handle);
    std::uint32_t idBefore = 0;
    ASSERT_TRUE(cd::DiscIdOfHandle(handle, idBefore));
    const fs::path fromSource = RipTracksInto("source", {"01One", "02Two", "03Three"});
    UseImage(sheet.string());
    ASSERT_GT(handle, 0) << cd::LastOpenProblem();
    const std::optional<cd::TCueDisc> after = cd::ReadCueDisc(handle);
    ASSERT_TRUE(before && after);
    EXPECT_EQ(after->Catalog, before->Catalog);
    EXPECT_EQ(after->LeadOut, before->LeadOut);
    ASSERT_EQ(after->Tracks.size(), before->Tracks.size());
    for (std::size_t i = 0; i < before->Tracks.size(); ++i) {
        EXPECT_EQ(after->Tracks[i].Number, before->Tracks[i].Number) << i;
        EXPECT_EQ(after->Tracks[i].Start, before->Tracks[i].Start) << i;
        EXPECT_EQ(after->Tracks[i].Pregap, before->Tracks[i].Pregap) << i;
        EXPECT_EQ(after->Tracks[i].Isrc, before->Tracks[i].Isrc) << i;
    }
    std::uint32_t idAfter = 0;
    ASSERT_TRUE(cd::DiscIdOfHandle(handle, idAfter));
    EXPECT_EQ(idAfter, idBefore);
    const fs::path fromSingle = RipTracksInto("single", {"01One", "02Two", "03Three"});
    const std::vector<std::string> names = {"00 - Hidden track.wav", "01 - One.wav", "02 - Two.wav",
                                            "03 - Three.wav"};
    for (const std::string& name : names) {
        ASSERT_TRUE(fs::exists(fromSource / name)) << name;
        EXPECT_EQ(testsupport::ReadAll((fromSingle / name).string()),
                  testsupport::ReadAll((fromSource / name).string()))
            << name;
    }
    // The hidden audio is the image's first sectors, track 1's pregap.
    const std::vector<std::uint8_t> bin = testsupport::ReadAll(BinPath());
    EXPECT_EQ(AudioOf(fromSingle / names[0]),
              std::vector<std::uint8_t>(bin.begin(), bin.begin() + kHiddenFrames * kSector));
}

// FLAC is the other format a single file takes; others give WAV, and the window says so.
// A stopped single-file rip leaves nothing: part of a disc is not the disc.
TEST_F(SingleFile, FlacOrWavAndAStopLeavesNoFile) {
    MakeSource();
    ASSERT_GT(handle, 0);
    settings::Settings.Naming = settings::TNaming{"%t", false, false, true, false};
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofFlac;
    JobOutcome run = Run(jobs::jkExtract, {"01One"});
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(FilesUnder(out), (std::vector<std::string>{"Band - Live.cue", "Band - Live.flac"}));
    const std::string flacCue = testsupport::ReadText(Out("Band - Live.cue"));
    EXPECT_NE(flacCue.find("FILE \"Band - Live.flac\" WAVE\n"), std::string::npos) << flacCue;
    // Such a sheet is no disc image the program can open, and it says why.
    cdtest::UseImages({Out("Band - Live.cue")});
    EXPECT_EQ(cdtest::OpenFirstDrive(), 0);
    EXPECT_NE(cd::LastOpenProblem().find("\"Band - Live.flac\" is not a WAV file"),
              std::string::npos)
        << cd::LastOpenProblem();
    UseImage(cue);
    fs::remove_all(out);
    fs::create_directories(out);

    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofMp3;
    run = Run(jobs::jkExtract, {"01One"});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes,
              QStringList({"A rip to one file is written as WAV or FLAC; this one is WAV."}));
    EXPECT_EQ(FilesUnder(out), (std::vector<std::string>{"Band - Live.cue", "Band - Live.wav"}));
    fs::remove_all(out);
    fs::create_directories(out);

    // A disc that cannot be read to its end leaves no file and no sheet either.
    std::filesystem::resize_file(BinPath(), 300 * kSector);
    run = Run(jobs::jkExtract, {"01One"});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes,
              QStringList({"A rip to one file is written as WAV or FLAC; this one is WAV.",
                           "Error while reading CD information!"}));
    EXPECT_EQ(FilesUnder(out), std::vector<std::string>{});

    for (const auto format : {settings::TOutputFormat::ofWav, settings::TOutputFormat::ofFlac}) {
        settings::Settings.CommonOptions.OutputFormat = format;
        UseImage(cdtest::MakeImage(scratch, "long", {75 * 300, 75 * 300}));
        run = Run(jobs::jkExtract, {"01One"}, StopAt{"Extracting", 0});
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(FilesUnder(out), std::vector<std::string>{}) << static_cast<int>(format);
    }
    run = Run(jobs::jkExtract, {"01One"}, StopAt{"Encoding", 0});
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.captions.join("|").contains("Encoding"))
        << run.captions.join("|").toStdString();
    EXPECT_EQ(FilesUnder(out), std::vector<std::string>{}) << "stopped while encoding";
}

// Secure mode reads the whole disc (the hidden audio too) through the secure reader, and
// its log says what the file holds and that it was not verified.
TEST_F(SingleFile, SecureModeReadsTheSameBytesAndSaysTheFileWasNotVerified) {
    MakeSource();
    ASSERT_GT(handle, 0);
    settings::Settings.Naming = settings::TNaming{"%t", false, false, true, false};
    settings::Settings.SecureRip.Enabled = true;
    settings::Settings.SecureRip.AccurateRip = false;
    settings::Settings.SecureRip.CTDB = false; // no outside hosts in tests
    const JobOutcome run = Run(jobs::jkExtract, {"01One"});
    settings::Settings.SecureRip = settings::TSecureRip{};
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(AudioOf(out / "Band - Live.wav"), testsupport::ReadAll(BinPath()));
    std::string log;
    for (const auto& entry : fs::directory_iterator(out)) {
        if (entry.path().extension() == ".log") {
            log = testsupport::ReadText(entry.path().string());
        }
    }
    EXPECT_NE(log.find("Holds:           the whole disc in one file, frames -30 to 759"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("this file was not verified"), std::string::npos) << log;
}

// Track 00: asked for, with track 1, on a disc whose hidden audio is not silence. Its file
// holds track 1's INDEX 00 in the cue sheet.
TEST_F(SingleFile, TheHiddenAudioIsTrack00WhenAskedAndNotSilent) {
    struct Case {
        bool asked;
        bool silent;
        QStringList items;
        bool ripped;
    };
    const Case cases[] = {{true, false, {"01One", "02Two"}, true},
                          {false, false, {"01One", "02Two"}, false},
                          {true, true, {"01One", "02Two"}, false},
                          {true, false, {"02Two"}, false}};
    for (const Case& c : cases) {
        fs::remove_all(out);
        fs::create_directories(out);
        MakeSource();
        if (c.silent) {
            std::vector<std::uint8_t> bin = testsupport::ReadAll(BinPath());
            std::fill(bin.begin(), bin.begin() + kHiddenFrames * kSector, 0);
            std::ofstream(BinPath(), std::ios::binary)
                .write(reinterpret_cast<const char*>(bin.data()),
                       static_cast<std::streamsize>(bin.size()));
        }
        UseImage(cue);
        settings::Settings.Naming = settings::TNaming{"%n - %t", false, true, false, c.asked};
        const JobOutcome run = Run(jobs::jkExtract, c.items);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(fs::exists(out / "00 - Hidden track.wav"), c.ripped)
            << c.asked << c.silent << c.items.size();
        if (c.ripped) {
            const std::vector<std::uint8_t> bin = testsupport::ReadAll(BinPath());
            EXPECT_EQ(
                AudioOf(out / "00 - Hidden track.wav"),
                std::vector<std::uint8_t>(bin.begin(), bin.begin() + kHiddenFrames * kSector));
            const std::string text = testsupport::ReadText((out / "Live.cue").string());
            EXPECT_NE(text.find("FILE \"00 - Hidden track.wav\" WAVE\n  TRACK 01 AUDIO\n"
                                "    TITLE \"One\"\n    PERFORMER \"Band\"\n"
                                "    ISRC USABC1234567\n    INDEX 00 00:00:00\n"
                                "FILE \"01 - One.wav\" WAVE\n    INDEX 01 00:00:00\n"),
                      std::string::npos)
                << text;
        }
    }
}

} // namespace
} // namespace jobs_test
