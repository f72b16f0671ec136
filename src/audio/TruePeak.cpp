#include "audio/TruePeak.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace audio {

namespace {

constexpr std::size_t kFactor = 4;
constexpr std::size_t kPhases = kFactor - 1; // phase 0 is the sample itself
constexpr std::size_t kDesignTaps = 49;
constexpr float kFullScale = 32768.0f;

using TFloat4 = float __attribute__((vector_size(4 * sizeof(float))));
using TFloat8 = float __attribute__((vector_size(8 * sizeof(float))));

using TPhases = std::array<std::array<float, TTruePeak::kTaps>, kPhases>;

// Tap j of the design (centred on tap 24) feeds phase j % 4 at delay j / 4.
TPhases DesignPhases() {
    TPhases phases{};
    for (std::size_t j = 0; j < kDesignTaps; ++j) {
        const std::size_t phase = j % kFactor;
        if (phase == 0) {
            continue; // zeros of the sinc, and the centre tap of 1: the sample itself
        }
        const double m = static_cast<double>(j) - (kDesignTaps - 1) / 2.0;
        const double x = m * std::numbers::pi / static_cast<double>(kFactor);
        const double window =
            0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(j) /
                                  static_cast<double>(kDesignTaps - 1)));
        phases[phase - 1][j / kFactor] = static_cast<float>(std::sin(x) / x * window);
    }
    return phases;
}

const TPhases& Phases() {
    static const TPhases phases = DesignPhases();
    return phases;
}

// No interpolated value exceeds the largest input magnitude in its window times this.
float WindowGain() {
    static const float gain = [] {
        float most = 1.0f;
        for (const auto& phase : Phases()) {
            float sum = 0.0f;
            for (const float c : phase) {
                sum += std::fabs(c);
            }
            most = std::max(most, sum);
        }
        return most * 1.0001f; // room for the rounding of float sums
    }();
    return gain;
}

// Two vectors of lanes side by side: a running maximum, one element at a time, would wait on
// itself at every step.
float LargestMagnitude(const std::array<float, TTruePeak::kTaps - 1 + TTruePeak::kBlock>& line) {
    TFloat4 most[2] = {};
    std::size_t i = 0;
    for (; i + 8 <= line.size(); i += 8) {
        for (std::size_t half = 0; half < 2; ++half) {
            TFloat4 x;
            std::memcpy(&x, line.data() + i + 4 * half, sizeof x);
            most[half] = most[half] > x ? most[half] : x;
            most[half] = most[half] > -x ? most[half] : -x;
        }
    }
    float largest = 0.0f;
    for (std::size_t lane = 0; lane < 4; ++lane) {
        largest = std::max({largest, most[0][lane], most[1][lane]});
    }
    for (; i < line.size(); ++i) {
        largest = std::max(largest, std::fabs(line[i]));
    }
    return largest;
}

// Stereo samples to two lines of floats, four frames at a time.
void SplitStereo(const std::int16_t* interleaved, std::size_t frames, float* left, float* right) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(1.0f / kFullScale);
    for (; i + 4 <= frames; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(interleaved + 2 * i));
        // Each 16-bit sample into the top of a 32-bit lane, then shifted down with its sign.
        const __m128 low = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
        const __m128 high = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16));
        _mm_storeu_ps(left + i,
                      _mm_mul_ps(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)), scale));
        _mm_storeu_ps(right + i,
                      _mm_mul_ps(_mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)), scale));
    }
#endif
    for (; i < frames; ++i) {
        left[i] = static_cast<float>(interleaved[2 * i]) / kFullScale;
        right[i] = static_cast<float>(interleaved[2 * i + 1]) / kFullScale;
    }
}

} // namespace

TTruePeak::TTruePeak(unsigned channels, TSimdLevel level)
    : channels_(channels), level_(level), lines_(channels) {
    Reset();
}

void TTruePeak::Reset() {
    for (TLine& line : lines_) {
        line.fill(0.0f);
    }
    peak_ = 0.0f;
}

