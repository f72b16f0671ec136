// Secure rips of generated disc images: paranoia reads with read offsets, damaged
// sectors, test and copy, AccurateRip checksums against an independent Python
// implementation, lookups from a loopback server, and the rip log.
#include "cd/AccurateRip.h"
#include "cd/CddbServer.h"
#include "cd/DiscImages.h"
#include "cd/FaultySectors.h"
#include "cd/ParanoiaReader.h"
#include "cd/ReadOffsetFinder.h"
#include "cd/RipHarness.h"
#include "cd/RipSession.h"
#include "cd/ripthread.h"
#include "settings/Global.h"
#include "support/LoopbackServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace cd;
using cdtest::MakeImage;
using cdtest::ReadAll;
using cdtest::ScratchFolder;
using cdtest::UseImages;
using testsupport::Bytes;
using testsupport::Quoted;
using testsupport::RunCommand;
using testsupport::ScopedEnv;

constexpr std::size_t FrameBytes = 2352;
const std::string Helper = VELLORINE_SOURCE_DIR "/tests/cd/accuraterip.py";

struct PythonSums {
    std::vector<std::array<std::uint32_t, 3>> tracks; // v1, v2, crc32
    ArDiscIds ids;
};

// The independent implementation's checksums and disc ids for an image.
PythonSums SumsOf(const std::string& bin, const std::vector<int>& frames) {
    std::string command = "python3 " + Quoted(Helper) + " sums " + Quoted(bin);
    for (int f : frames) {
        command += " " + std::to_string(f);
    }
    const auto result = RunCommand(command);
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    PythonSums sums;
    std::istringstream lines(result.Output);
    for (std::string word; lines >> word;) {
        if (word == "ids") {
            lines >> std::hex >> sums.ids.trackCount >> sums.ids.id1 >> sums.ids.id2 >>
                sums.ids.cddb;
            break;
        }
        std::array<std::uint32_t, 3> t{};
        t[0] = static_cast<std::uint32_t>(std::stoul(word, nullptr, 16));
        lines >> std::hex >> t[1] >> t[2];
        sums.tracks.push_back(t);
    }
    return sums;
}

Bytes DataOf(const Bytes& wav) {
    return wav.size() < 44 ? Bytes{} : Bytes(wav.begin() + 44, wav.end());
}

// The samples a drive reading with this offset correction gives for a track: sample k
// is disc sample first * 588 + k + offset, silence outside the disc.
Bytes Shifted(const Bytes& image, std::size_t firstFrame, std::size_t frames, int offset) {
    Bytes out(frames * FrameBytes, 0);
    const auto total = static_cast<std::int64_t>(image.size() / 4);
    for (std::size_t k = 0; k < frames * 588; ++k) {
        const std::int64_t s = static_cast<std::int64_t>(firstFrame * 588 + k) + offset;
        if (s >= 0 && s < total) {
            std::copy_n(image.begin() + s * 4, 4, out.begin() + static_cast<long>(k * 4));
        }
    }
    return out;
}

std::size_t DifferingFrames(const Bytes& a, const Bytes& b) {
    std::size_t n = 0;
    for (std::size_t at = 0; at < std::min(a.size(), b.size()); at += FrameBytes) {
        n += std::equal(a.begin() + static_cast<long>(at),
                        a.begin() + static_cast<long>(std::min(at + FrameBytes, a.size())),
                        b.begin() + static_cast<long>(at))
                 ? 0U
                 : 1U;
    }
    return n;
}

// The Python loopback server, serving one folder for a bounded number of requests.
class DatabaseServer {
public:
    DatabaseServer(const std::string& folder, int maxRequests)
        : server_("python3 " + platform::QuoteArgument(Helper) + " serve " +
                      platform::QuoteArgument(folder) + " - " + std::to_string(maxRequests),
                  "AccurateRip") {}
    std::string Url() const { return server_.Url(); }

private:
    testsupport::LoopbackServer server_;
};

class SecureRip : public cdtest::ImageRipTest {
protected:
    void UseDisc(const std::vector<int>& frames, const std::string& name = "disc") {
        layout = frames;
        OpenImage(frames, name);
        image = ReadAll(bin);
    }

    std::shared_ptr<RipSession> MakeSession(RipSessionOptions options = {}) {
        options.outputFolder = out.Path();
        if (options.accurateRipServer == RipSessionOptions{}.accurateRipServer) {
            options.accurateRip = false; // no outside hosts: tests name their own server
        }
        return std::make_shared<RipSession>(options);
    }

