#include "audio/ACS_Procs.h"

#include <algorithm>
#include <cmath>

namespace audio {

namespace {
// The constants are fixed to these digits so kernels come out the same everywhere.
constexpr double kTwoPi = 6.28318530718;
constexpr double kFourPi = 12.56637061436;

// The window at x = position / n, 0 <= x < 1.
double WindowAt(TFilterWindowType type, double x) {
    switch (type) {
    case fwHamming:
        return 0.54 - 0.46 * std::cos(kTwoPi * x);
    case fwHann:
        return (1.0 - std::cos(kTwoPi * x)) / 2.0;
    case fwBlackman:
        return 0.42 - 0.5 * std::cos(kTwoPi * x) + 0.08 * std::cos(kFourPi * x);
    }
    return 0.0;
}

} // namespace

std::vector<double> MakeWindow(TFilterWindowType type, std::int32_t n) {
    std::vector<double> w(n > 0 ? static_cast<std::size_t>(n) : 0);
    for (std::int32_t i = 0; i < n; ++i) {
        w[static_cast<std::size_t>(i)] = WindowAt(type, static_cast<double>(i) / n);
    }
    return w;
}

double LowPassKernelAt(double u, std::int32_t n, double fc, TFilterWindowType type) {
    if (n <= 0 || u < 0.0 || u >= n) {
        return 0.0;
    }
    const double v = u - n / 2;
    const double sinc = v == 0.0 ? kTwoPi * fc : std::sin(kTwoPi * fc * v) / v;
    return WindowAt(type, u / n) * sinc;
}

std::vector<double> MakePolyphaseTable(std::int32_t n, double fc, TFilterWindowType type,
                                       std::int64_t phases, std::int64_t rows) {
    const auto width = static_cast<std::size_t>(std::max(n, 0));
    if (phases <= 0 || rows <= 0) {
        return {};
    }
    std::vector<double> table(width * static_cast<std::size_t>(rows));
    for (std::int64_t p = 0; p < rows; ++p) {
        double* row = table.data() + static_cast<std::size_t>(p) * width;
        const double offset = static_cast<double>(p) / static_cast<double>(phases);
        double sum = 0.0;
        for (std::int32_t j = 0; j < n; ++j) {
            row[j] = LowPassKernelAt(n - 1 - j + offset, n, fc, type);
            sum += row[j];
        }
        if (sum != 0.0) {
            for (std::int32_t j = 0; j < n; ++j) {
                row[j] /= sum;
            }
        }
    }
    return table;
}

std::vector<double> MakeLowPassKernel(std::int32_t n, double fc, TFilterWindowType type) {
    std::vector<double> k(n > 0 ? static_cast<std::size_t>(n) : 0);
    double sum = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        const auto at = static_cast<std::size_t>(i);
        k[at] = LowPassKernelAt(i, n, fc, type);
        sum += k[at];
    }
    if (sum != 0.0) {
        for (double& v : k) {
            v /= sum;
        }
    }
    return k;
}

} // namespace audio
