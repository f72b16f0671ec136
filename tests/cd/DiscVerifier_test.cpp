// Checking ripped files against the checksum databases: files ripped from a generated
// image, database answers made by the independent Python helpers, served on loopback.
#include "cd/DiscToc.h"
#include "cd/DiscVerifier.h"

#include "cd/CddbServer.h"
#include "cd/DiscImages.h"
#include "cd/RipHarness.h"
#include "settings/Global.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

using namespace cd;
using cdtest::MakeImage;
using cdtest::ScratchFolder;
using testsupport::Quoted;
using testsupport::RunCommand;

namespace fs = std::filesystem;

const std::string ArHelper = VELLORINE_SOURCE_DIR "/tests/cd/accuraterip.py";
const std::string CtdbHelper = VELLORINE_SOURCE_DIR "/tests/cd/ctdb.py";
const std::vector<int> Layout = {40, 12, 30};

std::string Name(int track) {
    return "Track 0" + std::to_string(track) + ".wav";
}

class VerifyRippedFiles : public ::testing::Test {
protected:
    void SetUp() override {
        cue = MakeImage(images, "disc", Layout);
        bin = images.File("disc.bin");
        cdtest::UseImages({cue});
        settings::Settings.CommonOptions = settings::TCommonOptions{};
        settings::Settings.CommonOptions.OutputFolder = ripped.Path();
        const int handle = cdtest::OpenFirstDrive();
        ASSERT_GT(handle, 0);
        const auto read = ReadDiscOf(handle);
        ASSERT_TRUE(read);
        disc = *read;
        testsupport::MessageRecorder receiver;
        for (int t = 1; t <= 3; ++t) {
            cdtest::RunRip(t, "Track 0" + std::to_string(t), handle, receiver);
        }
        CloseCDHandle(handle);
        for (int t = 1; t <= 3; ++t) {
            ASSERT_TRUE(fs::exists(ripped.File(Name(t)))) << t;
        }
    }

    // The servers' files for one scenario: AccurateRip "match", "mismatch" or none;
    // CTDB "match", "mismatch", "empty" or none.
    void Serve(const std::string& ar, const std::string& ctdb) {
        if (!ar.empty()) {
            std::string command = "python3 " + Quoted(ArHelper) + " database " + Quoted(bin) + " " +
                                  Quoted(served.File("ar.bin")) + " " + ar;
            for (int f : Layout) {
                command += " " + std::to_string(f);
            }
            const auto made = RunCommand(command);
            ASSERT_EQ(made.ExitCode, 0) << made.Output;
            const std::string name = made.Output.substr(0, made.Output.find('\n'));
            fs::rename(served.File("ar.bin"), served.File(name));
        }
        if (!ctdb.empty()) {
            const auto made = RunCommand("python3 " + Quoted(CtdbHelper) + " reply " + Quoted(bin) +
                                         " " + Quoted(served.File("lookup2.php")) + " " + ctdb);
            ASSERT_EQ(made.ExitCode, 0) << made.Output;
        }
    }

    VerifyReport Verify(const cdtest::CddbServer& server, const RipDisc& layout) {
        VerifyOptions options;
        options.accurateRipServer = "http://" + server.Address();
        options.ctdbServer = "http://" + server.Address() + "/";
        options.lookup.timeout = std::chrono::seconds(10);
        std::atomic<bool> stop{false};
        std::vector<int> percents;
        VerifyReport report = DiscVerifier(layout, ripped.Path(), options).Run(stop, [&](int p) {
            percents.push_back(p);
        });
        EXPECT_FALSE(percents.empty());
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        return report;
    }

    ScratchFolder images;
    ScratchFolder ripped;
    ScratchFolder served;
    ScratchFolder records;
    std::string cue;
    std::string bin;
    RipDisc disc;
};

void Damage(const std::string& path, std::uint64_t at) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(at));
    const char c = static_cast<char>(f.get() ^ 0x40);
    f.seekp(static_cast<std::streamoff>(at));
    f.put(c);
}

