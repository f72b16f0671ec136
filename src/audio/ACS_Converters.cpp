#include "audio/ACS_Converters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace audio {

namespace {

constexpr std::int32_t kBlockBytes = 32768;

std::int16_t Get16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

void Put16(std::uint8_t* p, std::int32_t value) {
    const auto u = static_cast<std::uint16_t>(value);
    p[0] = static_cast<std::uint8_t>(u & 0xFF);
    p[1] = static_cast<std::uint8_t>(u >> 8);
}

// Filter results can overshoot full scale; wrapping them would turn a peak into a click.
std::int16_t Saturate16(double value) {
    const double r = std::nearbyint(value);
    if (r > std::numeric_limits<std::int16_t>::max()) {
        return std::numeric_limits<std::int16_t>::max();
    }
    if (r < std::numeric_limits<std::int16_t>::min()) {
        return std::numeric_limits<std::int16_t>::min();
    }
    return static_cast<std::int16_t>(r);
}

void NotOpened() {
    throw EACSException("The Stream is not opened");
}

} // namespace

// ---- TBlockConverter ------------------------------------------------------------------------

TACSInput& TBlockConverter::StartRun() {
    TACSInput& input = RequireInput();
    input.Init();
    FBusy = true;
    FPosition = 0;
    FBufferStart = 1;
    FBufferEnd = 0;
    FInputLock.Release();
    FEndOfInput = false;
    return input;
}

void TBlockConverter::SetScaledSize(std::int32_t inputSize, double factor) {
    FSize = inputSize < 0 ? -1 : static_cast<std::int32_t>(std::nearbyint(inputSize * factor));
}

void TBlockConverter::Flush() {
    struct Release {
        TBlockConverter* self;
        ~Release() {
            self->ReleaseBuffers();
            self->FInBuffer = {};
            self->outData_ = nullptr;
            self->FBusy = false;
        }
    } release{this};
    TSpinFlagGuard guard(FInputLock);
    if (TACSInput* input = FInput.load()) {
        input->Flush();
    }
}

bool TBlockConverter::Refill() {
    // Repeats while a block converts to nothing (a few samples left over at the end).
    do {
        if (FEndOfInput) {
            return false;
        }
        FBufferStart = 1;
        FBufferEnd = 0;
        std::int32_t gathered = 0;
        while (gathered < FInputBufferSize) {
            const std::int32_t n =
                ReadInput(FInBuffer.data() + gathered, FInputBufferSize - gathered);
            if (n <= 0) {
                if (gathered == 0) {
                    return false;
                }
                FEndOfInput = true;
                break;
            }
            gathered += n;
        }
        outData_ = ConvertBlock(gathered);
    } while (FBufferEnd <= 0);
    return true;
}

void TBlockConverter::UpdatePosition(std::int32_t delivered) {
    std::int32_t inputSize = 0;
    std::int32_t inputPosition = 0;
    bool haveInput = false;
    {
        TSpinFlagGuard guard(FInputLock);
        if (TACSInput* input = FInput.load()) {
            haveInput = true;
            inputSize = input->Size();
            inputPosition = input->Position();
        }
    }
    if (FSize < 0 || !haveInput) {
        FPosition += delivered;
    } else if (inputSize > 0) {
        FPosition = static_cast<std::int32_t>(
            std::nearbyint(static_cast<double>(FSize) / inputSize * inputPosition));
    }
}

std::int32_t TBlockConverter::GetData(void* buffer, std::int32_t bufferSize) {
    if (!FBusy) {
        NotOpened();
    }
    if (FBufferStart > FBufferEnd && !Refill()) {
        FBufferStart = 1;
        FBufferEnd = 0;
        return 0;
    }
    const std::int32_t count = std::min(bufferSize, FBufferEnd - FBufferStart + 1);
    if (count <= 0) {
        return 0;
    }
    std::memcpy(buffer, outData_ + FBufferStart - 1, static_cast<std::size_t>(count));
    FBufferStart += count;
    UpdatePosition(count);
    return count;
}

// ---- TRateConverter -------------------------------------------------------------------------

TRateConverter::TRateConverter() = default;

