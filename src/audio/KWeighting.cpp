#include "audio/KWeighting.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

namespace audio {

namespace {

constexpr double kFullScale = 32768.0;
// The absolute gate, -70 LUFS, as an energy.
const double kAbsoluteGate = std::pow(10.0, (-70.0 + 0.691) / 10.0);

constexpr std::size_t kOrder = TKWeighting::kOrder;
using TQuad = double __attribute__((vector_size(TKWeighting::kLanes * sizeof(double))));
using TShorts =
    std::int16_t __attribute__((vector_size(TKWeighting::kLanes * sizeof(std::int16_t))));
using TInts = std::int32_t __attribute__((vector_size(TKWeighting::kLanes * sizeof(std::int32_t))));

// By reference, in and out: a vector this wide passed by value changes the ABI.
[[gnu::always_inline]] inline void Read(TQuad& v,
                                        const std::array<double, TKWeighting::kLanes>& lanes) {
    std::memcpy(&v, lanes.data(), sizeof v);
}
[[gnu::always_inline]] inline void Write(std::array<double, TKWeighting::kLanes>& lanes,
                                         const TQuad& v) {
    std::memcpy(lanes.data(), &v, sizeof v);
}

// Runs the filter over `steps` stereo frames from `a` (lanes 0-1) and `b` (lanes 2-3) and
// adds each lane's squared outputs into sums.
[[gnu::always_inline]] inline void StepKernel(const TKWeighting::TFilter& f,
                                              TKWeighting::TLaneState& s, const std::int16_t* a,
                                              const std::int16_t* b, std::size_t steps,
                                              double* sums) {
    TQuad x1, x2, x3, x4, y1, y2, y3, y4;
    Read(x1, s.x[0]);
    Read(x2, s.x[1]);
    Read(x3, s.x[2]);
    Read(x4, s.x[3]);
    Read(y1, s.y[0]);
    Read(y2, s.y[1]);
    Read(y3, s.y[2]);
    Read(y4, s.y[3]);
    // Inputs stay 16-bit sample values: the scale is in the numerator (exact, a power of two).
    const double b0 = f.b[0] / kFullScale, b1 = f.b[1] / kFullScale, b2 = f.b[2] / kFullScale,
                 b3 = f.b[3] / kFullScale, b4 = f.b[4] / kFullScale;
    const double a1 = f.a[1], a2 = f.a[2], a3 = f.a[3], a4 = f.a[4];
    TQuad sum;
    std::memcpy(&sum, sums, sizeof sum);
    for (std::size_t t = 0; t < steps; ++t) {
        std::int16_t four[TKWeighting::kLanes];
        std::memcpy(four, a + 2 * t, 2 * sizeof(std::int16_t));
        std::memcpy(four + 2, b + 2 * t, 2 * sizeof(std::int16_t));
        TShorts packed;
        std::memcpy(&packed, four, sizeof packed);
        // Widened in two steps: in one, the compiler converts lane by lane.
        const TQuad x0 = __builtin_convertvector(__builtin_convertvector(packed, TInts), TQuad);
        // Everything but the last output first: the next step waits only on a1 * y1.
        const TQuad fed = (b0 * x0 + b1 * x1 + b2 * x2) + (b3 * x3 + b4 * x4);
        const TQuad older = a2 * y2 + a3 * y3 + a4 * y4;
        const TQuad y0 = (fed - older) - a1 * y1;
        sum += y0 * y0;
        x4 = x3;
        x3 = x2;
        x2 = x1;
        x1 = x0;
        y4 = y3;
        y3 = y2;
        y2 = y1;
        y1 = y0;
    }
    std::memcpy(sums, &sum, sizeof sum);
    Write(s.x[0], x1);
    Write(s.x[1], x2);
    Write(s.x[2], x3);
    Write(s.x[3], x4);
    Write(s.y[0], y1);
    Write(s.y[1], y2);
    Write(s.y[2], y3);
    Write(s.y[3], y4);
}

void StepsBase(const TKWeighting::TFilter& f, TKWeighting::TLaneState& s, const std::int16_t* a,
               const std::int16_t* b, std::size_t steps, double* sums) {
    StepKernel(f, s, a, b, steps, sums);
}

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2,fma")]] void StepsAvx2(const TKWeighting::TFilter& f,
                                           TKWeighting::TLaneState& s, const std::int16_t* a,
                                           const std::int16_t* b, std::size_t steps, double* sums) {
    StepKernel(f, s, a, b, steps, sums);
}
#endif

void Steps(TSimdLevel level, const TKWeighting::TFilter& f, TKWeighting::TLaneState& s,
           const std::int16_t* a, const std::int16_t* b, std::size_t steps, double* sums) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (level == TSimdLevel::Avx2) {
        return StepsAvx2(f, s, a, b, steps, sums);
    }
#endif
    (void)level;
    StepsBase(f, s, a, b, steps, sums);
}

} // namespace

TKWeighting::TFilter TKWeighting::Design(unsigned long sampleRate) {
    const double rate = static_cast<double>(sampleRate);
    // The high shelf: +4 dB above about 1.7 kHz, the head's effect.
    double f0 = 1681.974450955533;
    const double gain = 3.999843853973347;
    double q = 0.7071752369554196;
    double k = std::tan(std::numbers::pi * f0 / rate);
    const double vh = std::pow(10.0, gain / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    const std::array<double, 3> pb = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0,
                                      (vh - vb * k / q + k * k) / a0};
    const std::array<double, 3> pa = {1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    // The high-pass at 38 Hz (its numerator unscaled, as the standard gives it).
    f0 = 38.13547087602444;
    q = 0.5003270373238773;
    k = std::tan(std::numbers::pi * f0 / rate);
    a0 = 1.0 + k / q + k * k;
    const std::array<double, 3> rb = {1.0, -2.0, 1.0};
    const std::array<double, 3> ra = {1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    TFilter f{};
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            f.b[i + j] += pb[i] * rb[j];
            f.a[i + j] += pa[i] * ra[j];
        }
    }
    return f;
}

