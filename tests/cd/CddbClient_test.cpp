// CDDB lookups of the CD layer against the loopback server, for generated disc images.
#include "cd/CddbClient.h"
#include "cd/CddbServer.h"
#include "cd/DiscImages.h"
#include "cd/akrip32.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

using namespace cd;
using cdtest::CddbServer;
using Clock = std::chrono::steady_clock;

const std::vector<int> kFrames = {1200, 450, 825}; // small images: content does not matter here
const std::string kLines = "DTITLE=The Band / First Light\nDYEAR=1999\nDGENRE=Rock\n"
                           "TTITLE0=Opening\nTTITLE1=Middle\nTTITLE2=Closing\n";

std::string Field(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

class CddbLookup : public ::testing::Test {
protected:
    void SetUp() override {
        cdtest::UseImages({cdtest::MakeImage(images_, "disc", kFrames)});
        TCDList list{};
        list.max = 8;
        GetCDList(list);
        TCDHandleRequest request{};
        request.size = 12;
        request.ver = 1;
        request.ha = list.cd[0].ha;
        request.tgt = list.cd[0].tgt;
        request.lun = list.cd[0].lun;
        handle_ = GetCDHandle(request);
        ASSERT_GT(handle_, 0);
        id_ = cdtest::HexId(cdtest::PublishedDiscId(kFrames));
    }
    void TearDown() override {
        CloseCDHandle(handle_);
        CDDBSetOption(CDDB_OPT_USEPROXY, "", 0);
        CDDBSetOption(CDDB_OPT_TIMEOUT, "", 0);
    }

    void UseServer(const std::string& address) {
        CDDBSetOption(CDDB_OPT_SERVER, address.c_str(), 0);
        CDDBSetOption(CDDB_OPT_CGI, "/~cddb/cddb.cgi", 0);
        CDDBSetOption(CDDB_OPT_USER, "alice@studio", 0);
        CDDBSetOption(CDDB_OPT_AGENT, "Vellorine 2.5", 0);
        CDDBSetOption(CDDB_OPT_TIMEOUT, "", 0);
    }
    // Runs a query; returns the CD layer's result and fills matches_.
    int Query() {
        matches_.fill(TCDDBQueryItem{});
        TCDDBQuery query{CDDBMaxMatches, matches_.data()};
        const int rc = CDDBQuery(handle_, query);
        count_ = query.num;
        return rc;
    }
    std::string Read(const TCDDBQueryItem& item, int size = 32000) {
        std::vector<char> buffer(static_cast<std::size_t>(size), 'x');
        if (CDDBGetDiskInfo(item, buffer.data(), size) != 1) {
            return "<failed>";
        }
        return buffer.data();
    }

    cdtest::ScratchFolder images_;
    cdtest::ScratchFolder records_;
    HCDROM handle_ = 0;
    std::string id_;
    std::array<TCDDBQueryItem, CDDBMaxMatches> matches_{};
    std::uint32_t count_ = 0;
};

TEST_F(CddbLookup, AnExactMatchIsFoundByTheDiscIdAndOffsetsOfTheImageAndItsRecordRead) {
    const std::string record = cdtest::XmcdRecord(kFrames, kLines);
    cdtest::WriteRecord(records_, "rock", id_, record);
    CddbServer server(records_.Path());
    UseServer(server.Address());

    ASSERT_EQ(Query(), 1);
    ASSERT_EQ(count_, 1u);
    EXPECT_EQ(GetAspiLibError(), ALERR_NOERROR);
    EXPECT_EQ(Field(matches_[0].categ, 20), "rock");
    EXPECT_EQ(Field(matches_[0].cddbId, 12), id_);
    EXPECT_EQ(Field(matches_[0].title, 160), "The Band / First Light");
    EXPECT_EQ(Read(matches_[0]), record);

    // The query names the disc as the published algorithm does: the id, the count, the
    // track offsets with the lead-in and the length in seconds; protocol level 6.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("/~cddb/cddb.cgi?cmd=cddb+query+" + id_ +
                               "+3+150+1350+1800+35&hello=alice+studio+Vellorine+2.5&proto=6"),
              std::string::npos)
        << requests[0];
    EXPECT_NE(requests[1].find("cmd=cddb+read+rock+" + id_), std::string::npos);
}