TRateConverter::~TRateConverter() {
    DetachUsers();
}

std::int32_t TRateConverter::Channels() {
    return RequireInput().Channels();
}

void TRateConverter::SetOutSampleRate(std::int32_t value) {
    if (value > 0 && !FBusy) {
        FOutSampleRate = value;
    }
}

void TRateConverter::SetKernelWidth(std::int32_t value) {
    if (value > 1 && !FBusy) {
        FKernelWidth = value;
    }
}

void TRateConverter::Init() {
    TACSInput& input = StartRun();
    FInRate = input.SampleRate();
    FChannels = input.Channels();
    if (FInRate <= 0 || FChannels <= 0) {
        // Nothing sensible can come out of a stream without a rate or channels.
        input.Flush();
        FBusy = false;
        throw EACSException("Input format is not valid");
    }
    const float ratio = static_cast<float>(FOutSampleRate) / static_cast<float>(FInRate);
    SetScaledSize(input.Size(), static_cast<double>(ratio));
    if (ratio <= 1.0f) {
        FInputBufferSize = kBlockBytes;
    } else {
        FInputBufferSize = static_cast<std::int32_t>(32768.0f / ratio) / 4 * 4;
    }
    const std::int32_t frameBytes = 2 * FChannels;
    FInputBufferSize = std::max(FInputBufferSize / frameBytes * frameBytes, frameBytes);
    FInBuffer.assign(static_cast<std::size_t>(FInputBufferSize), 0);

    const std::int32_t w = FKernelWidth;
    const std::size_t c = static_cast<std::size_t>(FChannels);
    const std::int64_t maxFrames = FInputBufferSize / frameBytes;
    // The most outputs one block can give: its frames at the exact rate ratio, plus the one
    // the carried phase can add. A fixed 32768-byte output buffer is one frame short for some
    // ratios.
    const std::int64_t maxOutputs = maxFrames * FOutSampleRate / FInRate + 2;
    FSamples.assign(static_cast<std::size_t>(maxFrames) * c, 0);
    FOutBuffer.assign(
        std::max<std::size_t>(kBlockBytes, static_cast<std::size_t>(maxOutputs) * 2 * c), 0);
    if (FOutSampleRate >= FInRate) {
        FOverlap.assign(static_cast<std::size_t>(maxOutputs + w) * c, 0.0);
        FHistory.assign(static_cast<std::size_t>(w - 1) * c, 0.0);
    } else {
        FHistory16.assign(static_cast<std::size_t>(w - 1) * c, 0);
        FLastFiltered.assign(static_cast<std::size_t>(c), 0.0);
        FExtended.assign(static_cast<std::size_t>(w - 1 + maxFrames) * c, 0);
    }
    FLastFrame.resize(c, 0);
    FPhase = -1;
    const double fc = ratio <= 1.0f ? 0.4 * ratio : 0.4 / ratio;
    FKernel = MakeLowPassKernel(w, fc, FFilterWindow);
}

void TRateConverter::ReleaseBuffers() {
    FOverlap = {};
    FHistory = {};
    FHistory16 = {};
    FLastFiltered = {};
    FExtended = {};
    FSamples = {};
    FOutBuffer = {};
}

const std::uint8_t* TRateConverter::ConvertBlock(std::int32_t bytes) {
    const std::int32_t frames = bytes / (2 * FChannels);
    const std::size_t count = static_cast<std::size_t>(frames) * FChannels;
    for (std::size_t i = 0; i < count; ++i) {
        FSamples[i] = Get16(FInBuffer.data() + 2 * i);
    }
    FBufferEnd = 0;
    if (frames > 0) {
        if (FInRate > FOutSampleRate) {
            Downsample(FSamples.data(), frames);
        } else {
            Upsample(FSamples.data(), frames);
        }
    }
    return FOutBuffer.data();
}

