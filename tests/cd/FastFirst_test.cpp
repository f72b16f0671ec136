// Fast first: each track read once and kept when a database verifies it, the others
// ripped again securely into the same file, with both passes in the rip log. Generated
// disc images, loopback AccurateRip and CTDB servers serving replies written here.
#include "cd/CddbServer.h"
#include "cd/DiscImages.h"
#include "cd/RipHarness.h"
#include "cd/RipLog.h"
#include "cd/RipSession.h"
#include "cd/ripthread.h"
#include "settings/Global.h"
#include "support/LoopbackServer.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using namespace cd;
using testsupport::Bytes;
using testsupport::Quoted;
using testsupport::RunCommand;
using testsupport::ScopedEnv;
using testsupport::ScratchFolder;

const std::string ArHelper = VELLORINE_SOURCE_DIR "/tests/cd/accuraterip.py";
const std::string CtdbHelper = VELLORINE_SOURCE_DIR "/tests/cd/ctdb.py";
const std::vector<int> Layout = {40, 12, 30}; // sectors 0-39, 40-51, 52-81

std::string FrameArgs() {
    std::string args;
    for (const int f : Layout) {
        args += " " + std::to_string(f);
    }
    return args;
}

// The AccurateRip loopback server with the database file the helper writes for the image
// ("match", "mismatch"); an empty kind serves nothing (the disc is not in the database).
class ArServer {
public:
    ArServer(const std::string& bin, const std::string& kind)
        : server_(Command(bin, kind, dir_), "AccurateRip") {}
    std::string Url() const { return server_.Url(); }

private:
    static std::string Command(const std::string& bin, const std::string& kind,
                               const ScratchFolder& dir) {
        if (!kind.empty()) {
            const auto made =
                RunCommand("python3 " + Quoted(ArHelper) + " database " + Quoted(bin) + " " +
                           Quoted(dir.File("answer")) + " " + kind + FrameArgs());
            EXPECT_EQ(made.ExitCode, 0) << made.Output;
            std::filesystem::rename(dir.File("answer"),
                                    dir.File(made.Output.substr(0, made.Output.find('\n'))));
        }
        return "python3 " + platform::QuoteArgument(ArHelper) + " serve " +
               platform::QuoteArgument(dir.Path()) + " - 1";
    }

    ScratchFolder dir_; // before the server, which serves it
    testsupport::LoopbackServer server_;
};

class FastFirst : public cdtest::ImageRipTest {
protected:
    void OpenDisc() { OpenImage(Layout); }

    std::shared_ptr<RipSession> Session(RipSessionOptions options, bool fastFirst) {
        options.outputFolder = out.Path();
        options.fastFirst = fastFirst;
        if (options.lookupTimeout == RipSessionOptions{}.lookupTimeout) {
            options.lookupTimeout = std::chrono::seconds(10);
        }
        return std::make_shared<RipSession>(options);
    }

    // One track into <title>.wav; its audio bytes.
    Bytes Rip(int track, const std::string& title, const std::shared_ptr<RipSession>& session) {
        receiver.messages.clear();
        cdtest::RunRip(track, title, handle, receiver,
                       [&](TCDRipThread& t) { t.Session = session; });
        const Bytes wav = testsupport::ReadAll(out.File(title + ".wav"));
        return wav.size() < 44 ? Bytes{} : Bytes(wav.begin() + 44, wav.end());
    }
};

std::size_t ReadsOf(int frames) {
    return static_cast<std::size_t>((frames + 9) / 10); // ten frames a read
}