TEST_F(CddbLookup, ExactMatchesInSeveralCategoriesAndInexactMatchesAreAllListedInOrder) {
    cdtest::WriteRecord(records_, "misc", id_, cdtest::XmcdRecord(kFrames, "DTITLE=A / B\n"));
    cdtest::WriteRecord(records_, "rock", id_, cdtest::XmcdRecord(kFrames, "DTITLE=C / D\n"));
    {
        CddbServer server(records_.Path());
        UseServer(server.Address());
        ASSERT_EQ(Query(), 1);
        ASSERT_EQ(count_, 2u);
        EXPECT_EQ(Field(matches_[0].categ, 20), "misc");
        EXPECT_EQ(Field(matches_[1].categ, 20), "rock");
        EXPECT_EQ(Field(matches_[1].title, 160), "C / D");
    }
    // A record of the same shape under another id is offered as an inexact match (211).
    cdtest::ScratchFolder other;
    cdtest::WriteRecord(other, "jazz", "0badf00d", cdtest::XmcdRecord(kFrames, "DTITLE=E / F\n"));
    CddbServer server(other.Path());
    UseServer(server.Address());
    ASSERT_EQ(Query(), 1);
    ASSERT_EQ(count_, 1u);
    EXPECT_EQ(Field(matches_[0].cddbId, 12), "0badf00d");
    EXPECT_NE(Read(matches_[0]).find("DTITLE=E / F"), std::string::npos);
}

TEST_F(CddbLookup, AServerThatCannotHelpEndsTheQueryWithNoMatchAndSaysWhy) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int error;
    };
    const std::vector<Case> cases = {
        {"unknown disc (202)", {}, ALERR_NOERROR},
        {"web page instead of CDDB", {"--answer", "html"}, ALERR_CDDB_SERVER},
        {"wrong script path (HTTP 404)", {"--answer", "http404"}, ALERR_CDDB_SERVER},
        {"protocol error code", {"--answer", "409 No handshake."}, ALERR_CDDB_SERVER},
        {"garbage", {"--answer", "\x01\x02 hello"}, ALERR_CDDB_SERVER},
    };
    for (const Case& c : cases) {
        CddbServer server(records_.Path(), c.args);
        UseServer(server.Address());
        EXPECT_EQ(Query(), 1) << c.name;
        EXPECT_EQ(count_, 0u) << c.name;
        EXPECT_EQ(GetAspiLibError(), c.error) << c.name;
    }
}

TEST_F(CddbLookup, ADeadOrSlowServerEndsTheQueryByItsTimeout) {
    UseServer("127.0.0.1:" + std::to_string(cdtest::UnusedPort()));
    ASSERT_EQ(Query(), 1);
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(GetAspiLibError(), ALERR_CDDB_NETWORK);

    CddbServer slow(records_.Path(), {"--delay", "3"});
    UseServer(slow.Address());
    CDDBSetOption(CDDB_OPT_TIMEOUT, "", 300);
    const auto start = Clock::now();
    ASSERT_EQ(Query(), 1);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(GetAspiLibError(), ALERR_CDDB_NETWORK);
}

TEST_F(CddbLookup, TheCancelFlagAbandonsATransferThatIsWaitingForTheServer) {
    CddbServer slow(records_.Path(), {"--delay", "5"});
    UseServer(slow.Address());
    std::atomic<bool> cancel{false};
    CDDBSetCancelFlag(&cancel);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel = true;
    });
    const auto start = Clock::now();
    EXPECT_EQ(Query(), 1);
    stopper.join();
    CDDBSetCancelFlag(nullptr);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(GetAspiLibError(), ALERR_CDDB_CANCELLED);
}