void TRateConverter::Downsample(const std::int16_t* x, std::int32_t frames) {
    const std::int32_t w = FKernelWidth;
    const std::int32_t c = FChannels;
    const std::int64_t in = FInRate;
    const std::int64_t out = FOutSampleRate;
    if (FPhase == -1) {
        FPhase = out;
    }
    // s(j - t) for j - t < 0 comes from the carried history: keep both in one array.
    const std::size_t historyCount = static_cast<std::size_t>(w - 1) * c;
    std::copy(FHistory16.begin(), FHistory16.end(), FExtended.begin());
    std::copy(x, x + static_cast<std::size_t>(frames) * c, FExtended.begin() + historyCount);
    // The low-passed signal at input sample j of this block.
    auto filtered = [&](std::int32_t j, std::int32_t ch) {
        // Extended index of s(j - t) is (w - 1 + j - t); t = w - 1 pairs with Kernel[0].
        const std::int16_t* first = FExtended.data() + static_cast<std::size_t>(j) * c;
        double acc = 0.0;
        for (std::int32_t i = 0; i < w; ++i) {
            acc += FKernel[i] * first[static_cast<std::size_t>(i) * c + ch];
        }
        return acc;
    };

    std::uint8_t* dst = FOutBuffer.data();
    std::int32_t outputs = 0;
    std::vector<double> lastFiltered(static_cast<std::size_t>(c), 0.0);
    std::int32_t lastFilteredAt = -1;
    for (std::int32_t j = 0; j < frames; ++j) {
        if (out < FPhase) {
            FPhase -= out;
            continue;
        }
        // The output instant lies between input samples j - 1 and j, at fraction
        // FPhase / out from j - 1; taking sample j's value alone (as if the instant fell on
        // it) jitters the timing and distorts every tone, so interpolate there.
        const double f = static_cast<double>(FPhase) / static_cast<double>(out);
        for (std::int32_t ch = 0; ch < c; ++ch) {
            const double at = filtered(j, ch);
            // Outputs mostly fall on neighbouring samples: reuse the last one filtered.
            double before = FLastFiltered[ch];
            if (j > 0) {
                before = lastFilteredAt == j - 1 ? lastFiltered[ch] : filtered(j - 1, ch);
            }
            lastFiltered[ch] = at;
            Put16(dst, Saturate16(f == 1.0 ? at : before + f * (at - before)));
            dst += 2;
        }
        lastFilteredAt = j;
        ++outputs;
        FPhase += in - out;
    }
    for (std::int32_t ch = 0; ch < c; ++ch) {
        FLastFiltered[ch] = filtered(frames - 1, ch);
    }
    const std::size_t total = historyCount + static_cast<std::size_t>(frames) * c;
    std::copy(FExtended.begin() + (total - historyCount), FExtended.begin() + total,
              FHistory16.begin());
    FBufferEnd = outputs * 2 * c;
}

void TRateConverter::Upsample(const std::int16_t* x, std::int32_t frames) {
    const std::int32_t w = FKernelWidth;
    const std::int32_t c = FChannels;
    const std::int64_t in = FInRate;
    const std::int64_t out = FOutSampleRate;
    if (FPhase == -1) {
        FPhase = 0;
    }
    std::fill(FOverlap.begin(), FOverlap.end(), 0.0);
    std::copy(FHistory.begin(), FHistory.end(), FOverlap.begin());
    std::fill(FHistory.begin(), FHistory.end(), 0.0);

    std::int64_t f = 0;
    // Linear interpolation between two frames at each output instant, overlap-added through
    // the kernel at the output rate.
    auto between = [&](const std::int16_t* a, const std::int16_t* b) {
        while (out > FPhase) {
            double* base = FOverlap.data() + static_cast<std::size_t>(f) * c;
            for (std::int32_t ch = 0; ch < c; ++ch) {
                const double v =
                    std::nearbyint(static_cast<double>((out - FPhase) * a[ch] + FPhase * b[ch]) /
                                   static_cast<double>(out));
                double* o = base + ch;
                for (std::int32_t i = 0; i < w; ++i) {
                    o[static_cast<std::size_t>(i) * c] += v * FKernel[i];
                }
            }
            FPhase += in;
            ++f;
        }
        FPhase -= out;
    };
    between(FLastFrame.data(), x);
    for (std::int32_t i = 0; i + 1 < frames; ++i) {
        between(x + static_cast<std::size_t>(i) * c, x + static_cast<std::size_t>(i + 1) * c);
    }
    std::copy(x + static_cast<std::size_t>(frames - 1) * c,
              x + static_cast<std::size_t>(frames) * c, FLastFrame.begin());

    std::uint8_t* dst = FOutBuffer.data();
    const std::size_t produced = static_cast<std::size_t>(f) * c;
    for (std::size_t m = 0; m < produced; ++m) {
        Put16(dst + 2 * m, Saturate16(FOverlap[m]));
    }
    std::copy(FOverlap.begin() + produced, FOverlap.begin() + produced + FHistory.size(),
              FHistory.begin());
    FBufferEnd = static_cast<std::int32_t>(produced * 2);
}

