#pragma once
// EBU R128's K-weighting (BS.1770's high shelf and high-pass, cascaded into one 4th-order
// filter designed for the sample rate) and the gating blocks it feeds: the mean square of the
// weighted signal over 400 ms, every 100 ms, summed over the channels.
//
// A recursive filter waits on its last output at every sample, so it is run on four lanes at
// once: the left and right channels of two slices of the stream, each slice 1.5 s. The second
// slice starts from the state the filter reaches over the 0.2 s before it, run from rest: by
// then the first slice's influence has decayed below 1e-15 of the signal, so the result is
// the sequential filter's to rounding. Slices are counted from the start of the stream, so
// the values do not depend on how the stream was cut into calls.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "audio/SimdLevel.h"

namespace audio {

class TKWeighting {
public:
    static constexpr std::size_t kOrder = 4;
    static constexpr std::size_t kLanes = 4;
    static constexpr std::size_t kSliceSegments = 15; // 100 ms segments in a slice

    struct TFilter {
        std::array<double, kOrder + 1> b;
        std::array<double, kOrder + 1> a; // a[0] is 1
    };
    static TFilter Design(unsigned long sampleRate);

    // One or two channels (front left and right, weighted alike).
    TKWeighting(unsigned channels, unsigned long sampleRate, TSimdLevel level = BestSimdLevel());

    void Add(const std::int16_t* interleaved, std::size_t frames);
    void Reset();
    // The energy of every gating block at or above the absolute gate (-70 LUFS), in order,
    // the frames not yet in a whole pair of slices included.
    std::vector<double> Blocks() const;

    // The integrated loudness of gating blocks (one stream's, or several streams' together):
    // the relative gate at 10 LU below their mean; nullopt when no block passes.
    static std::optional<double> GatedLoudness(std::span<const double> blocks);

    // The filter's past inputs (as 16-bit sample values) and outputs on each lane, the latest
    // first.
    struct TLaneState {
        std::array<std::array<double, kLanes>, kOrder> x{};
        std::array<std::array<double, kLanes>, kOrder> y{};
    };

private:
    // Closes 400 ms blocks from the energies of 100 ms segments.
    struct TGating {
        std::size_t segmentFrames = 0;
        std::size_t segments = 0;
        std::array<double, 3> previous{};
        std::vector<double> blocks;

        void AddSegment(double energy);
    };
    // Filters whole segments of stereo frames from `a` on lanes 0-1 and from `b` on lanes 2-3,
    // and gives each segment's energy on both.
    void Segments(TLaneState& state, const std::int16_t* a, const std::int16_t* b,
                  std::size_t count, double* energyA, double* energyB) const;
    void FilterSlices();

    unsigned channels_;
    TSimdLevel level_;
    TFilter filter_;
    std::size_t sliceFrames_;
    std::size_t warmFrames_;
    TLaneState state_; // lanes 0-1 carry the stream's own state between pairs of slices
    TGating gating_;
    std::vector<std::int16_t> pending_; // stereo frames of the pair of slices being filled
    std::size_t pendingFrames_ = 0;
};

} // namespace audio
