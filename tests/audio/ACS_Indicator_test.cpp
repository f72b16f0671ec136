#include "audio/ACS_Indicator.h"

#include "audio/TestSources.h"

#include <gtest/gtest.h>

#include <complex>

using namespace audio;
using namespace audio::test;

namespace {

// The band levels of one 64-frame block by a plain DFT, for comparison with the filter's FFT.
std::array<double, 32> DirectLevels(const std::vector<double>& block) {
    std::array<double, 32> levels{};
    for (int k = 0; k < 32; ++k) {
        std::complex<double> sum = 0;
        for (int n = 0; n < 64; ++n) {
            const double w = (1 - std::cos(2 * std::numbers::pi * n / 1023)) / 2;
            sum += block[static_cast<std::size_t>(n)] * w *
                   std::polar(1.0, -2 * std::numbers::pi * k * n / 64);
        }
        const double m = std::abs(sum / 64.0);
        levels[static_cast<std::size_t>(k)] = m != 0 && std::log10(m) > 0 ? std::log10(m) : 0;
    }
    return levels;
}

} // namespace

TEST(SoundIndicator, PassesTheDataOnUnchangedAndFollowsTheInputsPosition) {
    const Bytes pcm = SinePcm(44100, {440.0, 880.0}, 0.3, 20000);
    TMemorySource source(pcm, 44100, 2, 16);
    source.chunk = 3000;
    TSoundIndicator indicator;
    EXPECT_THROW(indicator.Channels(), EACSException);
    EXPECT_THROW(indicator.Init(), EACSException);
    EXPECT_THROW(indicator.GetData(nullptr, 1), EACSException);
    indicator.SetInput(&source);
    EXPECT_EQ(indicator.SampleRate(), 44100);
    indicator.Init();
    EXPECT_EQ(indicator.Size(), static_cast<std::int32_t>(pcm.size()));
    Bytes out;
    std::vector<std::uint8_t> buffer(8192);
    for (std::int32_t n; (n = indicator.GetData(buffer.data(), 8192)) > 0;) {
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
        EXPECT_EQ(indicator.Position(), source.Position());
    }
    indicator.Flush();
    EXPECT_FALSE(indicator.Busy());
    EXPECT_EQ(source.flushes.load(), 1);
    EXPECT_TRUE(out == pcm);
}

TEST(SoundIndicator, BandsMatchADirectTransformOfTheChannelMean) {
    // Two blocks of a 16-bit stereo signal whose channels differ, so the mean matters.
    const Bytes pcm = SinePcm(44100, {44100.0 * 5 / 64, 44100.0 * 12 / 64}, 128.0 / 44100, 30000);
    const auto samples = S16Samples(pcm);
    std::array<double, 32> expected{};
    for (int block = 0; block < 2; ++block) {
        std::vector<double> mean(64);
        for (int n = 0; n < 64; ++n) {
            const size_t frame = static_cast<size_t>(block * 64 + n);
            mean[static_cast<std::size_t>(n)] = (samples[2 * frame] + samples[2 * frame + 1]) / 2.0;
        }
        const auto levels = DirectLevels(mean);
        for (std::size_t k = 0; k < 32; ++k) {
            expected[k] += levels[k] / 2; // summed over the call, divided by its two blocks
        }
    }
    TMemorySource source(pcm, 44100, 2, 16);
    TSoundIndicator indicator;
    indicator.SetInput(&source);
    indicator.Init();
    std::vector<std::uint8_t> buffer(pcm.size());
    ASSERT_EQ(indicator.GetData(buffer.data(), static_cast<std::int32_t>(buffer.size())),
              static_cast<std::int32_t>(pcm.size()));
    std::array<double, 32> values{};
    indicator.GetValues(values);
    for (std::size_t k = 0; k < 32; ++k) {
        EXPECT_NEAR(values[k], expected[k] * 20, 1e-9) << "band " << k;
    }
    EXPECT_GT(values[5], values[20]);
    indicator.GetValues(values); // read once: cleared
    for (double v : values) {
        EXPECT_EQ(v, 0.0);
    }
    indicator.Flush();
}

TEST(SoundIndicator, ShortDeliveriesAndSilenceAddNothing) {
    Bytes data = SinePcm(8000, {1000.0}, 0.05, 20000); // 8-bit mono below: raw bytes
    Bytes silence(4 * 64 * 3, 0);
    data.resize(100); // 25 stereo frames
    TMemorySource shortSource(data, 8000, 2, 16);
    TMemorySource silent(silence, 8000, 2, 16);
    for (TMemorySource* source : {&shortSource, &silent}) {
        TSoundIndicator indicator;
        indicator.SetInput(source);
        indicator.Init();
        std::vector<std::uint8_t> buffer(4096);
        while (indicator.GetData(buffer.data(), 4096) > 0) {
        }
        std::array<double, 32> values{};
        values.fill(-1);
        indicator.GetValues(values);
        for (double v : values) {
            EXPECT_EQ(v, 0.0);
        }
        indicator.Flush();
    }
}

TEST(SoundIndicator, ReadingTheBandsWhilePlayingNeverStallsTheData) {
    const Bytes pcm = SinePcm(44100, {1000.0, 1000.0}, 3.0, 10000);
    TMemorySource source(pcm, 44100, 2, 16);
    TSoundIndicator indicator;
    indicator.SetInput(&source);
    indicator.Init();
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    double seen = 0;
    std::thread window([&] {
        std::array<double, 32> values{};
        while (!done) {
            indicator.GetValues(values);
            seen = std::max(seen, *std::max_element(values.begin(), values.end()));
            ++reads;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    while (reads.load() == 0) { // the window is reading before the data flows
        std::this_thread::yield();
    }
    std::size_t total = 0;
    std::vector<std::uint8_t> buffer(1024);
    for (std::int32_t n; (n = indicator.GetData(buffer.data(), 1024)) > 0;) {
        total += static_cast<std::size_t>(n);
    }
    done = true;
    window.join();
    std::array<double, 32> rest{};
    indicator.GetValues(rest); // whatever the window had not taken yet
    seen = std::max(seen, *std::max_element(rest.begin(), rest.end()));
    indicator.Flush();
    EXPECT_EQ(total, pcm.size());
    EXPECT_GT(reads.load(), 0);
    EXPECT_GT(seen, 0.0); // some deliveries were analysed between the reads
}
