#pragma once
// The audio-compression entry points the WAV converter uses, with their customary names,
// result codes and flags. One codec is installed: MPEG layer 3 (format tag 0x55) to 16-bit
// PCM, decoded with libmpg123.
//
// Contract:
// - Format descriptions are TWaveFormatArea values: the bytes of a wave format header
//   (tag, channels, rate, bytes per second, block align, bits, extra size, extra bytes), at
//   most kWaveFormatAreaSize bytes, read and written little-endian, never cast to a struct.
// - acmFormatSuggest gives 16-bit PCM at the source's rate and channels.
// - acmStreamSize with ACM_STREAMSIZEF_SOURCE is exact when it is given the source bytes:
//   it decodes them once to count, so the destination has no silent tail. Without them it
//   returns an upper bound.
// - acmStreamConvert converts the whole source of a prepared header in one call.
// - All functions are thread-safe; a stream handle is used by one thread at a time.
#include <array>
#include <cstddef>
#include <cstdint>

namespace audio {

inline constexpr std::size_t kWaveFormatAreaSize = 129;
inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x55;

class TWaveFormatArea {
public:
    std::array<uint8_t, kWaveFormatAreaSize> Bytes{};

    uint16_t FormatTag() const { return U16(0); }
    uint16_t Channels() const { return U16(2); }
    uint32_t SamplesPerSec() const { return U32(4); }
    uint32_t AvgBytesPerSec() const { return U32(8); }
    uint16_t BlockAlign() const { return U16(12); }
    uint16_t BitsPerSample() const { return U16(14); }
    uint16_t ExtraSize() const { return U16(16); }

    void SetFormatTag(uint16_t v) { SetU16(0, v); }
    void SetChannels(uint16_t v) { SetU16(2, v); }
    void SetSamplesPerSec(uint32_t v) { SetU32(4, v); }
    void SetAvgBytesPerSec(uint32_t v) { SetU32(8, v); }
    void SetBlockAlign(uint16_t v) { SetU16(12, v); }
    void SetBitsPerSample(uint16_t v) { SetU16(14, v); }
    void SetExtraSize(uint16_t v) { SetU16(16, v); }

private:
    uint16_t U16(std::size_t at) const {
        return static_cast<uint16_t>(Bytes[at] | (Bytes[at + 1] << 8));
    }
    uint32_t U32(std::size_t at) const {
        return U16(at) | (static_cast<uint32_t>(U16(at + 2)) << 16);
    }
    void SetU16(std::size_t at, uint16_t v) {
        Bytes[at] = static_cast<uint8_t>(v & 0xFF);
        Bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void SetU32(std::size_t at, uint32_t v) {
        SetU16(at, static_cast<uint16_t>(v & 0xFFFF));
        SetU16(at + 2, static_cast<uint16_t>(v >> 16));
    }
};

using MMRESULT = uint32_t;
using HACMSTREAM = uint32_t; // 0 is no stream

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
inline constexpr MMRESULT ACMERR_BUSY = 513;
inline constexpr MMRESULT ACMERR_UNPREPARED = 514;

inline constexpr uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;
inline constexpr uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
inline constexpr uint32_t ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
inline constexpr uint32_t ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
inline constexpr uint32_t ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
inline constexpr uint32_t ACM_STREAMOPENF_NONREALTIME = 0x00000004;
inline constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0x00000000;
inline constexpr uint32_t ACM_STREAMSIZEF_DESTINATION = 0x00000001;
inline constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
inline constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
inline constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

struct ACMSTREAMHEADER {
    uint32_t cbStruct = 0;
    uint32_t fdwStatus = 0;
    uintptr_t dwUser = 0;
    const uint8_t* pbSrc = nullptr;
    uint32_t cbSrcLength = 0;
    uint32_t cbSrcLengthUsed = 0;
    uintptr_t dwSrcUser = 0;
    uint8_t* pbDst = nullptr;
    uint32_t cbDstLength = 0;
    uint32_t cbDstLengthUsed = 0;
    uintptr_t dwDstUser = 0;
    std::array<uint32_t, 10> dwReservedDriver{};
};

// Only ACM_METRIC_MAX_SIZE_FORMAT is known; the value is a uint32_t.
MMRESULT acmMetrics(void* hao, uint32_t uMetric, void* pMetric);

MMRESULT acmFormatSuggest(void* had, const TWaveFormatArea* pwfxSrc, TWaveFormatArea* pwfxDst,
                          uint32_t cbwfxDst, uint32_t fdwSuggest);

MMRESULT acmStreamOpen(HACMSTREAM* phas, void* had, const TWaveFormatArea* pwfxSrc,
                       const TWaveFormatArea* pwfxDst, void* pwfltr, uintptr_t dwCallback,
                       uintptr_t dwInstance, uint32_t fdwOpen);

// pbSource (our addition): the cbInput source bytes, for an exact answer.
MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t* pdwOutputBytes, uint32_t fdwSize,
                       const uint8_t* pbSource = nullptr);

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwPrepare);
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwConvert);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwUnprepare);
MMRESULT acmStreamClose(HACMSTREAM has, uint32_t fdwClose);

} // namespace audio
