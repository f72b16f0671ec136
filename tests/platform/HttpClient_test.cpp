// The HTTP client against the project's loopback test server: cancel, timeout, redirect
// and size caps, the proxy rule, and the reply's charset.
#include "platform/HttpClient.h"

#include "Version.h"
#include "cd/CddbServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using platform::HttpClient;
using platform::HttpOutcome;
using platform::HttpReply;
using platform::HttpRequest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A test server without CDDB records; extra arguments choose its mode.
struct Server {
    explicit Server(const std::vector<std::string>& args = {}) : process(records.Path(), args) {}
    std::string Url(const std::string& path) const { return "http://" + process.Address() + path; }
    testsupport::ScratchFolder records;
    cdtest::CddbServer process;
};

HttpReply Get(const std::string& url, HttpRequest request = {}) {
    request.url = url;
    return HttpClient::Get(request);
}

// The environment's proxies, pointed at `proxy`, with nothing exempted.
struct EnvironmentProxy {
    explicit EnvironmentProxy(const std::string& proxy)
        : http("http_proxy", proxy.c_str()), all("ALL_PROXY", proxy.c_str()),
          noProxy("no_proxy", ""), noProxyUpper("NO_PROXY", "") {}
    testsupport::ScopedEnv http;
    testsupport::ScopedEnv all;
    testsupport::ScopedEnv noProxy;
    testsupport::ScopedEnv noProxyUpper;
};

TEST(HttpClient, ACancelledTransferEndsWithin50MillisecondsWhileTheServerIsSilent) {
    Server slow({"--delay", "5"});
    // The median of five, so one unlucky scheduling of this busy machine does not decide,
    // while a client that looks at the flag only now and then still fails.
    std::vector<milliseconds> latencies;
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::atomic<bool> cancel{false};
        Clock::time_point raised;
        std::thread stopper([&] {
            std::this_thread::sleep_for(milliseconds(100));
            raised = Clock::now();
            cancel = true;
        });
        HttpRequest request;
        request.cancel = &cancel;
        const HttpReply reply = Get(slow.Url("/bytes/10"), request);
        const auto ended = Clock::now();
        stopper.join();
        EXPECT_EQ(reply.outcome, HttpOutcome::Cancelled);
        EXPECT_TRUE(reply.body.empty());
        latencies.push_back(std::chrono::duration_cast<milliseconds>(ended - raised));
    }
    std::sort(latencies.begin(), latencies.end());
    EXPECT_LT(latencies[2].count(), 50);
}

TEST(HttpClient, AServerThatDoesNotAnswerInTimeOrAtAllEndsTheTransfer) {
    Server slow({"--delay", "3"});
    HttpRequest request;
    request.timeout = milliseconds(300);
    const auto start = Clock::now();
    const HttpReply late = Get(slow.Url("/bytes/10"), request);
    EXPECT_EQ(late.outcome, HttpOutcome::TimedOut) << late.error;
    EXPECT_LT(Clock::now() - start, milliseconds(2500));

    const HttpReply refused =
        Get("http://127.0.0.1:" + std::to_string(cdtest::UnusedPort()) + "/bytes/10");
    EXPECT_EQ(refused.outcome, HttpOutcome::Failed);
    EXPECT_FALSE(refused.error.empty());
}

TEST(HttpClient, RedirectsAreFollowedUpToTheCapAndNoFurther) {
    Server server;
    struct Case {
        int chain;
        int cap;
        HttpOutcome outcome;
    };
    const std::vector<Case> cases = {
        {0, 0, HttpOutcome::Ok},
        {1, 0, HttpOutcome::TooManyRedirects},
        {3, 3, HttpOutcome::Ok},
        {4, 3, HttpOutcome::TooManyRedirects},
    };
    for (const Case& c : cases) {
        HttpRequest request;
        request.maxRedirects = c.cap;
        const HttpReply reply = Get(server.Url("/redirect/" + std::to_string(c.chain)), request);
        EXPECT_EQ(reply.outcome, c.outcome) << c.chain << " redirects, cap " << c.cap;
        if (c.outcome == HttpOutcome::Ok) {
            EXPECT_EQ(reply.status, 200);
            EXPECT_EQ(reply.body, "arrived\n");
        }
    }
}

TEST(HttpClient, ABodyPastTheCapEndsTheTransferAndKeepsWhatFits) {
    Server server;
    struct Case {
        int size;
        std::size_t cap;
        HttpOutcome outcome;
        std::size_t kept;
    };
    const std::vector<Case> cases = {
        {1000, 1000, HttpOutcome::Ok, 1000},
        {1000, 999, HttpOutcome::TooLarge, 999},
        {0, 0, HttpOutcome::Ok, 0},
        {3 << 20, 1 << 20, HttpOutcome::TooLarge, 1 << 20},
    };
    for (const Case& c : cases) {
        HttpRequest request;
        request.maxBytes = c.cap;
        const HttpReply reply = Get(server.Url("/bytes/" + std::to_string(c.size)), request);
        EXPECT_EQ(reply.outcome, c.outcome) << c.size << " bytes, cap " << c.cap;
        EXPECT_EQ(reply.body, std::string(c.kept, 'x')) << c.size << " bytes, cap " << c.cap;
    }
}

