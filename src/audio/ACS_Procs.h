#pragma once
// Window functions and the windowed-sinc low-pass kernel used by the rate converter.
#include <cstdint>
#include <vector>

namespace audio {

enum TFilterWindowType { fwHamming, fwHann, fwBlackman };

// n window values w[i], i = 0..n-1, with n as the denominator (so w[0] is the window's start
// and the window is not symmetric about (n-1)/2).
std::vector<double> MakeWindow(TFilterWindowType type, std::int32_t n);

// A low-pass kernel of n taps with cutoff fc (a fraction of the rate the filter runs at),
// centred on tap n div 2 and scaled to a gain of 1 at 0 Hz.
std::vector<double> MakeLowPassKernel(std::int32_t n, double fc, TFilterWindowType type);

// The same kernel as a continuous function of the tap position u (0 <= u < n; tap i of
// MakeLowPassKernel is u = i, before scaling), evaluated between the taps by the same window
// and sinc formulas; 0 outside.
double LowPassKernelAt(double u, std::int32_t n, double fc, TFilterWindowType type);

// A polyphase table for fractional positions: row p (p = 0..rows-1) holds the n taps at
// offset p / phases, reversed so that row[j] weighs the sample n-1-j taps back, and each row
// scaled to a gain of 1 at 0 Hz. Row 0 is MakeLowPassKernel reversed.
std::vector<double> MakePolyphaseTable(std::int32_t n, double fc, TFilterWindowType type,
                                       std::int64_t phases, std::int64_t rows);

} // namespace audio