    // Rips one track (plain without a session) and returns the WAV's audio bytes.
    Bytes Rip(int track, const std::shared_ptr<RipSession>& session) {
        receiver.messages.clear();
        const std::string title = "t" + std::to_string(track) + (session ? "s" : "p");
        cdtest::RunRip(track, title, handle, receiver,
                       [&](TCDRipThread& t) { t.Session = session; });
        return DataOf(ReadAll(out.File(title + ".wav")));
    }

    std::size_t FirstFrameOf(int track) const {
        std::size_t first = 0;
        for (int t = 1; t < track; ++t) {
            first += static_cast<std::size_t>(layout[static_cast<std::size_t>(t - 1)]);
        }
        return first;
    }
    Bytes TrackBytes(int track) const {
        const std::size_t first = FirstFrameOf(track) * FrameBytes;
        const std::size_t size =
            static_cast<std::size_t>(layout[static_cast<std::size_t>(track - 1)]) * FrameBytes;
        return Bytes(image.begin() + static_cast<long>(first),
                     image.begin() + static_cast<long>(first + size));
    }

    std::vector<int> layout;
    Bytes image;
};

TEST_F(SecureRip, EveryTrackHoldsTheDiscsBytesAndTheLogsCrcsMatchPythonsZlib) {
    UseDisc({40, 12, 30});
    auto session = MakeSession();
    std::string wavs;
    for (int track = 1; track <= 3; ++track) {
        EXPECT_EQ(Rip(track, session), TrackBytes(track)) << "track " << track;
        EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusOk);
        wavs += " " + Quoted(out.File("t" + std::to_string(track) + "s.wav"));
    }
    // The oracle reads the WAV files' data chunks itself.
    const auto crcs =
        RunCommand("python3 -c 'import sys, zlib\nfor f in sys.argv[1:]: "
                   "print(\"%08X\" % (zlib.crc32(open(f, \"rb\").read()[44:]) & 0xFFFFFFFF))'" +
                   wavs);
    ASSERT_EQ(crcs.ExitCode, 0) << crcs.Output;
    const std::string log = testsupport::ReadText(session->LogPath());
    std::regex copyCrc("Copy CRC32: +([0-9A-F]{8})");
    std::string logged;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), copyCrc);
         it != std::sregex_iterator(); ++it) {
        logged += (*it)[1].str() + "\n";
    }
    EXPECT_EQ(logged, crcs.Output);

    const PythonSums sums = SumsOf(bin, layout);
    char cddb[16];
    std::snprintf(cddb, sizeof cddb, "%08X", sums.ids.cddb);
    EXPECT_NE(log.find("Vellorine 2.5 rip log"), std::string::npos);
    EXPECT_NE(log.find("Drive:        IMAGE"), std::string::npos);
    EXPECT_NE(log.find("Read offset:  0 samples"), std::string::npos);
    EXPECT_NE(log.find(std::string("CDDB disc id: ") + cddb), std::string::npos);
    EXPECT_NE(log.find("      3  00:00.52  00:00.30            52          81"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Peak level:      100.0 %"), std::string::npos);
    EXPECT_NE(log.find("Uncorrectable:   0"), std::string::npos);
    EXPECT_EQ(log.substr(log.rfind('\n', log.size() - 2) + 1),
              "No errors found; 3 track(s) not confirmed by AccurateRip\n");
    EXPECT_FALSE(std::filesystem::exists(session->LogPath() + ".tmp"));
}

TEST_F(SecureRip, AccurateRipChecksumsAndDiscIdsEqualTheIndependentImplementation) {
    // Several tracks; a single track that is first and last; tracks shorter than the
    // ten frames the two edge rules leave out together.
    const std::vector<std::vector<int>> layouts = {{40, 12, 30}, {25}, {8, 9, 7}};
    for (const auto& frames : layouts) {
        UseDisc(frames, "layout" + std::to_string(frames.size()));
        auto session = MakeSession();
        for (int track = 1; track <= static_cast<int>(frames.size()); ++track) {
            Rip(track, session);
        }
        const PythonSums expected = SumsOf(bin, frames);
        const auto tracks = session->Tracks();
        ASSERT_EQ(tracks.size(), expected.tracks.size());
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            SCOPED_TRACE("layout of " + std::to_string(frames.size()) + ", track " +
                         std::to_string(i + 1));
            ASSERT_TRUE(tracks[i].arV1 && tracks[i].arV2);
            EXPECT_EQ(*tracks[i].arV1, expected.tracks[i][0]);
            EXPECT_EQ(*tracks[i].arV2, expected.tracks[i][1]);
            EXPECT_EQ(tracks[i].crc, expected.tracks[i][2]);
        }
        const ArDiscIds ids = session->DiscIds();
        EXPECT_EQ(ids.trackCount, expected.ids.trackCount);
        EXPECT_EQ(ids.id1, expected.ids.id1);
        EXPECT_EQ(ids.id2, expected.ids.id2);
        EXPECT_EQ(ids.cddb, expected.ids.cddb);
    }
}

