#include "audio/TruePeak.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

// Stereo samples to two lines of floats, four frames at a time, and each channel's largest
// sample magnitude.
std::array<int, 2> SplitStereo(const std::int16_t* interleaved, std::size_t frames, float* left,
                               float* right) {
    std::size_t i = 0;
    std::array<int, 2> largest{};
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(1.0f / kFullScale);
    __m128i most = _mm_setzero_si128();
    __m128i least = _mm_setzero_si128();
    for (; i + 4 <= frames; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(interleaved + 2 * i));
        most = _mm_max_epi16(most, v);
        least = _mm_min_epi16(least, v);
        // Each 16-bit sample into the top of a 32-bit lane, then shifted down with its sign.
        const __m128 low = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
        const __m128 high = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16));
        _mm_storeu_ps(left + i,
                      _mm_mul_ps(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)), scale));
        _mm_storeu_ps(right + i,
                      _mm_mul_ps(_mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)), scale));
    }
    alignas(16) std::int16_t mostLanes[8];
    alignas(16) std::int16_t leastLanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(mostLanes), most);
    _mm_store_si128(reinterpret_cast<__m128i*>(leastLanes), least);
    for (std::size_t lane = 0; lane < 8; ++lane) { // left in the even lanes, right in the odd
        int& channel = largest[lane % 2];
        channel = std::max({channel, int{mostLanes[lane]}, -int{leastLanes[lane]}});
    }
#endif
    for (; i < frames; ++i) {
        left[i] = static_cast<float>(interleaved[2 * i]) / kFullScale;
        right[i] = static_cast<float>(interleaved[2 * i + 1]) / kFullScale;
        largest[0] = std::max(largest[0], std::abs(int{interleaved[2 * i]}));
        largest[1] = std::max(largest[1], std::abs(int{interleaved[2 * i + 1]}));
    }
    return largest;
}

// The design is symmetric: phase 3 is phase 1 reversed, and phase 2 is its own reverse. So
// with the sums and differences of inputs paired from both ends of the window, phase 2 is
// half a filter, and phases 1 and 3 are S + D and S - D of two half filters, whose larger
// magnitude is |S| + |D|.
struct THalves {
    std::array<float, TTruePeak::kTaps / 2> middle; // phase 2
    std::array<float, TTruePeak::kTaps / 2> even;   // (phase 1 + phase 3) / 2
    std::array<float, TTruePeak::kTaps / 2> odd;    // (phase 1 - phase 3) / 2
};

const THalves& Halves() {
    static const THalves halves = [] {
        const TPhases& phases = Phases();
        THalves h{};
        for (std::size_t d = 0; d < TTruePeak::kTaps / 2; ++d) {
            h.middle[d] = phases[1][d];
            h.even[d] = (phases[0][d] + phases[2][d]) / 2.0f;
            h.odd[d] = (phases[0][d] - phases[2][d]) / 2.0f;
        }
        return h;
    }();
    return halves;
}

// In place: a wide vector returned by value changes the ABI.
template <typename TLanes> [[gnu::always_inline]] inline void ToMagnitude(TLanes& v) {
    v = v > 0 ? v : -v;
}

