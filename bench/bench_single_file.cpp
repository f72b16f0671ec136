// A single-file rip (the whole disc's audio into one WAV, the rip thread's WholeDisc span)
// against a track-by-track rip (one rip thread and one WAV per track) of the same image:
// ten tracks of 20 s with 2-second pregaps, in interleaved pairs. Counters: the median time
// of each and `ratio` (single / tracks, median of the pairs); goal ratio <= 1.
#include "ProgressSink.h"
#include "cd/DiscImages.h"
#include "cd/akrip32.h"
#include "cd/ripthread.h"
#include "settings/Global.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int Tracks = 10;
constexpr int TrackFrames = 1500;
constexpr int PregapFrames = 150;

using Sink = benchrip::TProgressSink;

struct Fixture {
    Fixture() {
        std::string pregaps = " --pregaps 0";
        for (int t = 1; t < Tracks; ++t) {
            pregaps += " " + std::to_string(PregapFrames);
        }
        const std::string cue = cdtest::MakeImage(
            dir, "disc", std::vector<int>(static_cast<std::size_t>(Tracks), TrackFrames), pregaps);
        cdtest::UseImages({cue});
        handle = cdtest::OpenFirstDrive();
        if (handle == 0) {
            throw std::runtime_error("image did not open");
        }
    }
    ~Fixture() { cd::CloseCDHandle(handle); }
    testsupport::ScratchFolder dir;
    cd::HCDROM handle = 0;
};

double Rip(Fixture& f, Sink& sink, int track, cd::TRipSpan span, const std::string& name) {
    const auto start = std::chrono::steady_clock::now();
    cd::TRipOptions options{f.dir.File(name)};
    options.Span = span;
    auto thread = std::make_unique<cd::TCDRipThread>(track, "bench", options);
    thread->CDHandle = f.handle;
    thread->NotifyWindow = &sink;
    thread->Resume();
    thread.reset();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    QCoreApplication::sendPostedEvents(&sink);
    return took.count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void BM_SingleFileVsTracks(benchmark::State& state) {
    Fixture f;
    Sink sink;
    std::vector<double> singles;
    std::vector<double> tracks;
    std::vector<double> ratios;
    for (auto _ : state) {
        double byTrack = 0;
        for (int t = 1; t <= Tracks; ++t) {
            byTrack += Rip(f, sink, t, cd::TRipSpan::Track, "track" + std::to_string(t) + ".wav");
        }
        const double single = Rip(f, sink, 0, cd::TRipSpan::WholeDisc, "disc.wav");
        state.SetIterationTime(single);
        singles.push_back(single);
        tracks.push_back(byTrack);
        ratios.push_back(single / byTrack);
    }
    state.counters["single_s"] = Median(singles);
    state.counters["tracks_s"] = Median(tracks);
    state.counters["ratio"] = Median(ratios);
    const double discSeconds = (Tracks * TrackFrames + (Tracks - 1) * PregapFrames) / 75.0;
    state.counters["x_realtime"] = discSeconds / Median(singles);
}

BENCHMARK(BM_SingleFileVsTracks)->Iterations(15)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

#include "QtBenchmarkMain.h"
