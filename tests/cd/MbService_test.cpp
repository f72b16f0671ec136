// The MusicBrainz web client against the loopback server: what it asks, how it paces and
// retries (measured by the server's clock), and how it reports each kind of answer.
#include "cd/MbService.h"

#include <gtest/gtest.h>

#include <thread>

#include "Version.h"
#include "cd/CddbServer.h"
#include "cd/MbServer.h"

namespace {

using namespace std::chrono_literals;
using cd::MbFetch;
using cd::MbService;
using cdtest::MbAnswer;

// Fast pacing, so only the tests about pacing wait whole seconds.
cd::MbServiceOptions Quick() {
    cd::MbServiceOptions options;
    options.interval = 20ms;
    options.retryPause = 20ms;
    options.timeout = 5s;
    return options;
}

TEST(MbServiceTexts, UrlsAgentAndHostAreFormedAsTheServicesExpect) {
    EXPECT_EQ(MbService::DiscIdUrl("https://mb.example/", "ab_c.d-", "1+2+300+150+200"),
              "https://mb.example/ws/2/discid/ab_c.d-"
              "?inc=recordings+artist-credits+release-groups+labels&fmt=json&toc=1+2+300+150+200");
    EXPECT_EQ(
        MbService::DiscIdUrl("http://h", "x/y", ""),
        "http://h/ws/2/discid/x%2Fy?inc=recordings+artist-credits+release-groups+labels&fmt=json");
    EXPECT_EQ(MbService::FrontCoverUrl("https://caa.example//", "1234"),
              "https://caa.example/release/1234/front-500");
    EXPECT_EQ(MbService::UserAgent("me@example.org"),
              std::string("Vellorine/") + vellorine::kVersion + " ( me@example.org )");
    EXPECT_NE(MbService::UserAgent("").find(" ( http"), std::string::npos);
    const std::vector<std::pair<std::string, std::string>> hosts = {
        {"https://MusicBrainz.org/ws/2/x", "https://musicbrainz.org"},
        {"http://127.0.0.1:8080?x=1", "http://127.0.0.1:8080"},
        {"http://a.b#frag", "http://a.b"},
    };
    for (const auto& [url, host] : hosts) {
        EXPECT_EQ(MbService::HostOf(url), host) << url;
    }
}

TEST(MbServiceTexts, RetryAfterSecondsAreHonouredAndAnythingElseFallsBack) {
    const std::vector<std::pair<std::string, std::chrono::milliseconds>> cases = {
        {"2", 2000ms}, {" 3 ", 3000ms},           {"0", 0ms},
        {"", 700ms},   {"soon", 700ms},           {"1.5", 700ms},
        {"-1", 700ms}, {"999999999999", 30000ms}, {"Wed, 21 Oct 2015 07:28:00 GMT", 700ms},
    };
    for (const auto& [text, pause] : cases) {
        EXPECT_EQ(MbService::RetryPause(text, 700ms, 30000ms), pause) << "'" << text << "'";
    }
}

TEST(MbServiceLoopback, EachKindOfAnswerEndsAsItShould) {
    struct Case {
        const char* name;
        std::vector<MbAnswer> answers;
        MbFetch::Kind kind;
        int requests;
        std::string body;
    };
    const MbAnswer busy503 = cdtest::Answer(503, "busy");
    const MbAnswer busy429 = cdtest::Answer(429, "slow down", "0");
    const MbAnswer ok = cdtest::Answer(200, "{\"releases\":[]}");
    const std::vector<Case> cases = {
        {"found", {ok}, MbFetch::Kind::Found, 1, ok.body},
        {"unknown", {cdtest::Answer(404, "{}")}, MbFetch::Kind::NotFound, 1, ""},
        {"429 then success", {busy429, ok}, MbFetch::Kind::Found, 2, ok.body},
        {"503 three times then success",
         {busy503, busy503, busy503, ok},
         MbFetch::Kind::Found,
         4,
         ok.body},
        {"503 four times", {busy503}, MbFetch::Kind::Failed, 4, ""},
        {"server error", {cdtest::Answer(500, "oops")}, MbFetch::Kind::Failed, 1, ""},
    };
    for (const Case& c : cases) {
        cdtest::MbServer server({{"/ws/2/discid/x", c.answers}});
        const MbFetch fetch = MbService::Get(server.Url() + "/ws/2/discid/x?fmt=json", Quick());
        EXPECT_EQ(fetch.kind, c.kind) << c.name;
        EXPECT_EQ(fetch.requests, c.requests) << c.name;
        EXPECT_EQ(server.Requests().size(), static_cast<std::size_t>(c.requests)) << c.name;
        EXPECT_EQ(fetch.body, c.body) << c.name;
        if (c.kind == MbFetch::Kind::Failed) {
            EXPECT_FALSE(fetch.error.empty()) << c.name;
        }
    }
}

TEST(MbServiceLoopback, AnUnreachableServerFailsSayingSo) {
    const MbFetch fetch = MbService::Get(
        "http://127.0.0.1:" + std::to_string(cdtest::UnusedPort()) + "/ws/2/discid/x", Quick());
    EXPECT_EQ(fetch.kind, MbFetch::Kind::Failed);
    EXPECT_NE(fetch.error.find("could not be reached"), std::string::npos) << fetch.error;
}

TEST(MbServiceLoopback, RequestsToOneHostLeaveASecondApartAndCarryTheAgent) {
    const MbAnswer ok = cdtest::Answer(200, "{}");
    cdtest::MbServer server({{"/a", {ok}}, {"/b", {cdtest::Answer(503, "", "1"), ok}}});
    cd::MbServiceOptions options; // the real pacing: one request a second
    options.contact = "tester@example.org";
    EXPECT_EQ(MbService::Get(server.Url() + "/a", options).kind, MbFetch::Kind::Found);
    EXPECT_EQ(MbService::Get(server.Url() + "/a", options).kind, MbFetch::Kind::Found);
    EXPECT_EQ(MbService::Get(server.Url() + "/b", options).kind, MbFetch::Kind::Found);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_GE(requests[i].time - requests[i - 1].time, 0.95) << "request " << i;
    }
    for (const auto& r : requests) {
        EXPECT_EQ(r.userAgent, MbService::UserAgent("tester@example.org"));
    }
}

TEST(MbServiceLoopback, CancellingEndsTheWaitForASlowServer) {
    MbAnswer slow = cdtest::Answer(200, "{}");
    slow.delay = 5;
    cdtest::MbServer server({{"/slow", {slow}}});
    std::atomic<bool> cancel{false};
    cd::MbServiceOptions options = Quick();
    options.cancel = &cancel;
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const MbFetch fetch = MbService::Get(server.Url() + "/slow", options);
    const auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_EQ(fetch.kind, MbFetch::Kind::Cancelled);
    EXPECT_LT(took, 3s) << "it did not wait for the server's answer";
    // A flag raised before the call stops it before any request.
    EXPECT_EQ(MbService::Get(server.Url() + "/slow", options).kind, MbFetch::Kind::Cancelled);
    EXPECT_EQ(server.Requests().size(), 1u);
}

} // namespace