TEST(HttpClient, WithTheProxyOnEveryRequestGoesThroughItWhateverTheEnvironmentExempts) {
    Server server;
    Server proxy({"--proxy"});
    // no_proxy naming the server would send the request around the proxy.
    testsupport::ScopedEnv exempt("no_proxy", "127.0.0.1,localhost");
    testsupport::ScopedEnv exemptUpper("NO_PROXY", "127.0.0.1,localhost");
    HttpRequest request;
    request.proxy = {true, "127.0.0.1", proxy.process.Port()};
    const HttpReply reply = Get(server.Url("/text/utf-8/6f6b"), request);
    EXPECT_EQ(reply.outcome, HttpOutcome::Ok) << reply.error;
    EXPECT_EQ(reply.body, "ok");
    const auto relayed = proxy.process.Requests();
    ASSERT_EQ(relayed.size(), 1u);
    EXPECT_EQ(relayed[0], "PROXY " + server.Url("/text/utf-8/6f6b"));
    EXPECT_EQ(server.process.Requests().size(), 1u);
}

TEST(HttpClient, WithTheProxyOffTheEnvironmentsProxyIsIgnored) {
    Server server;
    Server proxy({"--proxy"});
    const EnvironmentProxy environment("http://127.0.0.1:" + std::to_string(proxy.process.Port()));
    const HttpReply reply = Get(server.Url("/text/utf-8/6f6b"));
    EXPECT_EQ(reply.outcome, HttpOutcome::Ok) << reply.error;
    EXPECT_EQ(reply.body, "ok");
    EXPECT_TRUE(proxy.process.Requests().empty());
    EXPECT_EQ(server.process.Requests().size(), 1u);
}

TEST(HttpClient, TheReplyIsDecodedByItsDeclaredCharset) {
    Server server;
    struct Case {
        const char* charset;
        const char* hex;
        std::string text;
    };
    const std::vector<Case> cases = {
        // Declared ISO-8859-1 wins even over bytes that would also be valid UTF-8.
        {"ISO-8859-1", "426af6726b", "Bj\xc3\xb6rk"},
        {"iso-8859-1", "c3b6", "\xc3\x83\xc2\xb6"},
        {"utf-8", "c3b6", "\xc3\xb6"},
        {"utf-8", "e9", "\xc3\xa9"}, // not UTF-8 after all: read as ISO-8859-1
        {"windows-1252", "80a9", "\xe2\x82\xac\xc2\xa9"},
        {"x-unknown", "e282ac", "\xe2\x82\xac"},
    };
    for (const Case& c : cases) {
        const HttpReply reply = Get(server.Url(std::string("/text/") + c.charset + "/" + c.hex));
        ASSERT_EQ(reply.outcome, HttpOutcome::Ok) << reply.error;
        EXPECT_EQ(reply.Text(), c.text) << c.charset << " " << c.hex;
    }
}

TEST(HttpClient, RequestsNameTheProgramAndItsVersionUnlessTheCallerNamesItself) {
    Server server;
    EXPECT_EQ(Get(server.Url("/agent")).body, std::string("Vellorine/") + vellorine::kVersion);
    HttpRequest request;
    request.userAgent = "Vellorine 2.5";
    EXPECT_EQ(Get(server.Url("/agent"), request).body, "Vellorine 2.5");
}

TEST(HttpText, TheCharsetParameterIsFoundInAnyCaseAndQuoting) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"text/plain; charset=ISO-8859-1", "iso-8859-1"},
        {"text/xml;charset=\"UTF-8\"", "utf-8"},
        {"text/html; Charset=windows-1252; format=flowed", "windows-1252"},
        {"application/octet-stream", ""},
        {"", ""},
    };
    for (const auto& [type, charset] : cases) {
        HttpReply reply;
        reply.contentType = type;
        EXPECT_EQ(reply.Charset(), charset) << type;
    }
}

TEST(HttpText, UrlEscapeKeepsOnlyTheUnreservedCharacters) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"abc-XYZ_0.9~", "abc-XYZ_0.9~"},
        {"a b+c&d=e", "a%20b%2Bc%26d%3De"},
        {"caf\xc3\xa9/", "caf%C3%A9%2F"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(platform::UrlEscape(in), out) << in;
    }
}

} // namespace
