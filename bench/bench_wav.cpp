// WAV reading and writing speed: a PCM copy through the pipeline, IMA ADPCM encoding and
// decoding, Microsoft ADPCM decoding. Fixtures are one minute of 44.1 kHz stereo made here
// (sox makes the Microsoft ADPCM one). "x_realtime" is seconds of audio per second.
//
//   bench_wav                          run the benchmarks
//   bench_wav --copy IN OUT [ima]      one copy through TWaveIn -> TWaveOut, for memory checks
#include "audio/ACS_Wave.h"

#include "audio/TestSources.h"
#include "audio/WavFixtures.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <future>
#include <iostream>
#include <memory>

namespace {

using namespace audio;
constexpr int kSeconds = 60;
constexpr int kRate = 44100;

std::string Copy(const std::string& from, const std::string& to, TWavType type) {
    TWaveIn in;
    in.SetFileName(from);
    TWaveOut out;
    out.SetInput(&in);
    out.SetFileName(to);
    out.SetWavType(type);
    return test::RunToEnd(out);
}

std::size_t ReadAll(const std::string& path) {
    TWaveIn in;
    in.SetFileName(path);
    in.Init();
    std::vector<std::uint8_t> buffer(16384);
    std::size_t total = 0;
    while (const int n = in.GetData(buffer.data(), static_cast<int>(buffer.size())))
        total += static_cast<std::size_t>(n);
    in.Flush();
    return total;
}

struct Fixtures {
    test::TempDir dir;
    std::string pcm = dir.File("pcm.wav");
    std::string ima = dir.File("ima.wav");
    std::string ms = dir.File("ms.wav");
    std::string out = dir.File("out.wav");

    Fixtures() {
        const auto samples = test::TestSignal(static_cast<std::size_t>(kSeconds) * kRate, 2, kRate);
        test::WriteBytes(pcm, test::PcmWav(test::S16ToBytes(samples), 2, kRate, 16));
        if (!Copy(pcm, ima, wtDVIADPCM).empty() ||
            test::Shell("sox " + pcm + " -e ms-adpcm " + ms) != 0)
            std::cerr << "fixtures could not be made\n";
    }
};

Fixtures& Files() {
    static Fixtures fixtures;
    return fixtures;
}

void Report(benchmark::State& state, std::int64_t bytes) {
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSeconds, benchmark::Counter::kIsRate);
}

void BM_PcmCopy(benchmark::State& state) {
    Files(); // fixtures are made before the clock runs
    for (auto _ : state)
        benchmark::DoNotOptimize(Copy(Files().pcm, Files().out, wtPCM));
    Report(state, std::int64_t{kSeconds} * kRate * 4);
}

void BM_ImaEncode(benchmark::State& state) {
    Files(); // fixtures are made before the clock runs
    for (auto _ : state)
        benchmark::DoNotOptimize(Copy(Files().pcm, Files().out, wtDVIADPCM));
    Report(state, std::int64_t{kSeconds} * kRate * 4);
}

void BM_ImaDecode(benchmark::State& state) {
    Files(); // fixtures are made before the clock runs
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadAll(Files().ima));
    Report(state, std::int64_t{kSeconds} * kRate * 4);
}

void BM_MsDecode(benchmark::State& state) {
    Files(); // fixtures are made before the clock runs
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadAll(Files().ms));
    Report(state, std::int64_t{kSeconds} * kRate * 4);
}

BENCHMARK(BM_PcmCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImaEncode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImaDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MsDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--copy") == 0) {
        const TWavType type = argc >= 5 && std::strcmp(argv[4], "ima") == 0 ? wtDVIADPCM : wtPCM;
        const std::string error = Copy(argv[2], argv[3], type);
        if (!error.empty())
            std::cerr << error << "\n";
        return error.empty() ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
