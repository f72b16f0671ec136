#include "audio/ACS_Indicator.h"

#include "bytes/LittleEndian.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>

namespace audio {

TSoundIndicator::TSoundIndicator() {
    // A Hann window over 1024 points, of which each 64-frame block uses the first 64 weights.
    for (std::size_t i = 0; i < FWindowTable.size(); ++i) {
        FWindowTable[i] = (1 - std::cos(2 * std::numbers::pi * static_cast<double>(i) / 1023)) / 2;
    }
}

TSoundIndicator::~TSoundIndicator() {
    DetachUsers();
}

void TSoundIndicator::Init() {
    TACSInput& input = StartInput();
    FBits = input.BitsPerSample();
    FChannelCount = input.Channels();
    FSize = input.Size();
    FBandSums.fill(0);
    FAnalysisLock.store(false, std::memory_order_release);
}

void TSoundIndicator::Flush() {
    FlushInput();
    FBusy = false;
    FAnalysisLock.store(false, std::memory_order_release);
}

std::int32_t TSoundIndicator::GetData(void* buffer, std::int32_t bufferSize) {
    if (!FBusy) {
        throw EACSException("The Stream is not opened");
    }
    std::int32_t count = 0;
    {
        TSpinFlagGuard guard(FInputLock);
        if (TACSInput* input = FInput.load()) {
            count = input->GetData(buffer, bufferSize);
            FPosition = input->Position();
        }
    }
    // A window reading the bands holds the flag: skip this delivery rather than wait.
    if (count <= 0 || FAnalysisLock.exchange(true, std::memory_order_acquire)) {
        return count;
    }
    FCopy.assign(static_cast<const std::uint8_t*>(buffer),
                 static_cast<const std::uint8_t*>(buffer) + count);
    Analyse(FCopy.data(), count);
    FAnalysisLock.store(false, std::memory_order_release);
    return count;
}

double TSoundIndicator::FrameValue(const std::uint8_t* frame) const {
    // The mean of the channels: raw unsigned bytes for 8-bit, signed samples for 16-bit.
    double sum = 0;
    for (std::int32_t c = 0; c < FChannelCount; ++c) {
        if (FBits == 8) {
            sum += frame[c];
        } else {
            sum += bytes::GetLeI16(&frame[2 * c]);
        }
    }
    return sum / FChannelCount;
}

namespace {

// The packed transform's length. Indices into the tables and blocks are all std::size_t.
constexpr std::size_t kHalf = TSoundIndicator::kBlockFrames / 2;

struct HalfTables {
    std::array<std::size_t, kHalf> reversed{}; // bit-reversed index
    std::array<double, kHalf / 2> cosines{};   // e^(-2 pi i k / 32), k < 16
    std::array<double, kHalf / 2> sines{};
    std::array<double, kHalf> splitCos{}; // e^(-2 pi i k / 64), k < 32
    std::array<double, kHalf> splitSin{};
};

const HalfTables& Tables() {
    static const HalfTables tables = [] {
        HalfTables t;
        for (std::size_t i = 0; i < kHalf; ++i) {
            std::size_t r = 0;
            for (std::size_t bit = 1, mirror = kHalf >> 1; bit < kHalf; bit <<= 1, mirror >>= 1) {
                r |= (i & bit) != 0 ? mirror : 0;
            }
            t.reversed[i] = r;
            const double angle = -2 * std::numbers::pi * static_cast<double>(i) / (2 * kHalf);
            t.splitCos[i] = std::cos(angle);
            t.splitSin[i] = std::sin(angle);
        }
        for (std::size_t k = 0; k < kHalf / 2; ++k) {
            const double angle = -2 * std::numbers::pi * static_cast<double>(k) / kHalf;
            t.cosines[k] = std::cos(angle);
            t.sines[k] = std::sin(angle);
        }
        return t;
    }();
    return tables;
}

// In-place radix-2 forward transform of 32 complex values held as two arrays.
void TransformHalf(std::array<double, kHalf>& re, std::array<double, kHalf>& im,
                   const HalfTables& t) {
    for (std::size_t length = 2; length <= kHalf; length <<= 1) {
        const std::size_t half = length / 2;
        const std::size_t stride = kHalf / length;
        for (std::size_t start = 0; start < kHalf; start += length) {
            for (std::size_t k = 0; k < half; ++k) {
                const std::size_t e = start + k;
                const std::size_t o = e + half;
                const double wr = t.cosines[k * stride];
                const double wi = t.sines[k * stride];
                const double oddRe = re[o] * wr - im[o] * wi;
                const double oddIm = re[o] * wi + im[o] * wr;
                re[o] = re[e] - oddRe;
                im[o] = im[e] - oddIm;
                re[e] += oddRe;
                im[e] += oddIm;
            }
        }
    }
}

} // namespace

// The 64-point transform of real samples through a 32-point one: even samples as real
// parts, odd ones as imaginary parts, then each wanted result split out of the packed
// results k and 32 - k. Bands are results 0..31, each divided by 64 as the display expects.
void TSoundIndicator::AddBandLevels(const std::array<double, kBlockFrames>& samples,
                                    std::array<double, kBands>& sums) {
    const HalfTables& t = Tables();
    std::array<double, kHalf> re;
    std::array<double, kHalf> im;
    for (std::size_t i = 0; i < kHalf; ++i) {
        re[t.reversed[i]] = samples[2 * i];
        im[t.reversed[i]] = samples[2 * i + 1];
    }
    TransformHalf(re, im, t);
    constexpr double kScale = 1.0 / (kBlockFrames * kBlockFrames); // |X / 64|^2
    constexpr double kHalfLog10 = 0.5 / std::numbers::ln10;
    for (std::size_t k = 0; k < kBands; ++k) {
        const std::size_t m = (kHalf - k) % kHalf;
        // E = (Z[k] + conj Z[m]) / 2, O = (Z[k] - conj Z[m]) / 2i, X[k] = E + w^k O.
        const double eRe = (re[k] + re[m]) / 2;
        const double eIm = (im[k] - im[m]) / 2;
        const double oRe = (im[k] + im[m]) / 2;
        const double oIm = (re[m] - re[k]) / 2;
        const double xRe = eRe + oRe * t.splitCos[k] - oIm * t.splitSin[k];
        const double xIm = eIm + oRe * t.splitSin[k] + oIm * t.splitCos[k];
        // log10 of the magnitude, 0 where that is negative (magnitude below 1) or the
        // magnitude is 0: from the squared magnitude, without a square root.
        const double squared = (xRe * xRe + xIm * xIm) * kScale;
        sums[k] += squared > 1.0 ? std::log(squared) * kHalfLog10 : 0.0;
    }
}

void TSoundIndicator::Analyse(const std::uint8_t* data, std::int32_t bytes) {
    if (FChannelCount < 1 || (FBits != 8 && FBits != 16)) {
        return;
    }
    const std::int32_t frameBytes = FChannelCount * (FBits / 8);
    const std::int32_t blocks = bytes / frameBytes / kBlockFrames;
    std::array<double, kBlockFrames> values;
    for (std::int32_t b = 0; b < blocks; ++b) {
        const std::uint8_t* block =
            data + static_cast<std::ptrdiff_t>(b) * kBlockFrames * frameBytes;
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] =
                FrameValue(block + static_cast<std::ptrdiff_t>(i) * frameBytes) * FWindowTable[i];
        }
        AddBandLevels(values, FBandSums);
    }
    if (blocks > 0) {
        for (double& sum : FBandSums) {
            sum /= blocks;
        }
    }
}

void TSoundIndicator::GetValues(std::array<double, kBands>& values) {
    while (FAnalysisLock.exchange(true, std::memory_order_acquire)) {
        std::this_thread::yield();
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = FBandSums[i] * 20;
        FBandSums[i] = 0;
    }
    FAnalysisLock.store(false, std::memory_order_release);
}

} // namespace audio
