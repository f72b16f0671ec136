#include "audio/ACS_Converters.h"

#include "bytes/LittleEndian.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace audio {

namespace {

constexpr std::int32_t kBlockBytes = 32768;

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
    TACSInput& input = StartInput();
    FEndOfInput = false;
    FEndConverted = false;
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
    FlushInput();
}

const std::uint8_t* TBlockConverter::ConvertEnd() {
    FBufferEnd = 0;
    return nullptr;
}

bool TBlockConverter::Refill() {
    // Repeats while a block converts to nothing (a few samples left over at the end).
    do {
        FBufferStart = 1;
        FBufferEnd = 0;
        if (FEndOfInput) {
            if (FEndConverted) {
                return false;
            }
            FEndConverted = true;
            outData_ = ConvertEnd();
            continue;
        }
        std::int32_t gathered = 0;
        while (gathered < FInputBufferSize) {
            const std::int32_t n =
                ReadInput(FInBuffer.data() + gathered, FInputBufferSize - gathered);
            if (n <= 0) {
                FEndOfInput = true;
                break;
            }
            gathered += n;
        }
        if (gathered > 0) {
            outData_ = ConvertBlock(gathered);
        }
    } while (FBufferEnd <= 0);
    return true;
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
    FollowInputPosition(count);
    return count;
}

// ---- TRateConverter -------------------------------------------------------------------------

TRateConverter::TRateConverter() = default;

TRateConverter::~TRateConverter() {
    DetachUsers();
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
    const std::int32_t inRate = input.SampleRate();
    FChannels = input.Channels();
    if (inRate <= 0 || FChannels <= 0) {
        // Nothing sensible can come out of a stream without a rate or channels.
        input.Flush();
        FBusy = false;
        throw EACSException("Input format is not valid");
    }
    const float ratio = static_cast<float>(FOutSampleRate) / static_cast<float>(inRate);
    SetScaledSize(input.Size(), static_cast<double>(ratio));
    if (ratio <= 1.0f) {
        FInputBufferSize = kBlockBytes;
    } else {
        FInputBufferSize = static_cast<std::int32_t>(32768.0f / ratio) / 4 * 4;
    }
    const std::int32_t frameBytes = 2 * FChannels;
    FInputBufferSize = std::max(FInputBufferSize / frameBytes * frameBytes, frameBytes);
    FInBuffer.assign(static_cast<std::size_t>(FInputBufferSize), 0);

    const std::int64_t common = std::gcd(std::int64_t{inRate}, std::int64_t{FOutSampleRate});
    FUp = FOutSampleRate / common;
    FDown = inRate / common;
    // Lowering the rate, output k's newest tap is the input sample just after its instant;
    // otherwise the one before it (the delays the converter has always had).
    FTapLead = inRate > FOutSampleRate ? 1 : -1;
    FHistoryFrames = FKernelWidth + 1;
    const std::int64_t maxFrames = FInputBufferSize / frameBytes;
    // The most outputs one block can give: its frames at the exact rate ratio, plus the ones
    // the carried fraction can add.
    const std::int64_t maxOutputs = maxFrames * FUp / FDown + 3;
    FOutBuffer.assign(
        std::max<std::size_t>(kBlockBytes, static_cast<std::size_t>(maxOutputs * frameBytes)), 0);
    FPlanes.assign(static_cast<std::size_t>(FChannels),
                   std::vector<double>(static_cast<std::size_t>(FHistoryFrames + maxFrames + 2)));
    FBase = 0;
    FWhole = 0;
    FFraction = 0;
    BuildTable(ratio <= 1.0f ? 0.4 * static_cast<double>(ratio) : 0.4);
}

void TRateConverter::BuildTable(double fc) {
    // One row per distinct fraction while that stays small; rates with very many fractions
    // (a large output rate over the common divisor) interpolate between finer fixed steps.
    constexpr std::int64_t kMaxTableTaps = 1 << 18;
    constexpr std::int64_t kSteps = 1024;
    FInterpolate = FUp * FKernelWidth > kMaxTableTaps;
    if (FInterpolate) {
        FTableRows = kSteps + 1;
        FTable = MakePolyphaseTable(FKernelWidth, fc, FFilterWindow, kSteps, FTableRows);
    } else {
        FTableRows = FUp;
        FTable = MakePolyphaseTable(FKernelWidth, fc, FFilterWindow, FUp, FUp);
    }
}

void TRateConverter::ReleaseBuffers() {
    FTable = {};
    FPlanes = {};
    FOutBuffer = {};
}

namespace {

// Four running sums keep the multiply-adds independent of each other.
double Dot(const double* a, const double* b, std::int32_t n) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    std::int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += a[i] * b[i];
        s1 += a[i + 1] * b[i + 1];
        s2 += a[i + 2] * b[i + 2];
        s3 += a[i + 3] * b[i + 3];
    }
    for (; i < n; ++i) {
        s0 += a[i] * b[i];
    }
    return (s0 + s1) + (s2 + s3);
}

} // namespace

double TRateConverter::Filter(const double* data, std::int64_t phase) const {
    const std::int32_t w = FKernelWidth;
    if (!FInterpolate) {
        return Dot(FTable.data() + phase * w, data, w);
    }
    const double at =
        static_cast<double>(phase) * static_cast<double>(FTableRows - 1) / static_cast<double>(FUp);
    const auto row = static_cast<std::int64_t>(at);
    const double t = at - static_cast<double>(row);
    const double a = Dot(FTable.data() + row * w, data, w);
    if (t == 0.0) {
        return a;
    }
    return a + t * (Dot(FTable.data() + (row + 1) * w, data, w) - a);
}