TEST_F(SecureRip, TheReadOffsetShiftsTheAudioSampleExactlyWithSilenceBeyondTheDisc) {
    UseDisc({40, 12, 30});
    struct Case {
        int track;
        int offset;
    };
    for (const Case c : {Case{2, 6}, Case{2, -6}, Case{2, 1000}, Case{1, -1000}, Case{3, 700}}) {
        RipSessionOptions options;
        options.readOffset = c.offset;
        const Bytes got = Rip(c.track, MakeSession(options));
        const auto frames = static_cast<std::size_t>(layout[static_cast<std::size_t>(c.track - 1)]);
        EXPECT_EQ(got, Shifted(image, FirstFrameOf(c.track), frames, c.offset))
            << "track " << c.track << " offset " << c.offset;
    }
}

// The fast pass's single reads hand out the reader's own buffer: a sector that straddles
// two reads is kept from the first, and the disc's edges fall back to the sector-wise read.
TEST_F(SecureRip, SingleReadsGiveTheShiftedAudioWhateverTheReadSizes) {
    UseDisc({40, 12, 30});
    std::string error;
    const auto reader = ParanoiaReader::Open(handle, error);
    ASSERT_TRUE(reader) << error;
    reader->SetSingleRead(true);
    struct Case {
        int track;
        int offset;
    };
    const std::vector<std::uint32_t> sizes = {10, 3, 1, 7};
    for (const Case c : {Case{2, 0}, Case{2, 6}, Case{2, -6}, Case{2, 588}, Case{2, -589},
                         Case{1, -1000}, Case{1, 300}, Case{3, 700}, Case{3, -5}}) {
        const auto frames =
            static_cast<std::uint32_t>(layout[static_cast<std::size_t>(c.track - 1)]);
        reader->Begin(static_cast<std::uint32_t>(FirstFrameOf(c.track)), frames, c.offset);
        Bytes got;
        for (std::uint32_t done = 0, i = 0; done < frames; ++i) {
            const std::uint32_t n = std::min(sizes[i % sizes.size()], frames - done);
            const std::uint8_t* data = reader->ReadOnce(n);
            ASSERT_NE(data, nullptr) << "track " << c.track << " offset " << c.offset;
            got.insert(got.end(), data, data + std::size_t{n} * FrameBytes);
            done += n;
        }
        EXPECT_EQ(got, Shifted(image, FirstFrameOf(c.track), frames, c.offset))
            << "track " << c.track << " offset " << c.offset;
    }
}

// Audio before track 1 (its INDEX 00 at the disc's start, a hidden first track): the
// disc checksum sums from track 1's INDEX 01 plus 5880 samples, and the tail it leaves out
// is 5880 + (samples from sector 0) mod 5880, the pregap counted, as the database's
// layout of a disc puts track 1's INDEX 00 at sector 0. Here 115 frames from sector 0.
TEST_F(SecureRip, TheCtdbChecksumOfADiscWithAudioBeforeTrackOneCountsThePregapInTheTail) {
    CloseDisc();
    layout = {40, 12, 30};
    UseImages({MakeImage(images, "hidden", layout, "--pregaps 33")});
    bin = images.File("hidden.bin");
    handle = cdtest::OpenFirstDrive();
    ASSERT_GT(handle, 0);
    const auto expected =
        RunCommand("python3 -c 'import sys, zlib\nb = open(sys.argv[1], \"rb\").read()\n"
                   "n = len(b) // 4\nhead = 33 * 588 + 5880\ntail = 5880 + n % 5880\n"
                   "print(\"%08x\" % (zlib.crc32(b[head * 4:(n - tail) * 4]) & 0xFFFFFFFF))' " +
                   Quoted(bin));
    ASSERT_EQ(expected.ExitCode, 0) << expected.Output;
    RipSessionOptions options;
    options.ctdb = true;
    options.ctdbServer = "http://127.0.0.1:" + std::to_string(cdtest::UnusedPort());
    auto session = MakeSession(options);
    for (int track = 1; track <= 3; ++track) {
        Rip(track, session);
        EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusOk);
    }
    const RipLogCtdb ctdb = session->Ctdb();
    ASSERT_TRUE(ctdb.crc);
    EXPECT_EQ(cdtest::HexId(*ctdb.crc) + "\n", expected.Output);
}

