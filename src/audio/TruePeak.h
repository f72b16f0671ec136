#pragma once
// The true peak of interleaved 16-bit PCM: the highest magnitude of the signal between its
// samples as well as at them, found by oversampling 4 times with a 49-tap windowed-sinc
// interpolator (the design EBU R128 meters share, so the values agree with theirs).
//
// The interpolation is the costly part of loudness metering, so it is done in float, a vector
// of outputs of each phase at a time (256-bit vectors where the processor has them), and skipped
// for a block whose samples are too small for any interpolated value to pass the highest peak so
// far (a bound from the filter's absolute sum): the result is exactly what interpolating every
// block would give.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/SimdLevel.h"

namespace audio {

class TTruePeak {
public:
    explicit TTruePeak(unsigned channels, TSimdLevel level = BestSimdLevel());

    void Add(const std::int16_t* interleaved, std::size_t frames);
    void Reset();
    // The highest true peak of any channel, 1.0 being full scale.
    double Peak() const;

    static constexpr std::size_t kTaps = 12; // per phase of the interpolator
    static constexpr std::size_t kBlock = 256;

private:
    using TLine = std::array<float, kTaps - 1 + kBlock>; // history, then the block
    void Fill(const std::int16_t* interleaved, std::size_t frames);
    // The peak so far with the first frames of a channel's block: `largest` is the largest
    // magnitude of their samples.
    float Measure(const TLine& line, std::size_t frames, int largest, float peak) const;
    float Interpolate(const TLine& line, std::size_t frames) const;

    // Blocks start every kBlock frames from the stream's start, however it is cut into calls,
    // so each output is always computed the same way.
    unsigned channels_;
    TSimdLevel level_;
    std::vector<TLine> lines_;
    std::vector<int> largest_; // in the block being filled, per channel
    std::size_t filled_ = 0;
    float peak_ = 0.0f;
};

} // namespace audio
