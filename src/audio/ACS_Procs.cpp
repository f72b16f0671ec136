#include "audio/ACS_Procs.h"

#include <cmath>

namespace audio {

namespace {
// The constants are fixed to these digits so kernels come out the same everywhere.
constexpr double kTwoPi = 6.28318530718;
constexpr double kFourPi = 12.56637061436;
} // namespace

std::vector<double> MakeWindow(TFilterWindowType type, std::int32_t n) {
    std::vector<double> w(n > 0 ? static_cast<std::size_t>(n) : 0);
    for (std::int32_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / n;
        switch (type) {
        case fwHamming:
            w[i] = 0.54 - 0.46 * std::cos(kTwoPi * x);
            break;
        case fwHann:
            w[i] = (1.0 - std::cos(kTwoPi * x)) / 2.0;
            break;
        case fwBlackman:
            w[i] = 0.42 - 0.5 * std::cos(kTwoPi * x) + 0.08 * std::cos(kFourPi * x);
            break;
        }
    }
    return w;
}

std::vector<double> MakeLowPassKernel(std::int32_t n, double fc, TFilterWindowType type) {
    std::vector<double> k = MakeWindow(type, n);
    const std::int32_t m = n / 2;
    double sum = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        if (i == m) {
            k[i] *= kTwoPi * fc;
        } else {
            k[i] *= std::sin(kTwoPi * fc * (i - m)) / (i - m);
        }
        sum += k[i];
    }
    if (sum != 0.0) {
        for (double& v : k) {
            v /= sum;
        }
    }
    return k;
}

} // namespace audio
