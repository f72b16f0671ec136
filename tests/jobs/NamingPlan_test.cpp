// How the job plan names a rip's files through the naming template.
#include "jobs/JobPlan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using jobs::TJobPlan;
using settings::TOutputFormat;

jobs::TJobSettings Library(const std::string& folder, TOutputFormat format,
                           const std::string& pattern) {
    jobs::TJobSettings s;
    s.OutputFolder = folder;
    s.OutputFormat = format;
    s.Naming.Template = pattern;
    s.NameDisc.Artist = "The Band";
    s.NameDisc.AlbumArtist = "Various";
    s.NameDisc.Album = "Live";
    s.NameDisc.Year = "2001";
    s.TrackArtists[2] = "Guest";
    return s;
}

// Every file of an item (the WAV, the rip's partial file, the output) lies in the folder
// the template gives, and only the rip of an item with folders is told to make them.
TEST(NamingPlan, TheTemplateNamesEveryFileOfARip) {
    struct Case {
        const char* pattern;
        TOutputFormat format;
        const char* item;
        const char* wav;    // relative to the output folder
        const char* output; // relative to the output folder
        bool makesFolders;
    };
    const Case cases[] = {
        {"%t", TOutputFormat::ofMp3, "01Intro", "Intro.wav", "Intro.mp3", false},
        {"%n - %t", TOutputFormat::ofWav, "01Intro", "01 - Intro.wav", "01 - Intro.wav", false},
        {"%a/%l/%n - %t", TOutputFormat::ofOgg, "01Intro", "The Band/Live/01 - Intro.wav",
         "The Band/Live/01 - Intro.ogg", true},
        {"%a/%l/%n - %t", TOutputFormat::ofOgg, "02Duet", "Guest/Live/02 - Duet.wav",
         "Guest/Live/02 - Duet.ogg", true},
        {"%A/%l (%y)/%n - %t", TOutputFormat::ofMp3, "02Duet", "Various/Live (2001)/02 - Duet.wav",
         "Various/Live (2001)/02 - Duet.mp3", true},
        {"../%t", TOutputFormat::ofWav, "03x", "__/x.wav", "__/x.wav", true},
    };
    for (const Case& c : cases) {
        const TJobPlan plan(jobs::jkExtract, {c.item}, Library("/out", c.format, c.pattern));
        EXPECT_EQ(plan.Wav(0), std::string("/out/") + c.wav) << c.pattern << " " << c.item;
        EXPECT_EQ(plan.Output(0), std::string("/out/") + c.output) << c.pattern << " " << c.item;
        const cd::TRipOptions rip = plan.RipOptions(0);
        EXPECT_EQ(fs::path(rip.WavPath).parent_path(), fs::path(plan.Wav(0)).parent_path());
        EXPECT_EQ(rip.MakeFoldersUnder, c.makesFolders ? "/out" : "") << c.pattern;
        EXPECT_EQ(plan.EncodeRequest(0, plan.Wav(0)).Output, plan.Output(0));
    }
}

// Conversions of chosen files keep their own names: the template is for rips.
TEST(NamingPlan, ConversionsIgnoreTheTemplate) {
    const TJobPlan plan(jobs::jkWavToMp3, {"/music/Take.wav"},
                        Library("/out", TOutputFormat::ofMp3, "%a/%l/%n - %t"));
    EXPECT_EQ(plan.Output(0), "/out/Take.mp3");
}

// A WAV on its way to another format moves aside from a file of the same name in its own
// folder, and keeps that folder.
TEST(NamingPlan, AScratchWavStaysInTheTemplatesFolder) {
    testsupport::ScratchFolder out;
    fs::create_directories(fs::path(out.Path()) / "The Band" / "Live");
    out.WriteText("The Band/Live/01 - Intro.wav", "the user's");
    const TJobPlan plan(jobs::jkExtract, {"01Intro", "01Intro"},
                        Library(out.Path(), TOutputFormat::ofMp3, "%a/%l/%n - %t"));
    EXPECT_EQ(plan.Wav(0), out.File("The Band/Live/01 - Intro (rip 1).wav"));
    EXPECT_EQ(plan.Wav(1), out.File("The Band/Live/01 - Intro (rip 2).wav"));
}

} // namespace