TEST_F(CddbLookup, TheProxyOptionsSendTheLookupThroughAnHttpProxy) {
    cdtest::WriteRecord(records_, "rock", id_, cdtest::XmcdRecord(kFrames, kLines));
    CddbServer server(records_.Path());
    CddbServer proxy(records_.Path(), {"--proxy"});
    UseServer(server.Address());
    CDDBSetOption(CDDB_OPT_USEPROXY, "", 1);
    CDDBSetOption(CDDB_OPT_PROXYPORT, "", proxy.Port());
    CDDBSetOption(CDDB_OPT_PROXY, "127.0.0.1", 0);
    ASSERT_EQ(Query(), 1);
    ASSERT_EQ(count_, 1u);
    EXPECT_NE(Read(matches_[0]).find("TTITLE2=Closing"), std::string::npos);
    const auto relayed = proxy.Requests();
    ASSERT_EQ(relayed.size(), 2u);
    EXPECT_EQ(relayed[0].rfind("PROXY http://" + server.Address() + "/~cddb/cddb.cgi?", 0), 0u);
    EXPECT_EQ(server.Requests().size(), 2u);

    // Switched off again, the lookup goes straight to the server.
    CDDBSetOption(CDDB_OPT_USEPROXY, "", 0);
    ASSERT_EQ(Query(), 1);
    EXPECT_EQ(proxy.Requests().size(), 2u);
    EXPECT_EQ(server.Requests().size(), 3u);
}

TEST_F(CddbLookup, RecordsArriveAsUtf8AndLongOnesLoseCommentsBeforeTitles) {
    // Latin-1 bytes (an older record) become UTF-8; thousands of comment lines are
    // dropped before any title would be.
    std::string record = "# xmcd\n";
    for (int i = 0; i < 3000; ++i) {
        record += "# padding line " + std::to_string(i) + "\n";
    }
    record += "DTITLE=Bj\xf6rk / Caf\xe9\nTTITLE0=One\nTTITLE1=Two\nTTITLE2=Three\n";
    cdtest::WriteRecord(records_, "misc", id_, record);
    CddbServer server(records_.Path());
    UseServer(server.Address());
    ASSERT_EQ(Query(), 1);
    ASSERT_EQ(count_, 1u);
    EXPECT_EQ(Read(matches_[0]),
              "DTITLE=Bj\xc3\xb6rk / Caf\xc3\xa9\nTTITLE0=One\nTTITLE1=Two\nTTITLE2=Three\n");
    // Without room even for that, whole lines are cut from the end.
    EXPECT_EQ(Read(matches_[0], 40), "DTITLE=Bj\xc3\xb6rk / Caf\xc3\xa9\nTTITLE0=One\n");

    TCDDBQueryItem unknown{};
    std::strcpy(unknown.categ, "rock");
    std::strcpy(unknown.cddbId, "12345678");
    EXPECT_EQ(Read(unknown), "<failed>");
    EXPECT_EQ(Read(TCDDBQueryItem{}), "<failed>");
}

TEST_F(CddbLookup, WithoutAReadableDiscTheQueryFails) {
    TCDDBQuery query{CDDBMaxMatches, matches_.data()};
    EXPECT_EQ(CDDBQuery(0, query), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_INVHANDLE);
    TCDDBQuery noArray{CDDBMaxMatches, nullptr};
    EXPECT_EQ(CDDBQuery(handle_, noArray), 0);
    EXPECT_EQ(CDDBSetOption(42, "", 0), 0);
}

TEST(CddbText, RepliesAreTakenAsUtf8WhenValidAndAsLatin1Otherwise) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"Bj\xc3\xb6rk \xe2\x82\xac \xf0\x9f\x8e\xb5",
         "Bj\xc3\xb6rk \xe2\x82\xac \xf0\x9f\x8e\xb5"},
        {"Bj\xf6rk", "Bj\xc3\xb6rk"},
        {"\xc0\xaf", "\xc3\x80\xc2\xaf"},             // overlong "/" is not UTF-8
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"}, // nor is a surrogate
        {"\xc3", "\xc3\x83"},                         // nor a cut sequence
        {std::string("a\0b", 3), "ab"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(TCddbClient::ToUtf8(in), out) << in;
    }
}

} // namespace