TKWeighting::TKWeighting(unsigned channels, unsigned long sampleRate, TSimdLevel level)
    : channels_(channels), level_(level), filter_(Design(sampleRate)) {
    if (channels < 1 || channels > 2 || sampleRate < 100) {
        throw std::invalid_argument(
            "the loudness meter takes one or two channels, at 100 Hz or more");
    }
    gating_.segmentFrames = (sampleRate + 5) / 10;
    sliceFrames_ = kSliceSegments * gating_.segmentFrames;
    warmFrames_ = sampleRate / 5;
    pending_.resize(2 * 2 * sliceFrames_);
}

void TKWeighting::Reset() {
    state_ = {};
    const std::size_t segmentFrames = gating_.segmentFrames;
    gating_ = TGating{};
    gating_.segmentFrames = segmentFrames;
    pendingFrames_ = 0;
}

void TKWeighting::Add(const std::int16_t* interleaved, std::size_t frames) {
    const std::size_t pairFrames = 2 * sliceFrames_;
    while (frames > 0) {
        const std::size_t take = std::min(frames, pairFrames - pendingFrames_);
        std::int16_t* into = pending_.data() + 2 * pendingFrames_;
        if (channels_ == 2) {
            std::copy(interleaved, interleaved + 2 * take, into);
        } else {
            for (std::size_t i = 0; i < take; ++i) { // the right channel silent
                into[2 * i] = interleaved[i];
                into[2 * i + 1] = 0;
            }
        }
        interleaved += take * channels_;
        frames -= take;
        pendingFrames_ += take;
        if (pendingFrames_ == pairFrames) {
            FilterSlices();
            pendingFrames_ = 0;
        }
    }
}

void TKWeighting::Segments(TLaneState& state, const std::int16_t* a, const std::int16_t* b,
                           std::size_t count, double* energyA, double* energyB) const {
    const std::size_t frames = gating_.segmentFrames;
    for (std::size_t i = 0; i < count; ++i) {
        std::array<double, kLanes> sums{};
        Steps(level_, filter_, state, a + 2 * i * frames, b + 2 * i * frames, frames, sums.data());
        energyA[i] = sums[0] + sums[1];
        energyB[i] = sums[2] + sums[3];
    }
}

void TKWeighting::FilterSlices() {
    const std::int16_t* first = pending_.data();
    const std::int16_t* second = first + 2 * sliceFrames_;
    // The second slice's state: the filter run from rest over the frames before it (on both
    // halves of the lanes; the copy on lanes 2-3 is not used).
    TLaneState warm;
    const std::int16_t* lead = second - 2 * warmFrames_;
    std::array<double, kLanes> unused{};
    Steps(level_, filter_, warm, lead, lead, warmFrames_, unused.data());
    TLaneState state = state_;
    for (std::size_t d = 0; d < kOrder; ++d) {
        state.x[d][2] = warm.x[d][0];
        state.x[d][3] = warm.x[d][1];
        state.y[d][2] = warm.y[d][0];
        state.y[d][3] = warm.y[d][1];
    }
    std::array<double, 2 * kSliceSegments> energies{};
    Segments(state, first, second, kSliceSegments, energies.data(),
             energies.data() + kSliceSegments);
    for (const double energy : energies) {
        gating_.AddSegment(energy);
    }
    // The stream goes on from the second slice's end.
    for (std::size_t d = 0; d < kOrder; ++d) {
        for (std::size_t lane = 0; lane < 2; ++lane) {
            state_.x[d][lane] = state.x[d][lane + 2];
            state_.y[d][lane] = state.y[d][lane + 2];
        }
    }
}

std::vector<double> TKWeighting::Blocks() const {
    // The frames of an unfinished pair of slices, filtered in order on lanes 0-1: only whole
    // segments can close a block.
    const std::size_t whole = pendingFrames_ / gating_.segmentFrames;
    TGating gating = gating_;
    TLaneState state = state_;
    std::vector<double> energies(whole);
    std::vector<double> copies(whole);
    Segments(state, pending_.data(), pending_.data(), whole, energies.data(), copies.data());
    for (const double energy : energies) {
        gating.AddSegment(energy);
    }
    return gating.blocks;
}

void TKWeighting::TGating::AddSegment(double energy) {
    if (segments >= previous.size()) {
        const double block = (previous[0] + previous[1] + previous[2] + energy) /
                             static_cast<double>(4 * segmentFrames);
        if (block >= kAbsoluteGate) {
            blocks.push_back(block);
        }
    }
    previous = {previous[1], previous[2], energy};
    ++segments;
}

std::optional<double> TKWeighting::GatedLoudness(std::span<const double> blocks) {
    if (blocks.empty()) {
        return std::nullopt;
    }
    double mean = 0;
    for (const double block : blocks) {
        mean += block;
    }
    const double relativeGate = mean / static_cast<double>(blocks.size()) * 0.1;
    double gated = 0;
    std::size_t passed = 0;
    for (const double block : blocks) {
        if (block >= relativeGate) {
            gated += block;
            ++passed;
        }
    }
    if (passed == 0) {
        return std::nullopt;
    }
    return 10.0 * std::log10(gated / static_cast<double>(passed)) - 0.691;
}

} // namespace audio