TEST_F(SecureRip, DamagedSectorsPassThePlainReadSilentlyButAreCountedBySecureReads) {
    struct Case {
        const char* kind;
        std::int32_t plainStatus; // the plain read's outcome
        bool plainIntact;
        std::int32_t secureStatus;
        bool secureIntact;
        bool uncorrectable;
    };
    const Case cases[] = {
        {"noise", RipStatusOk, false, RipStatusUncorrectable, false, true},
        {"flaky", RipStatusOk, false, RipStatusOk, true, false},
        {"fail", RipStatusReadFailed, false, RipStatusUncorrectable, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        // Sector 70 lies inside track 2 (frames 60..159 of the disc).
        ScopedEnv damage("VELLORINE_FAULTY_SECTORS", (std::string("70=") + c.kind).c_str());
        UseDisc({60, 100, 30});
        const Bytes truth = TrackBytes(2);

        const Bytes plain = Rip(2, nullptr);
        EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), c.plainStatus);
        EXPECT_EQ(plain == truth, c.plainIntact);

        auto session = MakeSession();
        const Bytes secure = Rip(2, session);
        EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), c.secureStatus);
        EXPECT_EQ(secure == truth, c.secureIntact);
        ASSERT_EQ(session->Tracks().size(), 1u);
        const RipLogTrack record = session->Tracks()[0];
        EXPECT_GT(record.rereadFrames, 0u);
        EXPECT_EQ(record.uncorrectableFrames > 0, c.uncorrectable);
        // Every frame that came out wrong is counted, and only those.
        EXPECT_EQ(record.uncorrectableFrames, DifferingFrames(secure, truth));
        EXPECT_GE(record.rereadFrames, record.uncorrectableFrames);
        EXPECT_EQ(record.status, c.secureStatus);
        const std::string log = testsupport::ReadText(session->LogPath());
        EXPECT_NE(log.find("Uncorrectable:   " + std::to_string(record.uncorrectableFrames)),
                  std::string::npos);
        if (c.uncorrectable) {
            EXPECT_NE(log.find("There were errors: 1 track(s) with frames that could not be "
                               "read reliably"),
                      std::string::npos)
                << log;
        }
    }
}

TEST_F(SecureRip, TestAndCopyReadsTwiceWithOneRisingProgressAndComparesTheCrcs) {
    UseDisc({60, 95, 30});
    RipSessionOptions options;
    options.testAndCopy = true;
    auto session = MakeSession(options);
    EXPECT_EQ(Rip(2, session), TrackBytes(2));
    EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusOk);
    const auto progress = receiver.ProgressRecords();
    ASSERT_EQ(progress.size(), 2u * 10u); // 95 frames: ten reads a pass
    for (std::size_t i = 1; i < progress.size(); ++i) {
        EXPECT_GE(progress[i].Code, progress[i - 1].Code);
    }
    EXPECT_EQ(progress[9].Code, 50);
    EXPECT_EQ(progress.back().Code, 100);
    const RipLogTrack clean = session->Tracks().at(0);
    ASSERT_TRUE(clean.testCrc);
    EXPECT_EQ(*clean.testCrc, clean.crc);
    EXPECT_EQ(clean.rereadFrames, 0u) << "an undamaged disc needs no re-reads";
    EXPECT_NE(testsupport::ReadText(session->LogPath()).find("(matches the test)"),
              std::string::npos);

    // Bytes that differ on every read make the two passes disagree.
    ScopedEnv damage("VELLORINE_FAULTY_SECTORS", "100=noise");
    auto damaged = MakeSession(options);
    Rip(2, damaged);
    EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusUncorrectable);
    const RipLogTrack bad = damaged->Tracks().at(0);
    ASSERT_TRUE(bad.testCrc);
    EXPECT_NE(*bad.testCrc, bad.crc);
    EXPECT_NE(testsupport::ReadText(damaged->LogPath()).find("(DIFFERS from the test)"),
              std::string::npos);
}