// ---- TMSConverter ---------------------------------------------------------------------------

TMSConverter::TMSConverter() = default;

TMSConverter::~TMSConverter() {
    DetachUsers();
}

std::int32_t TMSConverter::Channels() {
    return RequireInput().Channels() == 1 ? 2 : 1;
}

std::int32_t TMSConverter::SampleRate() {
    return RequireInput().SampleRate();
}

void TMSConverter::Init() {
    TACSInput& input = StartRun();
    FMonoInput = input.Channels() == 1;
    const std::int32_t size = input.Size();
    FSize = size < 0 ? -1 : (FMonoInput ? size * 2 : size / 2);
    FInputBufferSize = FMonoInput ? kBlockBytes / 2 : kBlockBytes;
    FInBuffer.assign(kBlockBytes, 0);
}

void TMSConverter::ReleaseBuffers() {}

const std::uint8_t* TMSConverter::ConvertBlock(std::int32_t bytes) {
    std::uint8_t* p = FInBuffer.data();
    if (!FMonoInput) {
        const std::int32_t frames = bytes / 4;
        for (std::int32_t k = 0; k < frames; ++k) {
            const std::int32_t left = Get16(p + 4 * k);
            const std::int32_t right = Get16(p + 4 * k + 2);
            Put16(p + 2 * k, (left + right) / 2); // C++ division truncates toward zero
        }
        FBufferEnd = frames * 2;
        return p;
    }
    const std::int32_t samples = bytes / 2;
    const TMSConverterMode mode = FMode.load();
    // Backwards, so each sample is read before its place is overwritten.
    for (std::int32_t k = samples - 1; k >= 0; --k) {
        const std::int16_t s = Get16(p + 2 * k);
        const std::int32_t left = mode == msmMonoToLeft ? 0 : s;
        const std::int32_t right = mode == msmMonoToRight ? 0 : s;
        Put16(p + 4 * k, left);
        Put16(p + 4 * k + 2, right);
    }
    FBufferEnd = samples * 4;
    return p;
}

// ---- TSampleConverter -----------------------------------------------------------------------

TSampleConverter::TSampleConverter() = default;

TSampleConverter::~TSampleConverter() {
    DetachUsers();
}

std::int32_t TSampleConverter::BitsPerSample() {
    return RequireInput().BitsPerSample() == 16 ? 8 : 16;
}

std::int32_t TSampleConverter::Channels() {
    return RequireInput().Channels();
}

std::int32_t TSampleConverter::SampleRate() {
    return RequireInput().SampleRate();
}

void TSampleConverter::Init() {
    TACSInput& input = StartRun();
    FWideInput = input.BitsPerSample() == 16;
    const std::int32_t size = input.Size();
    FSize = size < 0 ? -1 : (FWideInput ? size / 2 : size * 2);
    FInputBufferSize = FWideInput ? kBlockBytes : kBlockBytes / 2;
    FInBuffer.assign(kBlockBytes, 0);
}

void TSampleConverter::ReleaseBuffers() {}

const std::uint8_t* TSampleConverter::ConvertBlock(std::int32_t bytes) {
    std::uint8_t* p = FInBuffer.data();
    if (FWideInput) {
        const std::int32_t samples = bytes / 2;
        for (std::int32_t k = 0; k < samples; ++k) {
            const auto biased = static_cast<std::uint16_t>(Get16(p + 2 * k) + 32768);
            p[k] = static_cast<std::uint8_t>(biased >> 8);
        }
        FBufferEnd = samples;
        return p;
    }
    for (std::int32_t k = bytes - 1; k >= 0; --k) {
        Put16(p + 2 * k, p[k] * 256 - 32768);
    }
    FBufferEnd = bytes * 2;
    return p;
}