const std::uint8_t* TRateConverter::ConvertBlock(std::int32_t bytes) {
    const std::int32_t frames = bytes / (2 * FChannels);
    FBufferEnd = 0;
    if (frames > 0) {
        Resample(FInBuffer.data(), frames, FBase + frames);
    }
    return FOutBuffer.data();
}

const std::uint8_t* TRateConverter::ConvertEnd() {
    // The last outputs before the end of the input may want a tap just past it: silence.
    Resample(nullptr, 2, FBase);
    return FOutBuffer.data();
}

void TRateConverter::Resample(const std::uint8_t* x, std::int32_t frames, std::int64_t limit) {
    const std::int32_t c = FChannels;
    const std::int64_t h = FHistoryFrames;
    for (std::int32_t ch = 0; ch < c; ++ch) {
        double* plane = FPlanes[static_cast<std::size_t>(ch)].data() + h;
        for (std::int32_t i = 0; i < frames; ++i) {
            plane[i] = x == nullptr
                           ? 0.0
                           : bytes::GetLeI16(x + 2 * (static_cast<std::ptrdiff_t>(i) * c + ch));
        }
    }
    const std::int64_t end = FBase + frames;
    std::uint8_t* dst = FOutBuffer.data();
    std::int32_t outputs = 0;
    while (FWhole < limit && FWhole + FTapLead < end) {
        const std::int64_t oldest = FWhole + FTapLead - (FKernelWidth - 1);
        const std::int64_t at = oldest - FBase + h;
        for (std::int32_t ch = 0; ch < c; ++ch) {
            bytes::PutLeI16(
                dst,
                Saturate16(Filter(FPlanes[static_cast<std::size_t>(ch)].data() + at, FFraction)));
            dst += 2;
        }
        ++outputs;
        FFraction += FDown;
        FWhole += FFraction / FUp;
        FFraction %= FUp;
    }
    // Keep the newest frames for the taps of the next block's first outputs.
    const std::int64_t total = h + frames;
    for (auto& plane : FPlanes) {
        std::copy(plane.begin() + (total - h), plane.begin() + total, plane.begin());
    }
    FBase = end;
    FBufferEnd = outputs * 2 * c;
}

// ---- TMSConverter ---------------------------------------------------------------------------

TMSConverter::TMSConverter() = default;

TMSConverter::~TMSConverter() {
    DetachUsers();
}

std::int32_t TMSConverter::Channels() {
    return RequireInput().Channels() == 1 ? 2 : 1;
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
            const std::int32_t left = bytes::GetLeI16(p + 4 * k);
            const std::int32_t right = bytes::GetLeI16(p + 4 * k + 2);
            bytes::PutLeI16(p + 2 * k,
                            static_cast<std::int16_t>((left + right) /
                                                      2)); // C++ division truncates toward zero
        }
        FBufferEnd = frames * 2;
        return p;
    }
    const std::int32_t samples = bytes / 2;
    const TMSConverterMode mode = FMode.load();
    // Backwards, so each sample is read before its place is overwritten.
    for (std::int32_t k = samples - 1; k >= 0; --k) {
        const std::int16_t s = bytes::GetLeI16(p + 2 * k);
        const std::int16_t left = mode == msmMonoToLeft ? 0 : s;
        const std::int16_t right = mode == msmMonoToRight ? 0 : s;
        bytes::PutLeI16(p + 4 * k, left);
        bytes::PutLeI16(p + 4 * k + 2, right);
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
            const auto biased = static_cast<std::uint16_t>(bytes::GetLeI16(p + 2 * k) + 32768);
            p[k] = static_cast<std::uint8_t>(biased >> 8);
        }
        FBufferEnd = samples;
        return p;
    }
    for (std::int32_t k = bytes - 1; k >= 0; --k) {
        bytes::PutLeI16(p + 2 * k, static_cast<std::int16_t>(p[k] * 256 - 32768));
    }
    FBufferEnd = bytes * 2;
    return p;
}

// ---- TStereoBalance -------------------------------------------------------------------------

TStereoBalance::TStereoBalance() = default;

TStereoBalance::~TStereoBalance() {
    DetachUsers();
}

std::int32_t TStereoBalance::Channels() {
    RequireInput();
    return 2;
}

void TStereoBalance::SetBalance(float value) {
    if (value >= 0.0f && value <= 1.0f) {
        FBalance = value;
    }
}

void TStereoBalance::Init() {
    TACSInput& input = StartInput();
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
    FlushInput();
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
    std::int32_t n = request > 0 ? ReadInput(p, request) : 0;
    if (n <= 0) {
        return 0;
    }
    if (FMonoInput) {
        n -= n % FSampleBytes;
        const auto sampleBytes = static_cast<std::size_t>(FSampleBytes); // 1 or 2
        for (std::int32_t k = n / FSampleBytes - 1; k >= 0; --k) {
            std::memmove(p + k * frameBytes, p + k * FSampleBytes, sampleBytes);
            std::memmove(p + k * frameBytes + FSampleBytes, p + k * FSampleBytes, sampleBytes);
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
                bytes::PutLeI16(s, Saturate16(bytes::GetLeI16(s) * gain));
            }
        }
    }
    FollowInputPosition(n);
    return n;
}

} // namespace audio
