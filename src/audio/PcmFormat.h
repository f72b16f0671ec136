#pragma once
// The shape of plain interleaved PCM as the lossless and Opus codecs read and write it: a
// frame is one sample per channel, each sample little-endian in whole bytes (8-bit samples
// unsigned, wider ones signed), as a WAV file's data chunk holds them.
// Plain C++, no state: callable from any thread.
#include <cstdint>
#include <span>
#include <vector>

namespace audio {

struct TPcmFormat {
    int Channels = 2;
    int SampleRate = 44100;
    int BitsPerSample = 16; // 8, 16, 24 or 32

    int BytesPerSample() const { return (BitsPerSample + 7) / 8; }
    int FrameBytes() const { return BytesPerSample() * Channels; }
    bool operator==(const TPcmFormat&) const = default;
};

// The samples of whole frames in bytes (a trailing part frame is ignored), as signed values
// of BitsPerSample bits; out is replaced.
void PcmToInt32(std::span<const std::uint8_t> bytes, const TPcmFormat& format,
                std::vector<std::int32_t>& out);
// The other way round; out is replaced.
void Int32ToPcm(std::span<const std::int32_t> samples, const TPcmFormat& format,
                std::vector<std::uint8_t>& out);
// Signed values scaled to -1..1 (full scale 2^(bits-1)); out is replaced.
void Int32ToFloat(std::span<const std::int32_t> samples, int bitsPerSample,
                  std::vector<float>& out);

} // namespace audio