// The largest magnitude of the three interpolated phases over `frames` outputs of a block, a
// vector of outputs at a time.
template <typename TLanes>
[[gnu::always_inline]] inline float InterpolateKernel(const float* line, std::size_t frames) {
    constexpr std::size_t L = sizeof(TLanes) / sizeof(float);
    constexpr std::size_t kLast = TTruePeak::kTaps - 1;
    const THalves& halves = Halves();
    TLanes most{};
    std::size_t n = 0;
    for (; n + L <= frames; n += L) {
        TLanes middle{};
        TLanes even{};
        TLanes odd{};
#pragma GCC unroll 6
        for (std::size_t d = 0; d < TTruePeak::kTaps / 2; ++d) {
            TLanes newer;
            TLanes older;
            std::memcpy(&newer, line + kLast + n - d, sizeof newer);
            std::memcpy(&older, line + n + d, sizeof older);
            const TLanes sum = newer + older;
            middle += halves.middle[d] * sum;
            even += halves.even[d] * sum;
            odd += halves.odd[d] * (newer - older);
        }
        ToMagnitude(even);
        ToMagnitude(odd);
        ToMagnitude(middle);
        const TLanes outer = even + odd;
        most = most > outer ? most : outer;
        most = most > middle ? most : middle;
    }
    float peak = 0.0f;
    for (std::size_t lane = 0; lane < L; ++lane) {
        peak = std::max(peak, most[lane]);
    }
    for (; n < frames; ++n) { // the last few of an unfinished block
        float middle = 0.0f;
        float even = 0.0f;
        float odd = 0.0f;
        for (std::size_t d = 0; d < TTruePeak::kTaps / 2; ++d) {
            const float newer = line[kLast + n - d];
            const float older = line[n + d];
            middle += halves.middle[d] * (newer + older);
            even += halves.even[d] * (newer + older);
            odd += halves.odd[d] * (newer - older);
        }
        peak = std::max({peak, std::fabs(even) + std::fabs(odd), std::fabs(middle)});
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

TTruePeak::TTruePeak(unsigned channels, TSimdLevel level)
    : channels_(channels), level_(level), lines_(channels), largest_(channels) {
    Reset();
}

void TTruePeak::Reset() {
    for (TLine& line : lines_) {
        line.fill(0.0f);
    }
    std::fill(largest_.begin(), largest_.end(), 0);
    filled_ = 0;
    peak_ = 0.0f;
}

void TTruePeak::Add(const std::int16_t* interleaved, std::size_t frames) {
    while (frames > 0) {
        const std::size_t now = std::min(frames, kBlock - filled_);
        Fill(interleaved, now);
        interleaved += now * channels_;
        frames -= now;
        if (filled_ < kBlock) {
            return;
        }
        for (unsigned c = 0; c < channels_; ++c) {
            TLine& line = lines_[c];
            peak_ = Measure(line, kBlock, largest_[c], peak_);
            // The block's last samples are the next block's history.
            std::copy(line.begin() + kBlock, line.end(), line.begin());
            largest_[c] = 0;
        }
        filled_ = 0;
    }
}

double TTruePeak::Peak() const {
    float peak = peak_;
    for (unsigned c = 0; c < channels_ && filled_ > 0; ++c) {
        peak = Measure(lines_[c], filled_, largest_[c], peak);
    }
    return peak;
}

void TTruePeak::Fill(const std::int16_t* interleaved, std::size_t frames) {
    if (channels_ == 2) {
        const std::array<int, 2> largest =
            SplitStereo(interleaved, frames, lines_[0].data() + (kTaps - 1) + filled_,
                        lines_[1].data() + (kTaps - 1) + filled_);
        largest_[0] = std::max(largest_[0], largest[0]);
        largest_[1] = std::max(largest_[1], largest[1]);
    } else {
        for (unsigned c = 0; c < channels_; ++c) {
            float* block = lines_[c].data() + (kTaps - 1) + filled_;
            for (std::size_t i = 0; i < frames; ++i) {
                const std::int16_t sample = interleaved[i * channels_ + c];
                block[i] = static_cast<float>(sample) / kFullScale;
                largest_[c] = std::max(largest_[c], std::abs(int{sample}));
            }
        }
    }
    filled_ += frames;
}

float TTruePeak::Measure(const TLine& line, std::size_t frames, int largest, float peak) const {
    const float samples = static_cast<float>(largest) / kFullScale;
    peak = std::max(peak, samples); // the samples themselves
    float window = samples;         // and with the history, what the outputs can reach
    for (std::size_t i = 0; i < kTaps - 1; ++i) {
        window = std::max(window, std::fabs(line[i]));
    }
    if (window * WindowGain() > peak) {
        peak = std::max(peak, Interpolate(line, frames));
    }
    return peak;
}

float TTruePeak::Interpolate(const TLine& line, std::size_t frames) const {
#if defined(__x86_64__) && defined(__GNUC__)
    if (level_ == TSimdLevel::Avx2) {
        return InterpolateAvx2(line.data(), frames);
    }
#endif
    return InterpolateBase(line.data(), frames);
}

} // namespace audio
