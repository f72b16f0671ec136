#include "cd/CueSheet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <new>

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

TCueDisc WithHidden(TCueDisc d, std::string file) {
    d.HiddenFile = std::move(file);
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
        CueCase{"the hidden audio's file holds track 1's INDEX 00",
                WithHidden(Disc({Track(1, 75, 0, "01.wav"), Track(2, 200, std::nullopt, "02.wav")}),
                           "00.wav"),
                "FILE \"00.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
                "FILE \"01.wav\" WAVE\n    INDEX 01 00:00:00\n"
                "FILE \"02.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"},
        CueCase{"the hidden audio's file is left out without track 1's",
                WithHidden(Disc({Track(1, 75, 0, ""), Track(2, 200, std::nullopt, "02.wav")}),
                           "00.wav"),
                "FILE \"02.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"},
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

// One file from sector fileStart on: every index at its place on the disc, relative to the
// file; a pregap before the file's start is silence.
TEST(CueSheet, ASingleFileHoldsEveryIndexAtItsPlace) {
    struct Case {
        const char* what;
        TCueDisc disc;
        std::uint32_t fileStart;
        std::string tracks; // the lines after FILE
    };
    const Case cases[] = {
        {"audio before track 1 and a pregap", Disc({Track(1, 30, 0, ""), Track(2, 220, 180, "")}),
         0,
         "  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:00:30\n"
         "  TRACK 02 AUDIO\n    INDEX 00 00:02:30\n    INDEX 01 00:02:70\n"},
        {"no gaps", Disc({Track(1, 0, std::nullopt, ""), Track(2, 4500, std::nullopt, "")}), 0,
         "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 01:00:00\n"},
        {"after a data track: the first audio track's pregap is before the file",
         Disc({Track(2, 900, 750, ""), Track(3, 1200, 1150, "")}), 900,
         "  TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n"
         "  TRACK 03 AUDIO\n    INDEX 00 00:03:25\n    INDEX 01 00:04:00\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cd::SingleFileCue(c.disc, "Disc.flac", "WAVE", c.fileStart),
                  "FILE \"Disc.flac\" WAVE\n" + c.tracks)
            << c.what;
    }
    // The disc's lines come first, as in a sheet of separate files.
    EXPECT_EQ(cd::SingleFileCue(Named(), "a.wav", "WAVE", 0),
              "CATALOG 1234567890123\nPERFORMER \"Band\"\nTITLE \"Say 'Hi'\"\n"
              "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n"
              "    PERFORMER \"Guest\"\n    ISRC USABC1234567\n    INDEX 01 00:00:00\n");
}

// A sheet of one WAVE file opens as a disc image; other sheets say why they cannot.
TEST(CueSheet, OnlyASheetOfOneWaveFileOfCdAudioIsADiscImage) {
    cdtest::ScratchFolder scratch;
    const std::string bin = cdtest::MakeImage(scratch, "src", {150, 75}, "--pregaps 20 10");
    const std::vector<std::uint8_t> audio = cdtest::ReadAll(scratch.File("src.bin"));
    auto wav = [&](const std::string& name, std::uint16_t channels) {
        std::vector<std::uint8_t> header(44);
        const auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
            for (int k = 0; k < bytes; ++k) {
                header[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
            }
        };
        std::memcpy(header.data(), "RIFF\0\0\0\0WAVEfmt ", 16);
        put(16, 16, 4);
        put(20, 1, 2);
        put(22, channels, 2);
        put(24, 44100, 4);
        put(28, 44100U * 2 * channels, 4);
        put(32, 2U * channels, 2);
        put(34, 16, 2);
        std::memcpy(header.data() + 36, "data", 4);
        put(40, static_cast<std::uint32_t>(audio.size()), 4);
        header.insert(header.end(), audio.begin(), audio.end());
        std::ofstream(scratch.File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(header.data()),
                   static_cast<std::streamsize>(header.size()));
    };
    wav("disc.wav", 2);
    wav("mono.wav", 1);
    const std::string tracks = "  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:00:20\n"
                               "  TRACK 02 AUDIO\n    INDEX 00 00:02:20\n    INDEX 01 00:02:30\n";
    struct Case {
        const char* files;
        const char* problem; // "" when the sheet opens
    };
    const Case cases[] = {
        {"FILE \"disc.wav\" WAVE\n", ""},
        {"FILE \"mono.wav\" WAVE\n", "\"mono.wav\" is not 16-bit stereo 44 100 Hz PCM"},
        {"FILE \"disc.flac\" FLAC\n", "FLAC file \"disc.flac\" cannot be read as a disc"},
        {"FILE \"disc.wav\" WAVE\nFILE \"disc.wav\" WAVE\n", "one data file, and it names 2"},
        {"FILE \"src.bin\" WAVE\n", "\"src.bin\" is not a WAV file"},
    };
    for (const Case& c : cases) {
        const std::string cue = scratch.File("sheet.cue");
        std::ofstream(cue) << c.files << tracks;
        std::ofstream(scratch.File("disc.flac")) << "fLaC";
        cdtest::UseImages({cue});
        const int handle = cdtest::OpenFirstDrive();
        EXPECT_EQ(handle > 0, std::string(c.problem).empty()) << c.files;
        EXPECT_NE(cd::LastOpenProblem().find(c.problem), std::string::npos)
            << c.files << cd::LastOpenProblem();
        if (handle <= 0) {
            continue;
        }
        // The twin reads as the source image does, from its first sector to the lead-out.
        const std::optional<TCueDisc> disc = cd::ReadCueDisc(handle);
        ASSERT_TRUE(disc);
        EXPECT_EQ(disc->Tracks[0].Start, 20U);
        EXPECT_EQ(disc->Tracks[1].Pregap, 170U);
        EXPECT_EQ(disc->LeadOut, 255U);
        std::vector<std::uint8_t> storage(cd::TrackBufHeaderSize + 255 * 2352);
        auto* buffer = new (storage.data()) cd::TTrackBuf{};
        buffer->startFrame = -20;
        buffer->numFrames = 255;
        buffer->maxLen = 255 * 2352;
        ASSERT_EQ(cd::ReadCDAudioLBA(handle, *buffer), 1);
        EXPECT_TRUE(
            std::equal(audio.begin(), audio.end(), storage.begin() + cd::TrackBufHeaderSize));
        cd::CloseCDHandle(handle);
    }
    (void)bin;
}

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
