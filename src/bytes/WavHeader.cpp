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
constexpr std::uint16_t kExtensionBytes = 22;
constexpr std::uint32_t kExtensibleFormatBytes = kWaveFormatRecordBytes + 2 + kExtensionBytes;
// KSDATAFORMAT_SUBTYPE_PCM as it lies in the file.
constexpr std::array<std::uint8_t, 16> kPcmSubFormat = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

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

namespace {

std::uint32_t ExtensibleRiffSize(std::uint64_t dataBytes) {
    return ClampU32(std::uint64_t{PcmRiffSize(dataBytes)} + kExtensibleFormatBytes -
                    kWaveFormatRecordBytes);
}

} // namespace

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

std::array<std::uint8_t, kExtensiblePcmWavHeaderBytes>
ExtensiblePcmWavHeader(const WaveFormatRecord& format, std::uint16_t validBits,
                       std::uint32_t channelMask, std::uint64_t dataBytes) {
    std::array<std::uint8_t, kExtensiblePcmWavHeaderBytes> h{};
    WaveFormatRecord record = format;
    record.formatTag = kWaveFormatExtensible;
    PutChunkHeader(h.data(), "RIFF", ExtensibleRiffSize(dataBytes));
    PutId(h.data() + 8, "WAVE");
    PutChunkHeader(h.data() + 12, "fmt ", kExtensibleFormatBytes);
    PutWaveFormatRecord(h.data() + 20, record);
    PutLe16(h.data() + 36, kExtensionBytes);
    PutLe16(h.data() + 38, validBits);
    PutLe32(h.data() + 40, channelMask);
    std::copy(kPcmSubFormat.begin(), kPcmSubFormat.end(), h.begin() + 44);
    PutChunkHeader(h.data() + 60, "data", ClampU32(dataBytes));
    return h;
}

} // namespace bytes