// Replaces a ripped WAV by a FLAC file the flac program makes of it.
void ToFlac(const ScratchFolder& d, int track, const std::string& options) {
    const std::string wav = d.File(Name(track));
    const std::string flac = fs::path(wav).replace_extension(".flac").string();
    const auto made =
        RunCommand("flac -s -f " + options + " -o " + Quoted(flac) + " " + Quoted(wav) + " 2>&1");
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    fs::remove(wav);
}

TEST_F(VerifyRippedFiles, EachTrackGetsItsVerdictAndTheDiscItsCtdbVerdict) {
    using S = VerifyStatus;
    struct Case {
        const char* name;
        std::string ar, ctdb;
        std::function<void(const ScratchFolder&)> change; // done to the ripped files
        std::vector<S> tracks;
        CtdbVerdict discVerdict;
        const char* text2; // the second track's text starts so
    };
    const std::vector<Case> cases = {
        {"as ripped",
         "match",
         "match",
         {},
         {S::Verified, S::Verified, S::Verified},
         CtdbVerdict::Match,
         "verified (confidence 8)"},
        {"one damaged file",
         "match",
         "match",
         [](const ScratchFolder& d) { Damage(d.File(Name(2)), 44 + 2352 * 5 + 17); },
         {S::Verified, S::Mismatch, S::Verified},
         CtdbVerdict::Mismatch,
         "mismatch"},
        {"a missing file",
         "match",
         "match",
         [](const ScratchFolder& d) { fs::remove(d.File(Name(3))); },
         {S::Verified, S::Verified, S::MissingFile},
         CtdbVerdict::Incomplete,
         "verified"},
        {"not in either database",
         "",
         "",
         {},
         {S::NotInDatabase, S::NotInDatabase, S::NotInDatabase},
         CtdbVerdict::NotInDatabase,
         "not in database"},
        {"other checksums in both",
         "mismatch",
         "mismatch",
         {},
         {S::Mismatch, S::Mismatch, S::Mismatch},
         CtdbVerdict::Mismatch,
         "mismatch"},
        {"files named without numbers, in another order",
         "match",
         "match",
         [](const ScratchFolder& d) {
             fs::rename(d.File(Name(1)), d.File("zebra.wav"));
             fs::rename(d.File(Name(2)), d.File("apple.wav"));
             fs::rename(d.File(Name(3)), d.File("mango.WAV"));
         },
         {S::Verified, S::Verified, S::Verified},
         CtdbVerdict::Match,
         "verified"},
        {"a file of the wrong length",
         "match",
         "match",
         [](const ScratchFolder& d) {
             fs::resize_file(d.File(Name(2)), fs::file_size(d.File(Name(2))) - 2352);
         },
         {S::Verified, S::WrongLength, S::Verified},
         CtdbVerdict::Incomplete,
         "wrong length (6468 samples, the track has 7056)"},
        {"a file that is no CD audio",
         "match",
         "match",
         [](const ScratchFolder& d) { d.WriteText(Name(1), "not a wav file"); },
         {S::Unreadable, S::Verified, S::Verified},
         CtdbVerdict::Incomplete,
         "verified"},
        // FLAC files (made by the flac program) count as the WAVs they were made from.
        {"FLAC files instead of WAVs",
         "match",
         "match",
         [](const ScratchFolder& d) {
             for (int t = 1; t <= 3; ++t) {
                 ToFlac(d, t, "");
             }
         },
         {S::Verified, S::Verified, S::Verified},
         CtdbVerdict::Match,
         "verified (confidence 8)"},
        {"a FLAC file of damaged audio, one of another rate, one that is no FLAC",
         "match",
         "match",
         [](const ScratchFolder& d) {
             Damage(d.File(Name(2)), 44 + 2352 * 5 + 17);
             ToFlac(d, 2, "");
             ToFlac(d, 1,
                    "--sample-rate=48000 --force-raw-format --endian=little --sign=signed "
                    "--channels=2 --bps=16 --skip=11");
             fs::remove(d.File(Name(3)));
             d.WriteText("Track 03.flac", "not a flac file");
         },
         {S::Unreadable, S::Mismatch, S::Unreadable},
         CtdbVerdict::Incomplete,
         "mismatch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scenario;
        for (const auto& entry : fs::directory_iterator(ripped.Path())) {
            fs::copy(entry.path(), scenario.File(entry.path().filename().string()));
        }
        fs::remove_all(served.Path());
        fs::create_directories(served.Path());
        Serve(c.ar, c.ctdb);
        if (c.change) {
            c.change(ripped);
        }
        cdtest::CddbServer server(records.Path(), {"--files", served.Path()});
        const VerifyReport report = Verify(server, disc);
        ASSERT_EQ(report.tracks.size(), 3u);
        for (std::size_t t = 0; t < 3; ++t) {
            EXPECT_EQ(report.tracks[t].number, static_cast<int>(t) + 1);
            EXPECT_EQ(report.tracks[t].status, c.tracks[t])
                << "track " << t + 1 << ": " << VerifyStatusText(report.tracks[t]);
        }
        EXPECT_EQ(VerifyStatusText(report.tracks[1]).rfind(c.text2, 0), 0u)
            << VerifyStatusText(report.tracks[1]);
        EXPECT_EQ(report.ctdb.verdict, c.discVerdict) << CtdbVerdictText(report.ctdb);
        EXPECT_FALSE(report.stopped);
        // Back to the files as ripped for the next scenario.
        fs::remove_all(ripped.Path());
        fs::create_directories(ripped.Path());
        for (const auto& entry : fs::directory_iterator(scenario.Path())) {
            fs::copy(entry.path(), ripped.File(entry.path().filename().string()));
        }
    }
}

TEST_F(VerifyRippedFiles, TheLayoutOfACueSheetOrARipLogIsTheDrivesOwn) {
    std::string error;
    const auto fromCue = ReadCueSheetDisc(cue, error);
    ASSERT_TRUE(fromCue) << error;
    RipLogData log;
    log.program = "Vellorine";
    log.drive = disc.drive;
    log.toc = disc.toc;
    log.leadOut = disc.leadOut;
    log.cddbId = disc.cddbId;
    const auto fromLog = ReadRipLogDisc(FormatRipLog(log));
    ASSERT_TRUE(fromLog);
    for (const RipDisc* d : {&*fromCue, &*fromLog}) {
        ASSERT_EQ(d->toc.size(), disc.toc.size());
        for (std::size_t i = 0; i < disc.toc.size(); ++i) {
            EXPECT_EQ(d->toc[i].number, disc.toc[i].number);
            EXPECT_EQ(d->toc[i].start, disc.toc[i].start);
            EXPECT_EQ(d->toc[i].frames, disc.toc[i].frames);
            EXPECT_EQ(d->toc[i].data, disc.toc[i].data);
        }
        EXPECT_EQ(d->leadOut, disc.leadOut);
        EXPECT_EQ(d->cddbId, disc.cddbId);
    }
    EXPECT_EQ(disc.cddbId, cdtest::PublishedDiscId(Layout));
    // The check runs the same from either.
    Serve("match", "match");
    cdtest::CddbServer server(records.Path(), {"--files", served.Path()});
    for (const RipDisc* d : {&*fromCue, &*fromLog}) {
        const VerifyReport report = Verify(server, *d);
        ASSERT_EQ(report.tracks.size(), 3u);
        EXPECT_EQ(report.tracks[2].status, VerifyStatus::Verified);
        EXPECT_EQ(report.ctdb.verdict, CtdbVerdict::Match);
    }
}

TEST_F(VerifyRippedFiles, AStoppedCheckEndsWithoutVerdicts) {
    cdtest::CddbServer server(records.Path(), {"--files", served.Path(), "--delay", "5"});
    VerifyOptions options;
    options.accurateRipServer = "http://" + server.Address();
    options.ctdbServer = options.accurateRipServer;
    std::atomic<bool> stop{true};
    const auto started = std::chrono::steady_clock::now();
    const VerifyReport report = DiscVerifier(disc, ripped.Path(), options).Run(stop);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_TRUE(report.stopped);
    for (const VerifyTrack& t : report.tracks) {
        EXPECT_EQ(t.status, VerifyStatus::NotVerified) << VerifyStatusText(t);
    }
    EXPECT_NE(report.ctdb.verdict, CtdbVerdict::Match);
}

TEST(VerifyParts, FilesGoToTracksByNumberElseByOrderAndExactLength) {
    const std::vector<int> numbers = {1, 2, 3, 4};
    const std::vector<std::uint64_t> lengths = {100, 200, 300, 200};
    struct Case {
        const char* name;
        std::vector<TrackFileCandidate> files;
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {"numbered",
         {{"01 a.wav", 100}, {"02 b.wav", 200}, {"03 c.wav", 300}, {"04 d.wav", 200}},
         {0, 1, 2, 3}},
        {"numbers decide over lengths",
         {{"Track 4.wav", 5}, {"Track 3.wav", 300}, {"Track 1.wav", 7}},
         {2, -1, 1, 0}},
        {"unnumbered by length in name order",
         {{"x.wav", 200}, {"b.wav", 300}, {"a.wav", 100}, {"c.wav", 200}},
         {2, 0, 1, 3}},
        {"a length no track has", {{"a.wav", 201}, {"b.wav", 100}}, {1, -1, -1, -1}},
        {"two files claim one number",
         {{"2 a.wav", 200}, {"2 b.wav", 200}, {"1.wav", 100}},
         {2, 0, -1, 1}},
        {"a year is no track number", {{"1999 a.wav", 300}}, {-1, -1, 0, -1}},
        {"an unusable file is only taken by number",
         {{"a.wav", std::nullopt}, {"3.wav", std::nullopt}},
         {-1, -1, 1, -1}},
        {"no files", {}, {-1, -1, -1, -1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchFilesToTracks(c.files, numbers, lengths), c.expected) << c.name;
    }
}

TEST(VerifyParts, RipLogsAndCueSheetsThatDoNotDescribeADiscAreRefused) {
    EXPECT_FALSE(ReadRipLogDisc(""));
    EXPECT_FALSE(ReadRipLogDisc("Table of contents\n  1  00:00.00  00:01.00  0  74\n"))
        << "no lead-out";
    EXPECT_FALSE(ReadRipLogDisc("Table of contents\n  1  x  y  z  w\nLead-out at sector 75\n"));
    const auto short1 = ReadRipLogDisc("CDDB disc id: 0200CA02\nTable of contents\n"
                                       "  1  00:00.00  00:01.00  0  74\n"
                                       "  2  00:01.00  00:01.00  75  149  (data)\n"
                                       "  Lead-out at sector 150\n");
    ASSERT_TRUE(short1);
    EXPECT_EQ(short1->cddbId, 0x0200CA02u);
    ASSERT_EQ(short1->toc.size(), 2u);
    EXPECT_TRUE(short1->toc[1].data);
    EXPECT_EQ(short1->toc[1].frames, 75u);
    EXPECT_EQ(short1->leadOut, 150u);

    ScratchFolder dir;
    struct Case {
        const char* name;
        std::string sheet;
        const char* error; // nothing: accepted
    };
    dir.Write("a.bin", testsupport::Bytes(2352 * 100));
    const std::vector<Case> cases = {
        {"no track", "FILE \"a.bin\" BINARY\n", "names no track"},
        {"missing file", "FILE \"b.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "file b.bin cannot be read"},
        {"bad time", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:99:00\n",
         "not a time"},
        {"good",
         "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    INDEX 00 00:00:30\n    INDEX 01 00:00:40\n",
         nullptr},
    };
    for (const Case& c : cases) {
        const std::string path = dir.WriteText("s.cue", c.sheet);
        std::string error;
        const auto d = ReadCueSheetDisc(path, error);
        EXPECT_EQ(d.has_value(), c.error == nullptr) << c.name;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        } else if (d) {
            ASSERT_EQ(d->toc.size(), 2u);
            EXPECT_EQ(d->toc[1].start, 40u) << "the track starts at its index 1";
            EXPECT_EQ(d->toc[0].frames, 40u);
            EXPECT_EQ(d->leadOut, 100u);
        }
    }
}

TEST(VerifyParts, AudioTracksEndBeforeTheGapToADataTrackThatFollowsThem) {
    struct Case {
        const char* name;
        RipDisc disc;
        std::vector<std::uint32_t> frames; // per track in the TOC; 0 for data tracks
        std::vector<int> audioIndex;
        std::uint32_t wholeDisc = 0; // what a single-file rip reads
        std::uint32_t hidden = 0;
    };
    const auto toc = [](std::vector<std::pair<std::uint32_t, bool>> tracks, std::uint32_t end) {
        RipDisc d;
        for (const auto& [start, data] : tracks) {
            d.toc.push_back({static_cast<int>(d.toc.size()) + 1, start, 0, data});
        }
        d.leadOut = end;
        return d;
    };
    const std::vector<Case> cases = {
        {"audio only",
         toc({{0, false}, {40, false}, {52, false}}, 82),
         {40, 12, 30},
         {0, 1, 2},
         82},
        {"data last",
         toc({{0, false}, {15047, false}, {30797, true}}, 332850),
         {15047, 30797 - 11400 - 15047, 0},
         {0, 1, -1},
         30797 - 11400},
        {"data first",
         toc({{0, true}, {4500, false}, {21000, false}}, 40000),
         {0, 16500, 19000},
         {-1, 0, 1},
         40000 - 4500},
        {"audio before track 1", toc({{33, false}, {73, false}}, 100), {40, 27}, {0, 1}, 100, 33},
    };
    for (const Case& c : cases) {
        for (std::size_t i = 0; i < c.disc.toc.size(); ++i) {
            const int number = static_cast<int>(i) + 1;
            EXPECT_EQ(AudioFramesOf(c.disc, number), c.frames[i]) << c.name << " " << number;
            EXPECT_EQ(AudioIndexIn(c.disc, number), c.audioIndex[i]) << c.name << " " << number;
        }
        const auto audio = std::count_if(c.audioIndex.begin(), c.audioIndex.end(),
                                         [](int index) { return index >= 0; });
        EXPECT_EQ(AudioTracksOf(c.disc).size(), static_cast<std::size_t>(audio)) << c.name;
        EXPECT_EQ(WholeDiscFramesOf(c.disc), c.wholeDisc) << c.name;
        EXPECT_EQ(HiddenFramesOf(c.disc), c.hidden) << c.name;
    }
}

TEST(VerifyParts, ACueSheetWithADataTrackGivesTheDrivesLayout) {
    ScratchFolder dir;
    const std::string cue = MakeImage(dir, "extra", {300, 200, 400}, "--data-track-last");
    cdtest::UseImages({cue});
    const int handle = cdtest::OpenFirstDrive();
    ASSERT_GT(handle, 0);
    const auto fromDrive = ReadDiscOf(handle);
    CloseCDHandle(handle);
    ASSERT_TRUE(fromDrive);
    std::string error;
    const auto fromCue = ReadCueSheetDisc(cue, error);
    ASSERT_TRUE(fromCue) << error;
    ASSERT_EQ(fromCue->toc.size(), 3u);
    ASSERT_EQ(fromDrive->toc.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fromCue->toc[i].start, fromDrive->toc[i].start) << i;
        EXPECT_EQ(fromCue->toc[i].data, fromDrive->toc[i].data) << i;
    }
    EXPECT_TRUE(fromCue->toc[2].data);
    EXPECT_EQ(fromCue->leadOut, fromDrive->leadOut);
    EXPECT_EQ(fromCue->cddbId, fromDrive->cddbId);
    EXPECT_EQ(ArDiscIdsOf(*fromCue).trackCount, 2);
}

} // namespace
