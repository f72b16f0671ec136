#pragma once
// TWaveConverter: turns the payload of a compressed WAV file (MPEG layer 3, tag 0x55) into
// PCM through the audio-compression entry points (MSAcm.h), entirely in memory.
//
// It is a small in-memory stream holding the audio payload; after Convert it holds the PCM.
// Use: LoadFromWaveStream(file); set TargetFormat's tag to PCM; acmFormatSuggest(SourceFormat
// -> TargetFormat); Convert(); SaveWavToStream(memory stream). Single-threaded; memory use is
// the compressed payload plus the PCM (the caller's saved copy comes on top).
#include "audio/MSAcm.h"

#include <cstdint>
#include <iosfwd>
#include <span>
#include <vector>

namespace audio {

class TWaveConverter {
public:
    TWaveConverter();

    // Reads a WAV file's format into SourceFormat and its "data" payload into this stream,
    // starting at the stream's current position. Returns 0 (a file that is not RIFF/WAVE
    // simply loads nothing).
    int LoadFromWaveStream(std::istream& stream);
    // Converts the held data from SourceFormat to TargetFormat; an ACM result code.
    MMRESULT Convert();
    // Writes the held data as a WAV file (16-byte format chunk) at the target's position;
    // 0, or 286 when writing failed.
    int SaveWavToStream(std::iostream& target);

    TWaveFormatArea SourceFormat;
    TWaveFormatArea TargetFormat;
    uint32_t MaxFormatSize() const { return FMaxFormatSize; }

    // The in-memory stream's side.
    std::int64_t Size() const { return static_cast<std::int64_t>(FData.size()); }
    std::int64_t Position() const { return FPosition; }
    void SetPosition(std::int64_t value) { FPosition = value; }
    void SetSize(std::int64_t value);
    std::span<const uint8_t> Data() const { return FData; }
    // Replaces the contents (used by Convert and by tests).
    void Assign(std::vector<uint8_t> data);

private:
    uint32_t FMaxFormatSize = 0;
    std::vector<uint8_t> FData;
    std::int64_t FPosition = 0;
};

} // namespace audio
