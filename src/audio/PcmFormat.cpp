#include "audio/PcmFormat.h"

namespace audio {

void PcmToInt32(std::span<const std::uint8_t> bytes, const TPcmFormat& format,
                std::vector<std::int32_t>& out) {
    const auto width = static_cast<std::size_t>(format.BytesPerSample());
    const auto frame = static_cast<std::size_t>(format.FrameBytes());
    const std::size_t count =
        frame == 0 ? 0 : bytes.size() / frame * static_cast<std::size_t>(format.Channels);
    out.resize(count);
    const std::uint8_t* p = bytes.data();
    for (std::size_t i = 0; i < count; ++i, p += width) {
        if (width == 1) {
            out[i] = static_cast<std::int32_t>(p[0]) - 128;
            continue;
        }
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < width; ++b) {
            value |= static_cast<std::uint32_t>(p[b]) << (8 * b);
        }
        // Sign extension from the top byte.
        const unsigned shift = static_cast<unsigned>(32 - 8 * width);
        out[i] = static_cast<std::int32_t>(value << shift) >> shift;
    }
}

void Int32ToPcm(std::span<const std::int32_t> samples, const TPcmFormat& format,
                std::vector<std::uint8_t>& out) {
    const auto width = static_cast<std::size_t>(format.BytesPerSample());
    out.resize(samples.size() * width);
    std::uint8_t* p = out.data();
    for (const std::int32_t sample : samples) {
        if (width == 1) {
            *p++ = static_cast<std::uint8_t>(sample + 128);
            continue;
        }
        const auto value = static_cast<std::uint32_t>(sample);
        for (std::size_t b = 0; b < width; ++b) {
            *p++ = static_cast<std::uint8_t>(value >> (8 * b));
        }
    }
}

void Int32ToFloat(std::span<const std::int32_t> samples, int bitsPerSample,
                  std::vector<float>& out) {
    const double scale = 1.0 / static_cast<double>(std::int64_t{1} << (bitsPerSample - 1));
    out.resize(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        out[i] = static_cast<float>(samples[i] * scale);
    }
}

} // namespace audio