TEST_F(SecureRip, AStoppedSecureRipPostsNoCompletionAndLeavesNoLogEntry) {
    UseDisc({60, 200, 30});
    auto session = MakeSession();
    receiver.messages.clear();
    cdtest::RunRip(2, "stopped", handle, receiver, [&](TCDRipThread& t) {
        t.Session = session;
        auto calls = std::make_shared<int>(0);
        t.SetClock([&t, calls] {
            if (++*calls == 5) {
                t.StopFlag = true;
            }
            return std::chrono::system_clock::now();
        });
    });
    EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), -1);
    EXPECT_TRUE(session->Tracks().empty());
    const Bytes wav = ReadAll(out.File("stopped.wav"));
    EXPECT_EQ(cdtest::Le32(wav, 40), 40u * FrameBytes) << "the header holds what was read";
}

TEST_F(SecureRip, TheLookupJudgesEachTrackAgainstTheDatabaseAndNeverFailsTheRip) {
    struct Case {
        const char* scenario; // what the server holds
        ArVerdict verdict;
        const char* logText;
    };
    const Case cases[] = {
        {"match", ArVerdict::Match, "accurately ripped (confidence 8)"},
        {"mismatch", ArVerdict::Mismatch, "AccurateRip:     mismatch"},
        {"missing", ArVerdict::NotInDatabase, "not in database"},
        {"garbage", ArVerdict::NotVerified, "not verified (the database's answer could not"},
        {"dead", ArVerdict::NotVerified, "not verified (no answer from the database"},
    };
    UseDisc({40, 12, 30});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        ScratchFolder served;
        if (c.scenario != std::string("missing") && c.scenario != std::string("dead")) {
            const auto made =
                RunCommand("python3 " + Quoted(Helper) + " database " + Quoted(bin) + " " +
                           Quoted(served.File("answer")) + " " + c.scenario + " 40 12 30");
            ASSERT_EQ(made.ExitCode, 0) << made.Output;
            std::string name = made.Output.substr(0, made.Output.find('\n'));
            std::filesystem::rename(served.File("answer"), served.File(name));
        }
        std::unique_ptr<DatabaseServer> server;
        RipSessionOptions options;
        options.lookupTimeout = std::chrono::seconds(10);
        if (c.scenario == std::string("dead")) {
            options.accurateRipServer = "http://127.0.0.1:" + std::to_string(cdtest::UnusedPort());
        } else {
            server = std::make_unique<DatabaseServer>(served.Path(), 1);
            options.accurateRipServer = server->Url();
        }
        auto session = MakeSession(options);
        for (int track : {1, 3}) {
            Rip(track, session);
            EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusOk);
        }
        ASSERT_TRUE(session->WaitForLookup(std::chrono::seconds(15)));
        for (const RipLogTrack& t : session->Tracks()) {
            EXPECT_EQ(t.ar, c.verdict) << "track " << t.number << ": " << ArVerdictText(t);
        }
        const std::string log = testsupport::ReadText(session->LogPath());
        EXPECT_NE(log.find(c.logText), std::string::npos) << log;
        if (c.verdict == ArVerdict::Match) {
            EXPECT_NE(log.find("All 2 track(s) accurately ripped"), std::string::npos);
        }
    }
}

TEST_F(SecureRip, TheDatabaseLookupTakesTheProxySettingAndOnlyThat) {
    UseDisc({40, 12, 30});
    ScratchFolder served;
    const auto made = RunCommand("python3 " + Quoted(Helper) + " database " + Quoted(bin) + " " +
                                 Quoted(served.File("answer")) + " match 40 12 30");
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    const std::string name = made.Output.substr(0, made.Output.find('\n'));
    std::filesystem::rename(served.File("answer"), served.File(name));
    DatabaseServer server(served.Path(), 2);
    ScratchFolder none;
    cdtest::CddbServer proxy(none.Path(), {"--proxy"});
    // The environment's proxy, which only the setting may decide about.
    const std::string viaEnvironment = "http://127.0.0.1:" + std::to_string(proxy.Port());
    const ScopedEnv httpProxy("http_proxy", viaEnvironment.c_str());
    const ScopedEnv noProxy("no_proxy", "");
    for (const bool useProxy : {true, false}) {
        SCOPED_TRACE(useProxy ? "proxy on" : "proxy off");
        RipSessionOptions options;
        options.accurateRipServer = server.Url();
        options.lookupTimeout = std::chrono::seconds(10);
        options.proxy = {useProxy, "127.0.0.1", proxy.Port()};
        auto session = MakeSession(options);
        Rip(1, session);
        ASSERT_TRUE(session->WaitForLookup(std::chrono::seconds(15)));
        EXPECT_EQ(session->Tracks().at(0).ar, ArVerdict::Match);
        EXPECT_EQ(proxy.Requests().size(), 1u);
    }
    ASSERT_FALSE(proxy.Requests().empty());
    EXPECT_EQ(proxy.Requests()[0], "PROXY " + server.Url() + "/accuraterip/" +
                                       ArDatabasePath(SumsOf(bin, {40, 12, 30}).ids));
}

