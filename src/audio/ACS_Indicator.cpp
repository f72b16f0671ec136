#include "audio/ACS_Indicator.h"

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

TACSInput& TSoundIndicator::InputOrFail() {
    TACSInput* input = FInput.load();
    if (input == nullptr) {
        throw EACSException("Input is not assigned.");
    }
    return *input;
}

std::int32_t TSoundIndicator::BitsPerSample() {
    return InputOrFail().BitsPerSample();
}
std::int32_t TSoundIndicator::Channels() {
    return InputOrFail().Channels();
}
std::int32_t TSoundIndicator::SampleRate() {
    return InputOrFail().SampleRate();
}

void TSoundIndicator::Init() {
    TACSInput& input = InputOrFail();
    input.Init();
    FBits = input.BitsPerSample();
    FChannelCount = input.Channels();
    FSize = input.Size();
    FBandSums.fill(0);
    FInputLock.Release();
    FAnalysisLock.store(false, std::memory_order_release);
    FPosition = 0;
    FBusy = true;
}

void TSoundIndicator::Flush() {
    if (TACSInput* input = FInput.load()) {
        input->Flush();
    }
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
            sum += static_cast<std::int16_t>(
                static_cast<std::uint16_t>(frame[2 * c] | (frame[2 * c + 1] << 8)));
        }
    }
    return sum / FChannelCount;
}

void TSoundIndicator::Transform(std::array<std::complex<double>, kBlockFrames>& values) {
    constexpr int n = kBlockFrames;
    for (int i = 1, j = 0; i < n; ++i) {
        int bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(values[i], values[j]);
        }
    }
    // e^(-2 pi i k / n) for k < n / 2, computed once; stage "length" uses every
    // (n / length)-th of them.
    static const auto twiddles = [] {
        std::array<std::complex<double>, n / 2> t{};
        for (int k = 0; k < n / 2; ++k) {
            t[k] = std::polar(1.0, -2 * std::numbers::pi * k / n);
        }
        return t;
    }();
    for (int length = 2; length <= n; length <<= 1) {
        const int stride = n / length;
        for (int start = 0; start < n; start += length) {
            for (int k = 0; k < length / 2; ++k) {
                const std::complex<double> even = values[start + k];
                const std::complex<double> a = values[start + k + length / 2];
                const std::complex<double> w = twiddles[k * stride];
                // The product written out: std::complex's operator* also handles infinities,
                // which cost more than the whole transform here.
                const std::complex<double> odd(a.real() * w.real() - a.imag() * w.imag(),
                                               a.real() * w.imag() + a.imag() * w.real());
                values[start + k] = even + odd;
                values[start + k + length / 2] = even - odd;
            }
        }
    }
    for (auto& value : values) {
        value /= n;
    }
}

void TSoundIndicator::Analyse(const std::uint8_t* data, std::int32_t bytes) {
    if (FChannelCount < 1 || (FBits != 8 && FBits != 16)) {
        return;
    }
    const std::int32_t frameBytes = FChannelCount * (FBits / 8);
    const std::int32_t blocks = bytes / frameBytes / kBlockFrames;
    std::array<std::complex<double>, kBlockFrames> values;
    for (std::int32_t b = 0; b < blocks; ++b) {
        const std::uint8_t* block =
            data + static_cast<std::ptrdiff_t>(b) * kBlockFrames * frameBytes;
        for (int i = 0; i < kBlockFrames; ++i) {
            values[i] = {FrameValue(block + i * frameBytes) * FWindowTable[i], 0.0};
        }
        Transform(values);
        for (int i = 0; i < kBands; ++i) {
            // log10 of the magnitude, 0 where that is negative (magnitude below 1) or the
            // magnitude is 0: from the squared magnitude, without a square root.
            const double squared = std::norm(values[i]);
            FBandSums[i] += squared > 1.0 ? 0.5 * std::log10(squared) : 0.0;
        }
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
    for (int i = 0; i < kBands; ++i) {
        values[i] = FBandSums[i] * 20;
        FBandSums[i] = 0;
    }
    FAnalysisLock.store(false, std::memory_order_release);
}

} // namespace audio
