#pragma once
// The WAVE format record (the first 16 bytes of a "fmt " chunk) and the canonical 44-byte
// header of a PCM WAV file: "RIFF" size "WAVE", a 16-byte "fmt " chunk, then the "data"
// chunk header, with the audio right after it. Every writer of plain WAV files builds its
// header here; readers of any WAV parse the format record here.
// Plain C++, no state: callable from any thread.
#include <array>
#include <cstdint>
#include <vector>

namespace bytes {

constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;
constexpr std::size_t kWaveFormatRecordBytes = 16;
constexpr std::size_t kPcmWavHeaderBytes = 44;
// Byte offsets of the two size fields of the canonical header, for rewriting them in place.
constexpr std::size_t kRiffSizeOffset = 4;
constexpr std::size_t kPcmDataSizeOffset = 40;
// The extensible header: its 40-byte "fmt " chunk adds the valid bits, the speakers of the
// channels and the PCM sub-format to the record.
constexpr std::size_t kExtensiblePcmWavHeaderBytes = 68;

struct WaveFormatRecord {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0; // bytes per second
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;

    // Interleaved PCM: a block is one frame of whole bytes per sample.
    static WaveFormatRecord Pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits);

    bool operator==(const WaveFormatRecord&) const = default;
};

// The record stored at p (kWaveFormatRecordBytes bytes).
WaveFormatRecord ParseWaveFormatRecord(const std::uint8_t* p);
void PutWaveFormatRecord(std::uint8_t* p, const WaveFormatRecord& format);
void AppendWaveFormatRecord(std::vector<std::uint8_t>& out, const WaveFormatRecord& format);

// The RIFF size of a canonical file holding dataBytes of audio: the 36 header bytes after
// the size field, the data and its pad byte when odd; clamped to 32 bits.
std::uint32_t PcmRiffSize(std::uint64_t dataBytes);

// The canonical header for dataBytes of audio (the data size clamped to 32 bits).
std::array<std::uint8_t, kPcmWavHeaderBytes> PcmWavHeader(const WaveFormatRecord& format,
                                                          std::uint64_t dataBytes);

// The extensible header for dataBytes of PCM (format's tag is written as the extensible
// one; sizes clamped as in the canonical header).
std::array<std::uint8_t, kExtensiblePcmWavHeaderBytes>
ExtensiblePcmWavHeader(const WaveFormatRecord& format, std::uint16_t validBits,
                       std::uint32_t channelMask, std::uint64_t dataBytes);

} // namespace bytes