TEST_F(SecureRip,
       TheWholeDiscIsCheckedAgainstTheCtdbWithTheChecksumOfTheIndependentImplementation) {
    const std::string ctdbHelper = VELLORINE_SOURCE_DIR "/tests/cd/ctdb.py";
    UseDisc({40, 12, 30});
    const auto oracle = RunCommand("python3 " + Quoted(ctdbHelper) + " crc " + Quoted(bin));
    ASSERT_EQ(oracle.ExitCode, 0) << oracle.Output;
    const std::string discCrc = oracle.Output.substr(0, 8);
    std::string upper = discCrc;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    struct Case {
        const char* scenario; // what the server holds
        std::vector<int> tracks;
        CtdbVerdict verdict;
        const char* logText;
    };
    const std::vector<Case> cases = {
        {"match",
         {1, 2, 3},
         CtdbVerdict::Match,
         "CTDB:            accurately ripped (confidence 7 of 10)"},
        {"match", {3, 1, 2}, CtdbVerdict::Match, "accurately ripped (confidence 7 of 10)"},
        {"match", {1, 3}, CtdbVerdict::Incomplete, "not verified (it needs every track"},
        {"mismatch", {1, 2, 3}, CtdbVerdict::Mismatch, "mismatch (confidence 0 of 6)"},
        {"missing", {1, 2, 3}, CtdbVerdict::NotInDatabase, "CTDB:            not in database"},
        {"empty", {1, 2, 3}, CtdbVerdict::NotInDatabase, "CTDB:            not in database"},
        {"garbage", {1, 2, 3}, CtdbVerdict::NotVerified, "not verified (the database's answer"},
        {"dead", {1, 2, 3}, CtdbVerdict::NotVerified, "not verified (no answer from the database"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario + std::string(" with ") + std::to_string(c.tracks.size()) +
                     " tracks");
        ScratchFolder served;
        if (c.scenario != std::string("missing") && c.scenario != std::string("dead")) {
            const auto made =
                RunCommand("python3 " + Quoted(ctdbHelper) + " reply " + Quoted(bin) + " " +
                           Quoted(served.File("lookup2.php")) + " " + c.scenario);
            ASSERT_EQ(made.ExitCode, 0) << made.Output;
        }
        ScratchFolder records;
        cdtest::CddbServer server(records.Path(), {"--files", served.Path()});
        RipSessionOptions options;
        options.ctdb = true;
        options.ctdbServer = c.scenario == std::string("dead")
                                 ? "http://127.0.0.1:" + std::to_string(cdtest::UnusedPort())
                                 : "http://" + server.Address();
        options.lookupTimeout = std::chrono::seconds(10);
        auto session = MakeSession(options);
        for (const int track : c.tracks) {
            Rip(track, session);
            EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusOk);
        }
        ASSERT_TRUE(session->WaitForLookup(std::chrono::seconds(15)));
        const RipLogCtdb ctdb = session->Ctdb();
        EXPECT_EQ(ctdb.verdict, c.verdict) << CtdbVerdictText(ctdb);
        const std::string log = testsupport::ReadText(session->LogPath());
        EXPECT_NE(log.find(c.logText), std::string::npos) << log;
        if (c.tracks.size() == 3) {
            ASSERT_TRUE(ctdb.crc);
            EXPECT_EQ(cdtest::HexId(*ctdb.crc), discCrc);
            EXPECT_NE(log.find("Disc CRC32:      " + upper), std::string::npos) << log;
        } else {
            EXPECT_FALSE(ctdb.crc);
        }
        if (c.scenario != std::string("dead")) {
            EXPECT_EQ(server.Requests(),
                      (std::vector<std::string>{
                          "GET /lookup2.php?version=3&ctdb=1&fuzzy=1&toc=0:40:52:82"}));
        }
    }
}