TEST_F(FastFirst, VerifiedTracksAreReadOnceAndTheOthersAreRippedAgainAsASecureRipWouldBe) {
    using P = FastPass;
    struct Case {
        const char* name;
        const char* damage; // sectors that misbehave
        const char* served; // the AccurateRip database, "" for none
        std::vector<FastPass> passes;
        std::vector<std::int32_t> statuses;
        std::vector<const char*> logTexts;
    };
    const std::vector<Case> cases = {
        {"a disc in the database",
         "",
         "match",
         {P::Verified, P::Verified, P::Verified},
         {RipStatusOk, RipStatusOk, RipStatusOk},
         {"Fast pass:       verified by AccurateRip (confidence 8); kept as read",
          "Fast first: 3 track(s) verified in the fast pass; 0 re-ripped in secure mode\n",
          "All 3 track(s) accurately ripped"}},
        {"a sector wrong on its first read",
         "60=flaky",
         "match",
         {P::Verified, P::Verified, P::Reripped},
         {RipStatusOk, RipStatusOk, RipStatusOk},
         {"AccurateRip: mismatch; re-ripped in secure mode",
          "Fast first: 2 track(s) verified in the fast pass; 1 re-ripped in secure mode (03)\n",
          "All 3 track(s) accurately ripped"}},
        {"an unreadable sector",
         "45=fail",
         "match",
         {P::Verified, P::Reripped, P::Verified},
         {RipStatusOk, RipStatusUncorrectable, RipStatusOk},
         {"Fast pass:       the read failed; re-ripped in secure mode",
          "1 re-ripped in secure mode (02)\n", "Uncorrectable:   1\n"}},
        {"a disc the database does not know",
         "",
         "",
         {P::Reripped, P::Reripped, P::Reripped},
         {RipStatusOk, RipStatusOk, RipStatusOk},
         {"AccurateRip: not in database; re-ripped in secure mode",
          "0 track(s) verified in the fast pass; 3 re-ripped in secure mode (01, 02, 03)"}},
        {"a database that disagrees",
         "",
         "mismatch",
         {P::Reripped, P::Reripped, P::Reripped},
         {RipStatusOk, RipStatusOk, RipStatusOk},
         {"AccurateRip: mismatch; re-ripped"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv damage("VELLORINE_FAULTY_SECTORS", c.damage);
        OpenDisc();
        ArServer server(bin, c.served);
        RipSessionOptions options;
        options.accurateRipServer = server.Url();
        auto fast = Session(options, true);
        std::vector<Bytes> got;
        for (int track = 1; track <= 3; ++track) {
            const auto t = static_cast<std::size_t>(track - 1);
            got.push_back(Rip(track, "fast" + std::to_string(track), fast));
            EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), c.statuses[t]);
            const auto progress = receiver.ProgressRecords();
            ASSERT_FALSE(progress.empty());
            EXPECT_EQ(progress.back().Code, 100);
            if (c.passes[t] == P::Verified) {
                EXPECT_EQ(progress.size(), ReadsOf(Layout[t])) << "one pass of track " << track;
            }
        }
        const auto records = fast->Tracks();
        ASSERT_EQ(records.size(), 3u);
        for (std::size_t t = 0; t < 3; ++t) {
            EXPECT_EQ(records[t].fastPass, c.passes[t]) << "track " << t + 1;
            EXPECT_EQ(records[t].status, c.statuses[t]) << "track " << t + 1;
        }
        const std::string log = testsupport::ReadText(fast->LogPath());
        EXPECT_NE(log.find("fast first (tracks the databases verify are read once)"),
                  std::string::npos);
        for (const char* text : c.logTexts) {
            EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
        }

        // The same tracks ripped in secure mode alone: the files hold the same bytes.
        RipSessionOptions plain;
        plain.accurateRip = false;
        auto secure = Session(plain, false);
        for (int track = 1; track <= 3; ++track) {
            EXPECT_EQ(Rip(track, "secure" + std::to_string(track), secure),
                      got[static_cast<std::size_t>(track - 1)])
                << "track " << track;
        }
        EXPECT_EQ(testsupport::ReadText(secure->LogPath()).find("Fast"), std::string::npos);
    }
}

