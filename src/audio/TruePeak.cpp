#include "audio/TruePeak.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace audio {

namespace {

constexpr std::size_t kFactor = 4;
constexpr std::size_t kPhases = kFactor - 1; // phase 0 is the sample itself
constexpr std::size_t kDesignTaps = 49;
constexpr float kFullScale = 32768.0f;

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

} // namespace

TTruePeak::TTruePeak(unsigned channels) : channels_(channels), lines_(channels) {
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
    for (unsigned c = 0; c < channels_; ++c) {
        TLine& line = lines_[c];
        float* block = line.data() + (kTaps - 1);
        for (std::size_t i = 0; i < frames; ++i) {
            block[i] = static_cast<float>(interleaved[i * channels_ + c]) / kFullScale;
        }
        std::fill(block + frames, block + kBlock, 0.0f);
        float largest = 0.0f;
        for (std::size_t i = 0; i < kTaps - 1 + frames; ++i) {
            largest = std::max(largest, std::fabs(line[i]));
        }
        peak_ = std::max(peak_, largest); // the samples themselves
        if (largest * WindowGain() > peak_) {
            Interpolate(line, frames);
        }
        // The block's last samples are the next block's history.
        std::copy(block + frames - (kTaps - 1), block + frames, line.begin());
    }
}

void TTruePeak::Interpolate(const TLine& line, std::size_t frames) {
    // Four outputs of each phase at a time, the three phases sharing each load of the input.
    using TLanes = float __attribute__((vector_size(4 * sizeof(float))));
    const TPhases& phases = Phases();
    TLanes most{};
    std::size_t n = 0;
    for (; n + 4 <= frames; n += 4) {
        TLanes a{};
        TLanes b{};
        TLanes c{};
        for (std::size_t k = 0; k < kTaps; ++k) {
            TLanes x;
            std::memcpy(&x, &line[kTaps - 1 + n - k], sizeof x);
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
    for (std::size_t lane = 0; lane < 4; ++lane) {
        peak_ = std::max(peak_, most[lane]);
    }
    for (; n < frames; ++n) { // the last few of a short block
        for (const auto& phase : phases) {
            float out = 0.0f;
            for (std::size_t k = 0; k < kTaps; ++k) {
                out += phase[k] * line[kTaps - 1 + n - k];
            }
            peak_ = std::max(peak_, std::fabs(out));
        }
    }
}

} // namespace audio
