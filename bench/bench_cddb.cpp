// CDDB lookups against the project's loopback CDDB server (scripts/cddb-test-server).
//   build/bench/bench_cddb
// Reported:
//   BM_Lookup/0          query + read of one match through the CD layer (libcurl), server
//                        answering at once; the goal is < 100 ms beyond the server's time
//   BM_Lookup/100        the same with the server waiting 100 ms before each of its two
//                        answers (server_delay_ms = 200 in all)
//   BM_CurlTool/0, /100  the same two requests made by the curl command-line tool (the
//                        comparison; its process starts are included)
//   BM_StopDuringSlowServer  Stop clicked while the server sits on the query: manual time
//                        is click -> the window's modal loop returned (goal < 200 ms);
//                        thread_end_ms is click -> the lookup thread has ended
#include "cd/CddbServer.h"
#include "cd/DiscImages.h"
#include "cd/akrip32.h"
#include "settings/Global.h"
#include "tags/QueryCddbThread.h"
#include "tags/StopQuery.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
const std::vector<int> kFrames = {13000, 16000, 9000, 21000, 15000, 12000, 17500, 14000};

struct Fixture {
    Fixture() {
        cdtest::UseImages({cdtest::MakeImage(images, "bench", kFrames)});
        handle = cdtest::OpenFirstDrive();
        id = cdtest::HexId(cdtest::PublishedDiscId(kFrames));
        std::string lines = "DTITLE=Bench Band / Bench Album\nDYEAR=2008\nDGENRE=Rock\n";
        for (std::size_t t = 0; t < kFrames.size(); ++t) {
            lines += "TTITLE" + std::to_string(t) + "=Track title " + std::to_string(t) + "\n";
        }
        cdtest::WriteRecord(records, "rock", id, cdtest::XmcdRecord(kFrames, lines));
    }
    ~Fixture() { cd::CloseCDHandle(handle); }
    cdtest::CddbServer& Server(int delayMs) {
        auto& server = servers[delayMs];
        if (!server) {
            server = std::make_unique<cdtest::CddbServer>(
                records.Path(),
                std::vector<std::string>{"--delay", std::to_string(delayMs / 1000.0)});
        }
        return *server;
    }
    void Use(cdtest::CddbServer& server) {
        cd::CDDBSetOption(cd::CDDB_OPT_SERVER, server.Address().c_str(), 0);
        cd::CDDBSetOption(cd::CDDB_OPT_CGI, "/~cddb/cddb.cgi", 0);
        cd::CDDBSetOption(cd::CDDB_OPT_USER, "bench@localhost", 0);
        settings::Settings.QueryCDDB.Server = server.Address();
    }

    cdtest::ScratchFolder images;
    cdtest::ScratchFolder records;
    std::map<int, std::unique_ptr<cdtest::CddbServer>> servers;
    cd::HCDROM handle = 0;
    std::string id;
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

QApplication& App() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "bench_cddb";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

void BM_Lookup(benchmark::State& state) {
    Fixture& f = Shared();
    const int delayMs = static_cast<int>(state.range(0));
    f.Use(f.Server(delayMs));
    std::array<cd::TCDDBQueryItem, cd::CDDBMaxMatches> matches{};
    std::vector<char> record(32000);
    for (auto _ : state) {
        cd::TCDDBQuery query{cd::CDDBMaxMatches, matches.data()};
        if (cd::CDDBQuery(f.handle, query) != 1 || query.num != 1 ||
            cd::CDDBGetDiskInfo(matches[0], record.data(), 32000) != 1) {
            state.SkipWithError("lookup failed");
            return;
        }
    }
    state.counters["server_delay_ms"] = 2.0 * delayMs;
}

void BM_CurlTool(benchmark::State& state) {
    Fixture& f = Shared();
    cdtest::CddbServer& server = f.Server(static_cast<int>(state.range(0)));
    const std::string base = "http://" + server.Address() + "/~cddb/cddb.cgi?hello=b+h+c+1&proto=6";
    std::string query = "curl -s -o /dev/null '" + base + "&cmd=cddb+query+" + f.id + "+" +
                        std::to_string(kFrames.size());
    int offset = 150;
    for (const int frames : kFrames) {
        query += "+" + std::to_string(offset);
        offset += frames;
    }
    query += "+" + std::to_string(offset / 75) + "'";
    const std::string read = "curl -s -o /dev/null '" + base + "&cmd=cddb+read+rock+" + f.id + "'";
    for (auto _ : state) {
        if (std::system(query.c_str()) != 0 || std::system(read.c_str()) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
}

void BM_StopDuringSlowServer(benchmark::State& state) {
    App();
    Fixture& f = Shared();
    f.Use(f.Server(5000));
    double threadEndMs = 0;
    for (auto _ : state) {
        tags::TfrmStopQuery stop(nullptr, 1, static_cast<std::uint8_t>(kFrames.size()), f.handle);
        Clock::time_point clicked;
        QTimer::singleShot(150, &stop, [&] {
            clicked = Clock::now();
            stop.findChild<QPushButton*>("bStop")->click();
        });
        stop.exec();
        const auto returned = Clock::now();
        tags::TQueryCDDBThread::WaitForAll(std::chrono::seconds(10));
        const auto ended = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(returned - clicked).count());
        threadEndMs += std::chrono::duration<double, std::milli>(ended - clicked).count();
    }
    state.counters["thread_end_ms"] = threadEndMs / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(BM_Lookup)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlTool)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StopDuringSlowServer)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
