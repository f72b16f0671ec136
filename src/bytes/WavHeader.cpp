#include "bytes/WavHeader.h"

#include "bytes/LittleEndian.h"
#include "bytes/Riff.h"

#include <algorithm>
#include <cstdint>

namespace bytes {

namespace {

// "WAVE", the fmt chunk's header and record, the data chunk's header.
constexpr std::uint32_t kHeaderBytesAfterRiffSize =
    4 + kChunkHeaderBytes + kWaveFormatRecordBytes + kChunkHeaderBytes;

} // namespace

WaveFormatRecord WaveFormatRecord::Pcm(std::uint16_t channels, std::uint32_t rate,
                                       std::uint16_t bits) {
    WaveFormatRecord format;
    format.formatTag = kWaveFormatPcm;
    format.channels = channels;
    format.sampleRate = rate;
    format.bitsPerSample = bits;
    format.blockAlign = static_cast<std::uint16_t>(channels * ((bits + 7) / 8));
    format.byteRate = rate * format.blockAlign;
    return format;
}

WaveFormatRecord ParseWaveFormatRecord(const std::uint8_t* p) {
    WaveFormatRecord format;
    format.formatTag = GetLe16(p);
    format.channels = GetLe16(p + 2);
    format.sampleRate = GetLe32(p + 4);
    format.byteRate = GetLe32(p + 8);
    format.blockAlign = GetLe16(p + 12);
    format.bitsPerSample = GetLe16(p + 14);
    return format;
}

void PutWaveFormatRecord(std::uint8_t* p, const WaveFormatRecord& format) {
    PutLe16(p, format.formatTag);
    PutLe16(p + 2, format.channels);
    PutLe32(p + 4, format.sampleRate);
    PutLe32(p + 8, format.byteRate);
    PutLe16(p + 12, format.blockAlign);
    PutLe16(p + 14, format.bitsPerSample);
}

void AppendWaveFormatRecord(std::vector<std::uint8_t>& out, const WaveFormatRecord& format) {
    const std::size_t at = out.size();
    out.resize(at + kWaveFormatRecordBytes);
    PutWaveFormatRecord(out.data() + at, format);
}

std::uint32_t PcmRiffSize(std::uint64_t dataBytes) {
    const std::uint64_t capped = std::min<std::uint64_t>(dataBytes, UINT32_MAX);
    return ClampU32(kHeaderBytesAfterRiffSize + capped + (capped & 1U));
}

std::array<std::uint8_t, kPcmWavHeaderBytes> PcmWavHeader(const WaveFormatRecord& format,
                                                          std::uint64_t dataBytes) {
    std::array<std::uint8_t, kPcmWavHeaderBytes> h{};
    PutChunkHeader(h.data(), "RIFF", PcmRiffSize(dataBytes));
    PutId(h.data() + 8, "WAVE");
    PutChunkHeader(h.data() + 12, "fmt ", static_cast<std::uint32_t>(kWaveFormatRecordBytes));
    PutWaveFormatRecord(h.data() + 20, format);
    PutChunkHeader(h.data() + 36, "data", ClampU32(dataBytes));
    return h;
}

} // namespace bytes