TEST_F(FastFirst, TheCtdbVerifiesATrackThatAnEntryListsAmongItsTrackChecksums) {
    struct Case {
        const char* name;
        const char* damage;
        const char* reply; // what the server holds, "" for nothing
        std::vector<FastPass> passes;
        const char* logText;
    };
    using P = FastPass;
    const std::vector<Case> cases = {
        {"entries with track checksums",
         "",
         "tracks",
         {P::Verified, P::Verified, P::Verified},
         "Fast pass:       verified by CTDB (confidence 7); kept as read"},
        {"a damaged first track",
         "20=flaky", // past the frames the disc checksum leaves out
         "tracks",
         {P::Reripped, P::Verified, P::Verified},
         "CTDB: no entry holds the track; re-ripped in secure mode"},
        {"entries without track checksums",
         "",
         "match",
         {P::Reripped, P::Reripped, P::Reripped},
         "CTDB: no entry holds the track"},
        {"a disc the database does not know",
         "",
         "",
         {P::Reripped, P::Reripped, P::Reripped},
         "CTDB: not in database; re-ripped"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv damage("VELLORINE_FAULTY_SECTORS", c.damage);
        OpenDisc();
        ScratchFolder served;
        if (*c.reply != '\0') {
            const auto made =
                RunCommand("python3 " + Quoted(CtdbHelper) + " reply " + Quoted(bin) + " " +
                           Quoted(served.File("lookup2.php")) + " " + c.reply + FrameArgs());
            ASSERT_EQ(made.ExitCode, 0) << made.Output;
        }
        ScratchFolder records;
        cdtest::CddbServer server(records.Path(), {"--files", served.Path()});
        RipSessionOptions options;
        options.accurateRip = false;
        options.ctdb = true;
        options.ctdbServer = "http://" + server.Address();
        auto session = Session(options, true);
        for (int track = 1; track <= 3; ++track) {
            Rip(track, "t" + std::to_string(track), session);
            EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusOk);
        }
        const auto tracks = session->Tracks();
        ASSERT_EQ(tracks.size(), 3u);
        for (std::size_t t = 0; t < 3; ++t) {
            EXPECT_EQ(tracks[t].fastPass, c.passes[t]) << "track " << t + 1;
        }
        const std::string log = testsupport::ReadText(session->LogPath());
        EXPECT_NE(log.find(c.logText), std::string::npos) << log;
        EXPECT_EQ(server.Requests().size(), 1u) << "one lookup for the disc";
    }
}

// Accepts connections and never answers.
class SilentServer {
public:
    SilentServer() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(socket_, 4);
        socklen_t len = sizeof addr;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() { ::close(socket_); }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    int socket_;
    int port_ = 0;
};

TEST_F(FastFirst, AStopWhileTheDatabaseIsSilentEndsTheRipAtOnceWithoutAVerdict) {
    OpenDisc();
    SilentServer silent;
    RipSessionOptions options;
    options.accurateRipServer = silent.Url();
    options.lookupTimeout = std::chrono::minutes(2);
    auto session = Session(options, true);
    receiver.messages.clear();
    auto thread =
        std::make_unique<TCDRipThread>(1, "stopped", cdtest::RipOptionsFromSettings("stopped"));
    thread->CDHandle = handle;
    thread->NotifyWindow = &receiver;
    thread->Session = session;
    thread->Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // read, now waiting
    const auto begun = std::chrono::steady_clock::now();
    thread->StopFlag = true;
    thread.reset();
    QCoreApplication::sendPostedEvents(&receiver);
    const auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_LT(took, std::chrono::seconds(20)) << "it waited for the lookup's own limit";
    EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), -1);
    EXPECT_TRUE(session->Tracks().empty());
    EXPECT_FALSE(std::filesystem::exists(session->LogPath())) << "no track, no log";
}

TEST_F(FastFirst, ATrackCutByTheRipTimeHasNoChecksumsToVerifyAndIsRippedSecurelyOnce) {
    settings::Settings.CommonOptions.EnableRipTime = true;
    settings::Settings.CommonOptions.RipTime = 0; // nothing of the track: a cut track
    OpenDisc();
    RipSessionOptions options;
    options.accurateRipServer = "http://127.0.0.1:" + std::to_string(cdtest::UnusedPort());
    auto session = Session(options, true);
    EXPECT_TRUE(Rip(1, "cut", session).empty());
    EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusOk);
    ASSERT_EQ(session->Tracks().size(), 1u);
    EXPECT_EQ(session->Tracks()[0].fastPass, FastPass::None);
    EXPECT_TRUE(session->Tracks()[0].partial);
}

TEST(FastPassSummary, CountsTheTracksOfEachPassAndNamesTheOnesRippedAgain) {
    struct Case {
        std::vector<std::pair<int, FastPass>> tracks;
        const char* text;
    };
    const Case cases[] = {
        {{}, "0 track(s) verified in the fast pass; 0 re-ripped in secure mode"},
        {{{1, FastPass::Verified}, {2, FastPass::None}},
         "1 track(s) verified in the fast pass; 0 re-ripped in secure mode"},
        {{{3, FastPass::Reripped}, {4, FastPass::Verified}, {12, FastPass::Reripped}},
         "1 track(s) verified in the fast pass; 2 re-ripped in secure mode (03, 12)"},
    };
    for (const Case& c : cases) {
        std::vector<RipLogTrack> tracks;
        for (const auto& [number, pass] : c.tracks) {
            RipLogTrack t;
            t.number = number;
            t.fastPass = pass;
            tracks.push_back(t);
        }
        EXPECT_EQ(FastPassSummary(tracks), c.text);
    }
}

} // namespace
