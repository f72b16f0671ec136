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

} // namespace audio
