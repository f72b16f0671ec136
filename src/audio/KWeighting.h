#pragma once
// EBU R128's K-weighting (BS.1770's high shelf and high-pass, cascaded into one 4th-order
// filter designed for the sample rate) and the gating blocks it feeds: the mean square of the
// weighted signal over 400 ms, every 100 ms, summed over the channels.
//
// The filter runs eight outputs at a time: each output of a run is a fixed sum of the run's
// inputs and of the four inputs and outputs before the run, so a run is a few vector
// multiply-adds with no recursion inside it. Runs are counted from the start of the stream,
// so the values do not depend on how the stream was cut into calls.
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
    static constexpr std::size_t kRun = 8;
    static constexpr std::size_t kOrder = 4;

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
    // the frames of an unfinished run included.
    std::vector<double> Blocks() const;

    // The integrated loudness of gating blocks (one stream's, or several streams' together):
    // the relative gate at 10 LU below their mean; nullopt when no block passes.
    static std::optional<double> GatedLoudness(std::span<const double> blocks);

    // The filter's outputs and inputs (as 16-bit sample values) before a run, the latest first.
    struct TChannelState {
        std::array<double, kOrder> x{};
        std::array<double, kOrder> y{};
    };
    // Column vectors of a run's outputs: their response to each input of the run, to each
    // input before it and to each output before it.
    struct TRunMatrix {
        std::array<std::array<double, kRun>, kRun> input;
        std::array<std::array<double, kRun>, kOrder> pastInput;
        std::array<std::array<double, kRun>, kOrder> pastOutput;
    };

private:
    // Adds runs' squared outputs into 100 ms segments, and closes 400 ms blocks.
    struct TGating {
        std::size_t segmentFrames = 0;
        std::array<double, kRun> laneSums{};
        double edgeSum = 0; // the lanes of a run that a segment's edge cuts
        std::size_t intoSegment = 0;
        std::size_t segments = 0;
        std::array<double, 3> previous{};
        std::vector<double> blocks;

        void AccountRuns(const double* squares, std::size_t runs);
        void Account(const double* squares, std::size_t lanes);
        void CloseSegment();
    };
    void FilterRuns(const std::int16_t* interleaved, std::size_t runs);

    unsigned channels_;
    TSimdLevel level_;
    TRunMatrix matrix_;
    std::array<TChannelState, 2> states_{};
    TGating gating_;
    std::array<std::int16_t, kRun * 2> pending_{}; // the frames of a run not yet complete
    std::size_t pendingFrames_ = 0;
    std::vector<double> squares_;
};

} // namespace audio