// ---- TStereoBalance -------------------------------------------------------------------------

TStereoBalance::TStereoBalance() = default;

TStereoBalance::~TStereoBalance() {
    DetachUsers();
}

std::int32_t TStereoBalance::BitsPerSample() {
    return RequireInput().BitsPerSample();
}

std::int32_t TStereoBalance::Channels() {
    RequireInput();
    return 2;
}

std::int32_t TStereoBalance::SampleRate() {
    return RequireInput().SampleRate();
}

void TStereoBalance::SetBalance(float value) {
    if (value >= 0.0f && value <= 1.0f) {
        FBalance = value;
    }
}

void TStereoBalance::Init() {
    TACSInput& input = RequireInput();
    input.Init();
    FBusy = true;
    FPosition = 0;
    FBufferStart = 1;
    FBufferEnd = 0;
    FInputLock.Release();
    FMonoInput = input.Channels() == 1;
    FSampleBytes = input.BitsPerSample() == 8 ? 1 : 2;
    const std::int32_t size = input.Size();
    FSize = size < 0 ? -1 : (FMonoInput ? size * 2 : size);
}

void TStereoBalance::Flush() {
    struct Release {
        TStereoBalance* self;
        ~Release() { self->FBusy = false; }
    } release{this};
    TSpinFlagGuard guard(FInputLock);
    if (TACSInput* input = FInput.load()) {
        input->Flush();
    }
}

std::int32_t TStereoBalance::GetData(void* buffer, std::int32_t bufferSize) {
    if (!FBusy) {
        NotOpened();
    }
    auto* p = static_cast<std::uint8_t*>(buffer);
    const std::int32_t frameBytes = 2 * FSampleBytes;
    // Whole frames only, so a request never ends in half a sample.
    const std::int32_t request =
        FMonoInput ? bufferSize / 2 / FSampleBytes * FSampleBytes : bufferSize;
    std::int32_t n = 0;
    std::int32_t inputSize = 0;
    std::int32_t inputPosition = 0;
    {
        TSpinFlagGuard guard(FInputLock);
        TACSInput* input = FInput.load();
        if (input == nullptr || request <= 0) {
            return 0;
        }
        n = input->GetData(p, request);
        inputSize = input->Size();
        inputPosition = input->Position();
    }
    if (n <= 0) {
        return 0;
    }
    if (FMonoInput) {
        n -= n % FSampleBytes;
        for (std::int32_t k = n / FSampleBytes - 1; k >= 0; --k) {
            std::memmove(p + k * frameBytes, p + k * FSampleBytes, FSampleBytes);
            std::memmove(p + k * frameBytes + FSampleBytes, p + k * FSampleBytes, FSampleBytes);
        }
        n *= 2;
    }
    // Centre (0.5) leaves both channels at full level; each side fades one channel to silence.
    const float b = FBalance.load();
    const double gain = b > 0.5f ? 2.0 * (1.0 - b) : 2.0 * b;
    const std::int32_t channel = b > 0.5f ? 0 : 1;
    if (b != 0.5f) {
        const std::int32_t frames = n / frameBytes;
        for (std::int32_t k = 0; k < frames; ++k) {
            std::uint8_t* s = p + k * frameBytes + channel * FSampleBytes;
            if (FSampleBytes == 1) {
                // 8-bit samples are unsigned around 128: silence must stay at 128.
                const double v = std::nearbyint((s[0] - 128) * gain) + 128;
                s[0] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
            } else {
                Put16(s, Saturate16(Get16(s) * gain));
            }
        }
    }
    if (FSize < 0) {
        FPosition += n;
    } else if (inputSize > 0) {
        const double ratio = std::nearbyint(static_cast<double>(FSize) / inputSize);
        FPosition = static_cast<std::int32_t>(ratio * inputPosition);
    }
    return n;
}

} // namespace audio