TEST_F(SecureRip, ASilentServerNeitherHoldsUpTheRipNorLeavesTheLogWaiting) {
    // Accepts connections (the kernel's backlog) and never answers.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);

    UseDisc({40, 12});
    RipSessionOptions options;
    options.accurateRipServer = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    options.lookupTimeout = std::chrono::minutes(5);
    auto session = MakeSession(options);
    EXPECT_EQ(Rip(1, session), TrackBytes(1));
    EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusOk);
    EXPECT_FALSE(session->WaitForLookup(std::chrono::milliseconds(0))) << "still asking";
    EXPECT_EQ(session->Tracks().at(0).ar, ArVerdict::Pending);
    const std::string logPath = session->LogPath();
    session.reset(); // the job ends
    EXPECT_NE(testsupport::ReadText(logPath).find(
                  "not verified (the job ended before the database answered)"),
              std::string::npos);
    ::close(listener);
}

TEST_F(SecureRip, TheDrivesReadOffsetIsFoundFromTheDatabase) {
    struct Case {
        const char* served; // the database the server holds, as the helper names it
        ReadOffsetResult::Kind kind;
        int offset;
    };
    const Case cases[] = {
        {"shifted:667", ReadOffsetResult::Kind::Found, 667},
        {"shifted:-48", ReadOffsetResult::Kind::Found, -48},
        {"shifted:2900", ReadOffsetResult::Kind::Found, 2900},
        {"match", ReadOffsetResult::Kind::Found, 0},
        {"shifted:3000", ReadOffsetResult::Kind::NoMatch, 0}, // beyond the search
        {"mismatch", ReadOffsetResult::Kind::NoMatch, 0},
        {"", ReadOffsetResult::Kind::NotInDatabase, 0},
    };
    UseDisc({40, 12, 30});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.served);
        ScratchFolder served;
        if (*c.served != '\0') {
            const auto made =
                RunCommand("python3 " + Quoted(Helper) + " database " + Quoted(bin) + " " +
                           Quoted(served.File("answer")) + " " + c.served + " 40 12 30");
            ASSERT_EQ(made.ExitCode, 0) << made.Output;
            std::filesystem::rename(served.File("answer"),
                                    served.File(made.Output.substr(0, made.Output.find('\n'))));
        }
        DatabaseServer server(served.Path(), 1);
        const ReadOffsetResult got = FindReadOffset(handle, server.Url());
        EXPECT_EQ(got.kind, c.kind) << got.error;
        EXPECT_EQ(got.offset, c.offset);
        if (c.kind == ReadOffsetResult::Kind::Found) {
            EXPECT_EQ(got.confidence, 5) << "the v1 submissions";
            EXPECT_EQ(got.track, 2) << "a track inside the disc";
        }
    }
    // A search the user gave up on ends without an answer.
    const std::atomic<bool> cancel{true};
    const ReadOffsetResult cancelled =
        FindReadOffset(handle, "http://127.0.0.1:" + std::to_string(cdtest::UnusedPort()),
                       DefaultOffsetSearch, LookupOptions{std::chrono::seconds(10), {}}, &cancel);
    EXPECT_EQ(cancelled.kind, ReadOffsetResult::Kind::Failed);
    EXPECT_EQ(cancelled.error, "cancelled");
}

TEST(SecureRipParts, TheShiftedChecksumEqualsTheChecksumTakenAfresh) {
    std::mt19937 random(11);
    constexpr std::uint32_t Margin = 40;
    constexpr std::uint32_t Samples = 6000; // a first or last track leaves 2940 out
    Bytes pcm(4 * (Samples + 2 * Margin));
    for (auto& b : pcm) {
        b = static_cast<std::uint8_t>(random());
    }
    for (const bool first : {false, true}) {
        for (const bool last : {false, true}) {
            SCOPED_TRACE(std::string(first ? "first " : "") + (last ? "last" : ""));
            // A database entry for each of a few offsets, taken sample by sample.
            const std::vector<int> offsets = {-40, -1, 0, 17, 40};
            ArChunk chunk;
            for (const int offset : offsets) {
                ArChecksum sums(Samples, first, last);
                sums.Add(std::span<const std::uint8_t>(pcm).subspan(
                    4 * static_cast<std::size_t>(static_cast<int>(Margin) + offset), 4 * Samples));
                chunk.tracks = {{1, sums.V1(), 0}};
                const auto matches = MatchArOffsets(pcm, Margin, first, last, {chunk}, 0);
                ASSERT_EQ(matches.size(), 1u) << "offset " << offset;
                EXPECT_EQ(matches[0].offset, offset);
                EXPECT_EQ(matches[0].confidence, 1);
                EXPECT_TRUE(MatchArOffsets(pcm, Margin, first, last, {chunk}, 1).empty())
                    << "another track's entry";
            }
        }
    }
}

