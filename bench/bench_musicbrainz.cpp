// MusicBrainz lookups with cover art against the loopback server (tests/cd/musicbrainz.py).
//   build/bench/bench_musicbrainz
// Reported:
//   BM_LookupWithCover   disc id lookup (a reply of 10 releases) and the front cover
//                        (500 kB) through the program's client, pacing off; the goal is
//                        < 20 ms beyond the server's own time
//   BM_CurlTool          the same two requests made by the curl command-line tool (the
//                        comparison for the server's time; its process starts included)
//   BM_Pacing            two lookups back to back with the one-request-a-second pacing on
//                        (the pacing alone, reported apart)
#include "cd/MbServer.h"
#include "tags/MbLookup.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace {

const std::string kDiscId = "benchbenchbenchbenchbench12-";
const std::string kRelease = "44444444-4444-4444-4444-444444444444";

std::string Reply() {
    std::string tracks;
    for (int t = 1; t <= 12; ++t) {
        tracks += std::string(t > 1 ? "," : "") + "{\"title\":\"Track title " + std::to_string(t) +
                  "\",\"recording\":{\"id\":\"rec-" + std::to_string(t) + "\"}}";
    }
    std::string releases;
    for (int r = 0; r < 10; ++r) {
        releases += std::string(r > 0 ? "," : "") + "{\"id\":\"" + kRelease +
                    "\",\"title\":\"Bench Album\",\"date\":\"2008\",\"artist-credit\":[{\"name\":"
                    "\"Bench Band\"}],\"media\":[{\"position\":1,\"discs\":[{\"id\":\"" +
                    kDiscId + "\"}],\"tracks\":[" + tracks + "]}]}";
    }
    return "{\"releases\":[" + releases + "]}";
}

struct Fixture {
    Fixture() {
        std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(500000, 'j');
        server = std::make_unique<cdtest::MbServer>(std::vector<cdtest::MbRoute>{
            {"/ws/2/discid/" + kDiscId, {cdtest::Answer(200, Reply())}},
            {"/release/" + kRelease + "/front-500", {cdtest::Answer(200, jpeg)}}});
    }
    testsupport::ScratchFolder covers;
    std::unique_ptr<cdtest::MbServer> server;
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

bool Lookup(Fixture& f, const cd::MbServiceOptions& options) {
    const auto found = tags::LookupMbDisc(f.server->Url(), kDiscId, "", 12, options);
    const auto cover = tags::FetchFrontCover(f.server->Url(), kRelease, f.covers.Path(), options);
    return found.kind == tags::MbLookupResult::Kind::Found && found.releases.size() == 10 &&
           cover.kind == tags::CoverResult::Kind::Saved;
}

void BM_LookupWithCover(benchmark::State& state) {
    Fixture& f = Shared();
    cd::MbServiceOptions options;
    options.interval = std::chrono::milliseconds(0);
    for (auto _ : state) {
        if (!Lookup(f, options)) {
            state.SkipWithError("lookup failed");
            return;
        }
    }
}

void BM_CurlTool(benchmark::State& state) {
    Fixture& f = Shared();
    const std::string base = "curl -s -o /dev/null '" + f.server->Url();
    const std::string lookup = base + "/ws/2/discid/" + kDiscId + "?fmt=json'";
    const std::string cover = base + "/release/" + kRelease + "/front-500'";
    for (auto _ : state) {
        if (std::system(lookup.c_str()) != 0 || std::system(cover.c_str()) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
}

void BM_Pacing(benchmark::State& state) {
    Fixture& f = Shared();
    const cd::MbServiceOptions options; // one request a second to the host
    for (auto _ : state) {
        if (!Lookup(f, options) || !Lookup(f, options)) {
            state.SkipWithError("lookup failed");
            return;
        }
    }
}

BENCHMARK(BM_LookupWithCover)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlTool)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pacing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
