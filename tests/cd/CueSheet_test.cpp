#include "cd/CueSheet.h"

#include <gtest/gtest.h>

#include "cd/DiscImages.h"

namespace {

using cd::TCueDisc;
using cd::TCueTrack;

TCueTrack Track(int number, std::uint32_t start, std::optional<std::uint32_t> pregap,
                std::string file) {
    TCueTrack t;
    t.Number = number;
    t.Start = start;
    t.Pregap = pregap;
    t.File = std::move(file);
    return t;
}

struct CueCase {
    const char* what;
    TCueDisc disc;
    std::string cue;
};

class SeparateFilesCueTest : public ::testing::TestWithParam<CueCase> {};

TEST_P(SeparateFilesCueTest, PutsEachPregapWhereTheFilesHoldIt) {
    const CueCase& c = GetParam();
    EXPECT_EQ(cd::SeparateFilesCue(c.disc), c.cue) << c.what;
}

TCueDisc Disc(std::vector<TCueTrack> tracks) {
    TCueDisc d;
    d.Tracks = std::move(tracks);
    return d;
}

TCueDisc Named() {
    TCueDisc d = Disc({Track(1, 0, std::nullopt, "01.wav")});
    d.Catalog = "1234567890123";
    d.Title = "Say \"Hi\"";
    d.Performer = "Band";
    d.Tracks[0].Title = "One";
    d.Tracks[0].Performer = "Guest";
    d.Tracks[0].Isrc = "USABC1234567";
    d.Tracks[0].FileType = "MP3";
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, SeparateFilesCueTest,
    ::testing::Values(
        CueCase{"no gaps",
                Disc({Track(1, 0, std::nullopt, "01.wav"), Track(2, 150, std::nullopt, "02.wav")}),
                "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                "FILE \"02.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"},
        // Track 2's pregap starts 4 535 frames (1:00:35) into track 1's file.
        CueCase{"a pregap at the end of the previous file",
                Disc({Track(1, 100, std::nullopt, "01.wav"), Track(2, 4785, 4635, "02.wav")}),
                "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                "  TRACK 02 AUDIO\n    INDEX 00 01:00:35\n"
                "FILE \"02.wav\" WAVE\n    INDEX 01 00:00:00\n"},
        CueCase{"a pregap whose previous track was not ripped is silence",
                Disc({Track(1, 0, std::nullopt, ""), Track(2, 4785, 4635, "02.wav")}),
                "FILE \"02.wav\" WAVE\n  TRACK 02 AUDIO\n    PREGAP 00:02:00\n"
                "    INDEX 01 00:00:00\n"},
        CueCase{"audio before track 1 is silence in separate files",
                Disc({Track(1, 75, 0, "01.wav")}),
                "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    PREGAP 00:01:00\n"
                "    INDEX 01 00:00:00\n"},
        CueCase{"a gap after a data track is not in the previous audio file",
                Disc({Track(1, 0, std::nullopt, "01.wav"), Track(3, 900, 750, "03.wav")}),
                "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                "FILE \"03.wav\" WAVE\n  TRACK 03 AUDIO\n    PREGAP 00:02:00\n"
                "    INDEX 01 00:00:00\n"},
        CueCase{"catalogue, names and ISRC; quotes cannot be in a cue string", Named(),
                "CATALOG 1234567890123\nPERFORMER \"Band\"\nTITLE \"Say 'Hi'\"\n"
                "FILE \"01.wav\" MP3\n  TRACK 01 AUDIO\n    TITLE \"One\"\n"
                "    PERFORMER \"Guest\"\n    ISRC USABC1234567\n    INDEX 01 00:00:00\n"}),
    [](const auto& param) { return "case" + std::to_string(param.index); });

TEST(CueSheet, TimesAreMinutesSecondsAndFrames) {
    EXPECT_EQ(cd::CueMsf(0), "00:00:00");
    EXPECT_EQ(cd::CueMsf(74), "00:00:74");
    EXPECT_EQ(cd::CueMsf(75), "00:01:00");
    EXPECT_EQ(cd::CueMsf(60 * 75 + 2 * 75 + 3), "01:02:03");
    EXPECT_EQ(cd::CueMsf(100 * 60 * 75), "100:00:00");
}

// libcdio's view of an image: pregaps, the catalogue number and ISRCs as its cue sheet has them.
TEST(CueSheet, TheDiscsLayoutComesFromTheDrive) {
    cdtest::ScratchFolder scratch;
    const std::string cue =
        cdtest::MakeImage(scratch, "gaps", {150, 300, 225},
                          "--pregaps 0 30 45 --catalog 1234567890123 --isrcs USABC1234567 - "
                          "GBXYZ7654321");
    cdtest::UseImages({cue});
    const int handle = cdtest::OpenFirstDrive();
    ASSERT_GT(handle, 0);
    const std::optional<TCueDisc> disc = cd::ReadCueDisc(handle);
    cd::CloseCDHandle(handle);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Catalog, "1234567890123");
    ASSERT_EQ(disc->Tracks.size(), 3U);
    const std::uint32_t starts[] = {0, 180, 525};
    const std::optional<std::uint32_t> pregaps[] = {std::nullopt, 150, 480};
    const char* isrcs[] = {"USABC1234567", "", "GBXYZ7654321"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(disc->Tracks[i].Number, static_cast<int>(i) + 1);
        EXPECT_EQ(disc->Tracks[i].Start, starts[i]) << i;
        EXPECT_EQ(disc->Tracks[i].Pregap, pregaps[i]) << i;
        EXPECT_EQ(disc->Tracks[i].Isrc, isrcs[i]) << i;
    }
    EXPECT_EQ(disc->LeadOut, 750U);
}

} // namespace