TEST(SecureRipParts, DatabaseFilesWithABrokenLayoutAreRefused) {
    const Bytes chunk = {1, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 7, 4, 0, 0, 0, 5, 0, 0, 0};
    const auto parsed = ParseArDatabase(chunk);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->at(0).tracks.at(0).confidence, 7);
    EXPECT_EQ(parsed->at(0).tracks.at(0).crc, 4u);
    Bytes truncated(chunk.begin(), chunk.end() - 1);
    Bytes zeroTracks = chunk;
    zeroTracks[0] = 0;
    Bytes trailing = chunk;
    trailing.push_back(1);
    for (const Bytes& bad : {truncated, zeroTracks, trailing, Bytes{}}) {
        EXPECT_FALSE(ParseArDatabase(bad));
    }
}

TEST(SecureRipParts, TheVectorChecksumLoopEqualsTheWordByWordLoop) {
    std::mt19937 random(7);
    Bytes words(4 * 6000);
    for (auto& b : words) {
        b = static_cast<std::uint8_t>(random());
    }
    std::fill(words.begin(), words.begin() + 64, 0xFF); // products at their largest
    // Lengths around the vector width, bases up to the last sample numbers a CD can have.
    for (const std::uint32_t count : {0U, 1U, 7U, 8U, 9U, 63U, 5880U, 6000U}) {
        for (const std::uint32_t base : {1U, 2941U, 0xFFFFFFFFU - 6000U}) {
            ArSums vector;
            ArSums scalar;
            const std::uint32_t half = count / 2;
            AddArSums(words.data(), base, half, vector);
            AddArSums(words.data() + 4 * half, base + half, count - half, vector);
            AddArSums(words.data(), base, count, scalar, false);
            EXPECT_EQ(vector.v1, scalar.v1) << count << " from " << base;
            EXPECT_EQ(vector.high, scalar.high) << count << " from " << base;
        }
    }
}

TEST(SecureRipParts, DamageSpecificationsNameSectorsRangesAndKinds) {
    const auto ranges = FaultySectors::Parse("5,10-12=noise,,7=flaky,x=fail,3=bogus,9-8");
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0].first, 5);
    EXPECT_EQ(ranges[0].kind, FaultySectors::Kind::Fail);
    EXPECT_EQ(ranges[1].last, 12);
    EXPECT_EQ(ranges[1].kind, FaultySectors::Kind::Noise);
    EXPECT_EQ(ranges[2].kind, FaultySectors::Kind::Flaky);
}

TEST(SecureRipParts, TheSessionComesFromTheSettingsOnlyWhenSecureModeIsOn) {
    settings::Settings.SecureRip = settings::TSecureRip{};
    EXPECT_EQ(SecureSessionFromSettings(), nullptr);
    settings::Settings.SecureRip.Enabled = true;
    settings::Settings.SecureRip.ReadOffset = 48;
    settings::Settings.SecureRip.TestAndCopy = true;
    settings::Settings.SecureRip.AccurateRipServer = "http://127.0.0.1:9";
    settings::Settings.SecureRip.SectorRetries = 7;
    settings::Settings.SecureRip.FastFirst = true;
    const auto session = SecureSessionFromSettings();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->Options().readOffset, 48);
    EXPECT_TRUE(session->Options().testAndCopy);
    EXPECT_EQ(session->Options().accurateRipServer, "http://127.0.0.1:9");
    EXPECT_EQ(session->Options().sectorRetries, 7);
    EXPECT_TRUE(session->Options().fastFirst);
    EXPECT_FALSE(session->Options().proxy.use);
    EXPECT_TRUE(session->Options().ctdb) << "on by default";
    EXPECT_EQ(session->Options().ctdbServer, "http://db.cuetools.net");
    // Every lookup takes the one proxy setting, kept with the CDDB options.
    settings::Settings.QueryCDDB.UseProxy = true;
    settings::Settings.QueryCDDB.ProxyAddress = "proxy.example";
    settings::Settings.QueryCDDB.Port = "3128";
    const auto proxied = SecureSessionFromSettings();
    ASSERT_NE(proxied, nullptr);
    EXPECT_TRUE(proxied->Options().proxy.use);
    EXPECT_EQ(proxied->Options().proxy.host, "proxy.example");
    EXPECT_EQ(proxied->Options().proxy.port, 3128);
    settings::Settings.QueryCDDB = settings::TQueryCDDB{};
    settings::Settings.SecureRip = settings::TSecureRip{};
}

} // namespace
