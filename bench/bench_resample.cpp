// Rate conversion cost: one minute of stereo 16-bit audio through TRateConverter (KernelWidth
// 30, Blackman window) to 44100 Hz, pulled in 16384-byte blocks as a WAV writer would.
// The reported time per iteration is the time per minute of audio.
#include "audio/ACS_Converters.h"
#include "audio/TestSources.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using audio::test::Bytes;

Bytes MinuteOfMusic(std::int32_t rate) {
    // Two tones and some noise, so every sample differs.
    Bytes pcm = audio::test::SinePcm(rate, {440.0, 1234.5}, 60.0, 12000);
    std::mt19937 noise(7);
    std::uniform_int_distribution<int> d(-300, 300);
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        const int s = static_cast<std::int16_t>(pcm[i] | (pcm[i + 1] << 8)) + d(noise);
        pcm[i] = static_cast<std::uint8_t>(s & 0xFF);
        pcm[i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
    }
    return pcm;
}

void Resample(benchmark::State& state, std::int32_t inRate) {
    audio::test::TMemorySource source(MinuteOfMusic(inRate), inRate, 2, 16);
    audio::TRateConverter rate;
    rate.SetOutSampleRate(44100);
    rate.SetKernelWidth(30);
    rate.SetFilterWindow(audio::fwBlackman);
    rate.SetInput(&source);
    std::vector<std::uint8_t> block(16384);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        rate.Init();
        for (std::int32_t n; (n = rate.GetData(block.data(), 16384)) > 0;) {
            bytes += n;
        }
        rate.Flush();
        benchmark::DoNotOptimize(block.data());
    }
    state.counters["out_MB"] = benchmark::Counter(static_cast<double>(bytes) / 1e6 /
                                                  static_cast<double>(state.iterations()));
}

void BM_Resample22050To44100Stereo(benchmark::State& state) {
    Resample(state, 22050);
}
void BM_Resample48000To44100Stereo(benchmark::State& state) {
    Resample(state, 48000);
}

} // namespace

BENCHMARK(BM_Resample22050To44100Stereo)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Resample48000To44100Stereo)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
