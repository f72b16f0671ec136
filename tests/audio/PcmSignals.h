#pragma once
// Test signals for the codec tests as raw PCM bytes of any bit depth: a chord with noise, so
// every bit of every sample matters to a lossless codec and a lossy one has music-like work.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "audio/PcmFormat.h"

namespace audio::test {

inline std::vector<std::int32_t> ChordSamples(std::size_t frames, const TPcmFormat& format,
                                              double noise = 0.05, unsigned seed = 7) {
    const double full = std::ldexp(1.0, format.BitsPerSample - 1);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-noise, noise);
    std::vector<std::int32_t> samples;
    samples.reserve(frames * static_cast<std::size_t>(format.Channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / format.SampleRate;
        for (int c = 0; c < format.Channels; ++c) {
            const double v = 0.3 * std::sin(2 * M_PI * (220.0 + 110 * c) * t) +
                             0.2 * std::sin(2 * M_PI * 1375.0 * t + c) +
                             0.1 * std::sin(2 * M_PI * 4400.0 * t) + jitter(random);
            const double scaled = std::round(v * full);
            samples.push_back(static_cast<std::int32_t>(std::clamp(scaled, -full, full - 1)));
        }
    }
    return samples;
}

inline std::vector<std::uint8_t> ChordPcm(std::size_t frames, const TPcmFormat& format,
                                          double noise = 0.05) {
    std::vector<std::uint8_t> bytes;
    Int32ToPcm(ChordSamples(frames, format, noise), format, bytes);
    return bytes;
}

} // namespace audio::test