void TTruePeak::Add(const std::int16_t* interleaved, std::size_t frames) {
    while (frames > 0) {
        const std::size_t now = std::min(frames, kBlock);
        AddBlock(interleaved, now);
        interleaved += now * channels_;
        frames -= now;
    }
}

void TTruePeak::AddBlock(const std::int16_t* interleaved, std::size_t frames) {
    if (channels_ == 2) {
        SplitStereo(interleaved, frames, lines_[0].data() + (kTaps - 1),
                    lines_[1].data() + (kTaps - 1));
    } else {
        for (unsigned c = 0; c < channels_; ++c) {
            float* block = lines_[c].data() + (kTaps - 1);
            for (std::size_t i = 0; i < frames; ++i) {
                block[i] = static_cast<float>(interleaved[i * channels_ + c]) / kFullScale;
            }
        }
    }
    for (unsigned c = 0; c < channels_; ++c) {
        TLine& line = lines_[c];
        float* block = line.data() + (kTaps - 1);
        std::fill(block + frames, block + kBlock, 0.0f);
        const float largest = LargestMagnitude(line); // the padding after the block is 0
        peak_ = std::max(peak_, largest);             // the samples themselves
        if (largest * WindowGain() > peak_) {
            Interpolate(line, frames);
        }
        // The block's last samples are the next block's history.
        std::copy(block + frames - (kTaps - 1), block + frames, line.begin());
    }
}

namespace {

// The largest magnitude of the three interpolated phases over `frames` outputs of a block, L
// outputs of each phase at a time, the phases sharing each load of the input.
template <typename TLanes>
[[gnu::always_inline]] inline float InterpolateKernel(const float* line, std::size_t frames) {
    constexpr std::size_t L = sizeof(TLanes) / sizeof(float);
    const TPhases& phases = Phases();
    TLanes most{};
    std::size_t n = 0;
    for (; n + L <= frames; n += L) {
        TLanes a{};
        TLanes b{};
        TLanes c{};
#pragma GCC unroll 12
        for (std::size_t k = 0; k < TTruePeak::kTaps; ++k) {
            TLanes x;
            std::memcpy(&x, line + TTruePeak::kTaps - 1 + n - k, sizeof x);
            a += phases[0][k] * x;
            b += phases[1][k] * x;
            c += phases[2][k] * x;
        }
        most = most > a ? most : a; // the largest magnitude: each sum and its negation
        most = most > -a ? most : -a;
        most = most > b ? most : b;
        most = most > -b ? most : -b;
        most = most > c ? most : c;
        most = most > -c ? most : -c;
    }
    float peak = 0.0f;
    for (std::size_t lane = 0; lane < L; ++lane) {
        peak = std::max(peak, most[lane]);
    }
    for (; n < frames; ++n) { // the last few of a short block
        for (const auto& phase : phases) {
            float out = 0.0f;
            for (std::size_t k = 0; k < TTruePeak::kTaps; ++k) {
                out += phase[k] * line[TTruePeak::kTaps - 1 + n - k];
            }
            peak = std::max(peak, std::fabs(out));
        }
    }
    return peak;
}

float InterpolateBase(const float* line, std::size_t frames) {
    return InterpolateKernel<TFloat4>(line, frames);
}

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2,fma")]] float InterpolateAvx2(const float* line, std::size_t frames) {
    return InterpolateKernel<TFloat8>(line, frames);
}
#endif

} // namespace

void TTruePeak::Interpolate(const TLine& line, std::size_t frames) {
    float peak = 0.0f;
#if defined(__x86_64__) && defined(__GNUC__)
    if (level_ == TSimdLevel::Avx2) {
        peak = InterpolateAvx2(line.data(), frames);
    } else {
        peak = InterpolateBase(line.data(), frames);
    }
#else
    peak = InterpolateBase(line.data(), frames);
#endif
    peak_ = std::max(peak_, peak);
}

} // namespace audio