namespace {

// A single-file rip is one item named after the album: the template's folders stay, and a
// file name that would hold a track's number or title becomes "album artist - album".
TEST(NamingPlan, ASingleFileIsNamedAfterTheAlbumAndReadsTheWholeDisc) {
    struct Case {
        const char* pattern;
        const char* albumArtist;
        const char* album;
        TOutputFormat format;
        const char* output; // relative to the output folder
        bool wav;           // the format falls back to WAV
    };
    const Case cases[] = {
        {"%t", "Various", "Live", TOutputFormat::ofWav, "Various - Live.wav", false},
        {"%a/%l/%n - %t", "Various", "Live", TOutputFormat::ofFlac,
         "The Band/Live/Various - Live.flac", false},
        {"%A/%l (%y)", "Various", "Live", TOutputFormat::ofFlac, "Various/Live (2001).flac", false},
        {"%n", "", "Live", TOutputFormat::ofMp3, "Live.wav", true},
        {"%t", "", "", TOutputFormat::ofOpus, "Disc.wav", true},
    };
    for (const Case& c : cases) {
        jobs::TJobSettings s = Library("/out", c.format, c.pattern);
        s.Naming.SingleFile = true;
        s.NameDisc.AlbumArtist = c.albumArtist;
        s.NameDisc.Album = c.album;
        const TJobPlan plan(jobs::jkExtract, {"02Duet", "03x"}, s);
        ASSERT_EQ(plan.ItemCount(), 1) << c.pattern;
        EXPECT_EQ(plan.Output(0), std::string("/out/") + c.output) << c.pattern;
        EXPECT_EQ(plan.SingleFileFallsBackToWav(), c.wav) << c.pattern;
        EXPECT_EQ(plan.RipOptions(0).Span, cd::TRipSpan::WholeDisc);
        const jobs::TEncodeRequest r = plan.EncodeRequest(0, plan.Wav(0));
        EXPECT_EQ(r.TagTrack, 0) << "album-level tags";
        EXPECT_EQ(r.TagArtist, c.albumArtist);
    }
    // Separate files: track 00 is the hidden audio; the others read their tracks.
    const TJobPlan separate(jobs::jkExtract, {"00Hidden track", "01Intro"},
                            Library("/out", TOutputFormat::ofWav, "%n - %t"));
    EXPECT_EQ(separate.Output(0), "/out/00 - Hidden track.wav");
    EXPECT_EQ(separate.RipOptions(0).Span, cd::TRipSpan::HiddenTrack);
    EXPECT_EQ(separate.RipOptions(1).Span, cd::TRipSpan::Track);
}

// Track 00 comes first, only when asked, with track 1, for separate files, and the disc is
// read only then.
TEST(NamingPlan, TheHiddenAudioIsAnItemOnlyWhenAskedForWithTrackOne) {
    struct Case {
        bool asked;
        bool singleFile;
        std::vector<std::string> items;
        bool hides;
        bool added;
        bool discRead;
    };
    const Case cases[] = {
        {true, false, {"02B", "01A"}, true, true, true},
        {true, false, {"01A"}, false, false, true},
        {false, false, {"01A"}, true, false, false},
        {true, true, {"01A"}, true, false, false},
        {true, false, {"02B", "10J"}, true, false, false},
    };
    for (const Case& c : cases) {
        jobs::TJobSettings s;
        s.Naming.HiddenTrack = c.asked;
        s.Naming.SingleFile = c.singleFile;
        bool read = false;
        const std::vector<std::string> items = jobs::WithHiddenTrack(c.items, s, [&] {
            read = true;
            return c.hides;
        });
        std::vector<std::string> expected = c.items;
        if (c.added) {
            expected.insert(expected.begin(), "00Hidden track");
        }
        EXPECT_EQ(items, expected);
        EXPECT_EQ(read, c.discRead);
    }
}

} // namespace
