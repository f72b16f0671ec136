// WAV reading and writing speed: a PCM copy through the pipeline, IMA ADPCM encoding and
// decoding, Microsoft ADPCM decoding. Fixtures are one minute of 44.1 kHz stereo made here
// (sox makes the Microsoft ADPCM one). "x_realtime" is seconds of audio per second.
//
// The copies run on the sink's worker thread while the benchmark's thread waits, so the CPU
// column is the whole process's; "cpu_share" is that CPU over the wall time (1 = one core
// busy throughout) and "cpu_MB_per_s" the bytes per CPU second, which a busy machine does
// not spoil. Each benchmark warms up for a second and then runs for at least three: half a
// second (the library's default) is a handful of copies, too few for a steady figure.
//
//   bench_wav                          run the benchmarks
//   bench_wav --copy IN OUT [ima]      one copy through TWaveIn -> TWaveOut, for memory checks
#include "audio/ACS_Wave.h"

#include "audio/TestSources.h"
#include "audio/WavFixtures.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
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

constexpr double kWarmUpSeconds = 1.0;
constexpr double kMinSeconds = 3.0;

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs one operation per iteration after an untimed preparation; reports its rate and how
// busy it kept the process (the CPU of every thread, over the wall time).
template <typename Prepare, typename Operation>
void Measure(benchmark::State& state, std::int64_t bytes, Prepare prepare, Operation operation) {
    Files(); // fixtures are made before the clock runs
    double cpu = 0;
    std::chrono::duration<double> wall{0};
    for (auto _ : state) {
        state.PauseTiming();
        prepare();
        state.ResumeTiming();
        const double cpuStart = ProcessCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(operation());
        cpu += ProcessCpuSeconds() - cpuStart;
        wall += std::chrono::steady_clock::now() - wallStart;
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSeconds, benchmark::Counter::kIsRate);
    state.counters["cpu_share"] = wall.count() > 0 ? cpu / wall.count() : 0.0;
    // The rate a busy machine cannot spoil: bytes per second of the process's CPU.
    state.counters["cpu_MB_per_s"] =
        cpu > 0 ? static_cast<double>(state.iterations() * bytes) / cpu / 1e6 : 0.0;
}

// Each copy writes a new file, as a conversion does. Rewriting the last copy's file instead
// made every copy wait for the disk: ext4 starts writing a file back when it is closed after
// being truncated, and truncating it again waits for that write.
void RemoveOutput() {
    std::remove(Files().out.c_str());
}

void Nothing() {}

constexpr std::int64_t kPcmBytes = std::int64_t{kSeconds} * kRate * 4;

void BM_PcmCopy(benchmark::State& state) {
    Measure(state, kPcmBytes, RemoveOutput, [] { return Copy(Files().pcm, Files().out, wtPCM); });
}

void BM_ImaEncode(benchmark::State& state) {
    Measure(state, kPcmBytes, RemoveOutput,
            [] { return Copy(Files().pcm, Files().out, wtDVIADPCM); });
}

void BM_ImaDecode(benchmark::State& state) {
    Measure(state, kPcmBytes, Nothing, [] { return ReadAll(Files().ima); });
}

void BM_MsDecode(benchmark::State& state) {
    Measure(state, kPcmBytes, Nothing, [] { return ReadAll(Files().ms); });
}

void Configure(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MeasureProcessCPUTime()
        ->MinWarmUpTime(kWarmUpSeconds)
        ->MinTime(kMinSeconds);
}

BENCHMARK(BM_PcmCopy)->Apply(Configure);
BENCHMARK(BM_ImaEncode)->Apply(Configure);
BENCHMARK(BM_ImaDecode)->Apply(Configure);
BENCHMARK(BM_MsDecode)->Apply(Configure);

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
