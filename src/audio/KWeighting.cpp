#include "audio/KWeighting.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

namespace audio {

namespace {

constexpr std::size_t kRun = TKWeighting::kRun;
constexpr std::size_t kOrder = TKWeighting::kOrder;
constexpr std::size_t kChunkRuns = 512;
constexpr double kFullScale = 32768.0;
// The absolute gate, -70 LUFS, as an energy.
const double kAbsoluteGate = std::pow(10.0, (-70.0 + 0.691) / 10.0);

// One run's outputs, given its inputs and the inputs and outputs before it.
std::array<double, kRun> RunOutputs(const TKWeighting::TFilter& f,
                                    const std::array<double, kRun>& x,
                                    const TKWeighting::TChannelState& before) {
    std::array<double, kRun> y{};
    const auto input = [&](std::ptrdiff_t n) {
        return n >= 0 ? x[static_cast<std::size_t>(n)] : before.x[static_cast<std::size_t>(-n - 1)];
    };
    const auto output = [&](std::ptrdiff_t n) {
        return n >= 0 ? y[static_cast<std::size_t>(n)] : before.y[static_cast<std::size_t>(-n - 1)];
    };
    for (std::size_t n = 0; n < kRun; ++n) {
        const auto at = static_cast<std::ptrdiff_t>(n);
        double sum = 0;
        for (std::size_t k = 0; k <= kOrder; ++k) {
            sum += f.b[k] * input(at - static_cast<std::ptrdiff_t>(k));
        }
        for (std::size_t k = 1; k <= kOrder; ++k) {
            sum -= f.a[k] * output(at - static_cast<std::ptrdiff_t>(k));
        }
        y[n] = sum;
    }
    return y;
}

TKWeighting::TRunMatrix RunMatrix(const TKWeighting::TFilter& f) {
    TKWeighting::TRunMatrix m{};
    for (std::size_t i = 0; i < kRun; ++i) {
        std::array<double, kRun> x{};
        x[i] = 1.0;
        m.input[i] = RunOutputs(f, x, {});
    }
    for (std::size_t j = 0; j < kOrder; ++j) {
        TKWeighting::TChannelState before;
        before.x[j] = 1.0;
        m.pastInput[j] = RunOutputs(f, {}, before);
        before = {};
        before.y[j] = 1.0;
        m.pastOutput[j] = RunOutputs(f, {}, before);
    }
    return m;
}

// Half a run: the first four outputs do not depend on the run's last four inputs, so the
// halves are summed apart.
constexpr std::size_t kHalf = kRun / 2;
using TQuad = double __attribute__((vector_size(kHalf * sizeof(double))));

// Takes its result by reference: a vector this wide returned by value changes the ABI.
[[gnu::always_inline]] inline void Half(TQuad& v, const std::array<double, kRun>& column,
                                        std::size_t half, double scale) {
    std::memcpy(&v, column.data() + half * kHalf, sizeof v);
    v *= scale;
}

// A run's samples, one row per channel.
template <unsigned C>
[[gnu::always_inline]] inline void Convert(const std::int16_t* pcm, double (*x)[kRun]) {
    for (std::size_t i = 0; i < kRun; ++i) {
        for (unsigned c = 0; c < C; ++c) {
            x[c][i] = static_cast<double>(pcm[i * C + c]);
        }
    }
}

// Filters runs of C interleaved channels and stores each run's squared outputs, summed over
// the channels, lane by lane.
template <unsigned C>
[[gnu::always_inline]] inline void
FilterKernel(const TKWeighting::TRunMatrix& m, TKWeighting::TChannelState* states,
             const std::int16_t* pcm, std::size_t runs, double* squares) {
    TQuad input[2][kRun];
    TQuad pastInput[2][kOrder];
    TQuad pastOutput[2][kOrder];
    for (std::size_t h = 0; h < 2; ++h) {
        for (std::size_t i = 0; i < kRun; ++i) {
            Half(input[h][i], m.input[i], h, 1.0 / kFullScale); // exact: a power of two
        }
        for (std::size_t j = 0; j < kOrder; ++j) {
            Half(pastInput[h][j], m.pastInput[j], h, 1.0 / kFullScale);
            Half(pastOutput[h][j], m.pastOutput[j], h, 1.0);
        }
    }
    double xs[C][kOrder];
    double ys[C][kOrder];
    for (unsigned c = 0; c < C; ++c) {
        std::copy(states[c].x.begin(), states[c].x.end(), xs[c]);
        std::copy(states[c].y.begin(), states[c].y.end(), ys[c]);
    }
    for (std::size_t r = 0; r < runs; ++r, pcm += kRun * C) {
        TQuad sum[2] = {};
        double x[C][kRun];
        Convert<C>(pcm, x);
#pragma GCC unroll 2
        for (unsigned c = 0; c < C; ++c) {
            TQuad y[2];
#pragma GCC unroll 2
            for (std::size_t h = 0; h < 2; ++h) {
                TQuad a = pastInput[h][0] * xs[c][0] + pastInput[h][1] * xs[c][1];
                TQuad b = pastInput[h][2] * xs[c][2] + pastInput[h][3] * xs[c][3];
#pragma GCC unroll 4
                for (std::size_t i = 0; i < kHalf * (h + 1); i += 2) {
                    a += input[h][i] * x[c][i];
                    b += input[h][i + 1] * x[c][i + 1];
                }
                // The recursion: kept to two short sums, as the next run waits for it.
                const TQuad recent = pastOutput[h][0] * ys[c][0] + pastOutput[h][1] * ys[c][1];
                const TQuad older = pastOutput[h][2] * ys[c][2] + pastOutput[h][3] * ys[c][3];
                y[h] = (a + b) + (recent + older);
                sum[h] += y[h] * y[h];
            }
#pragma GCC unroll 4
            for (std::size_t j = 0; j < kOrder; ++j) {
                xs[c][j] = x[c][kRun - 1 - j];
                ys[c][j] = y[1][kHalf - 1 - j];
            }
        }
        std::memcpy(squares + r * kRun, sum, sizeof sum);
    }
    for (unsigned c = 0; c < C; ++c) {
        std::copy(xs[c], xs[c] + kOrder, states[c].x.begin());
        std::copy(ys[c], ys[c] + kOrder, states[c].y.begin());
    }
}

template <unsigned C>
void FilterBase(const TKWeighting::TRunMatrix& m, TKWeighting::TChannelState* states,
                const std::int16_t* pcm, std::size_t runs, double* squares) {
    FilterKernel<C>(m, states, pcm, runs, squares);
}

#if defined(__x86_64__) && defined(__GNUC__)
template <unsigned C>
[[gnu::target("avx2,fma")]] void
FilterAvx2(const TKWeighting::TRunMatrix& m, TKWeighting::TChannelState* states,
           const std::int16_t* pcm, std::size_t runs, double* squares) {
    FilterKernel<C>(m, states, pcm, runs, squares);
}
#endif

template <unsigned C>
void Filter(TSimdLevel level, const TKWeighting::TRunMatrix& m, TKWeighting::TChannelState* states,
            const std::int16_t* pcm, std::size_t runs, double* squares) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (level == TSimdLevel::Avx2) {
        return FilterAvx2<C>(m, states, pcm, runs, squares);
    }
#endif
    (void)level;
    FilterBase<C>(m, states, pcm, runs, squares);
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
    : channels_(channels), level_(level), matrix_(RunMatrix(Design(sampleRate))),
      squares_(kChunkRuns * kRun) {
    gating_.segmentFrames = (sampleRate + 5) / 10;
    if (channels < 1 || channels > 2 || sampleRate < 10) {
        throw std::invalid_argument("the loudness meter takes one or two channels");
    }
}

void TKWeighting::Reset() {
    states_ = {};
    const std::size_t segmentFrames = gating_.segmentFrames;
    gating_ = TGating{};
    gating_.segmentFrames = segmentFrames;
    pendingFrames_ = 0;
}

void TKWeighting::FilterRuns(const std::int16_t* interleaved, std::size_t runs) {
    while (runs > 0) {
        const std::size_t now = std::min(runs, kChunkRuns);
        if (channels_ == 2) {
            Filter<2>(level_, matrix_, states_.data(), interleaved, now, squares_.data());
        } else {
            Filter<1>(level_, matrix_, states_.data(), interleaved, now, squares_.data());
        }
        gating_.AccountRuns(squares_.data(), now);
        interleaved += now * kRun * channels_;
        runs -= now;
    }
}

void TKWeighting::Add(const std::int16_t* interleaved, std::size_t frames) {
    if (pendingFrames_ > 0) {
        const std::size_t take = std::min(kRun - pendingFrames_, frames);
        std::copy(interleaved, interleaved + take * channels_,
                  pending_.begin() + static_cast<std::ptrdiff_t>(pendingFrames_ * channels_));
        pendingFrames_ += take;
        interleaved += take * channels_;
        frames -= take;
        if (pendingFrames_ < kRun) {
            return;
        }
        FilterRuns(pending_.data(), 1);
        pendingFrames_ = 0;
    }
    const std::size_t runs = frames / kRun;
    FilterRuns(interleaved, runs);
    pendingFrames_ = frames - runs * kRun;
    std::copy(interleaved + runs * kRun * channels_, interleaved + frames * channels_,
              pending_.begin());
}

std::vector<double> TKWeighting::Blocks() const {
    if (pendingFrames_ == 0) {
        return gating_.blocks;
    }
    // The unfinished run, padded with silence: its first outputs do not depend on the rest.
    std::array<std::int16_t, kRun * 2> run{};
    std::copy(pending_.begin(),
              pending_.begin() + static_cast<std::ptrdiff_t>(pendingFrames_ * channels_),
              run.begin());
    std::array<TChannelState, 2> states = states_;
    std::array<double, kRun> squares{};
    if (channels_ == 2) {
        Filter<2>(level_, matrix_, states.data(), run.data(), 1, squares.data());
    } else {
        Filter<1>(level_, matrix_, states.data(), run.data(), 1, squares.data());
    }
    TGating tail = gating_;
    tail.Account(squares.data(), pendingFrames_);
    return tail.blocks;
}

void TKWeighting::TGating::AccountRuns(const double* squares, std::size_t runs) {
    while (runs > 0) {
        // The runs that end before the segment does, then the one its edge cuts.
        const std::size_t whole = std::min(runs, (segmentFrames - intoSegment - 1) / kRun);
        std::array<double, kRun> sums = laneSums;
        for (std::size_t r = 0; r < whole; ++r, squares += kRun) {
            for (std::size_t i = 0; i < kRun; ++i) {
                sums[i] += squares[i];
            }
        }
        laneSums = sums;
        intoSegment += whole * kRun;
        runs -= whole;
        if (runs > 0) {
            Account(squares, kRun);
            squares += kRun;
            --runs;
        }
    }
}

void TKWeighting::TGating::Account(const double* squares, std::size_t lanes) {
    if (lanes == kRun && intoSegment + kRun < segmentFrames) {
        for (std::size_t i = 0; i < kRun; ++i) {
            laneSums[i] += squares[i];
        }
        intoSegment += kRun;
        return;
    }
    for (std::size_t i = 0; i < lanes; ++i) {
        edgeSum += squares[i];
        if (++intoSegment == segmentFrames) {
            CloseSegment();
        }
    }
}

void TKWeighting::TGating::CloseSegment() {
    double energy = edgeSum;
    for (const double lane : laneSums) {
        energy += lane;
    }
    if (segments >= previous.size()) {
        const double block = (previous[0] + previous[1] + previous[2] + energy) /
                             static_cast<double>(4 * segmentFrames);
        if (block >= kAbsoluteGate) {
            blocks.push_back(block);
        }
    }
    previous = {previous[1], previous[2], energy};
    ++segments;
    laneSums = {};
    edgeSum = 0;
    intoSegment = 0;
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
