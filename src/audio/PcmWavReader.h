#pragma once
// Reads the samples of a plain PCM WAV file (format 1, or the extensible format with PCM
// samples) of 8, 16, 24 or 32 bits and any channel count and rate, for the encoders that take
// them as they are. A data size larger than the file (a recording that was cut off, or a
// streamed header of 0xFFFFFFFF) stops at the end of the file.
// One reader per thread; it owns its open file.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "audio/PcmFormat.h"

namespace audio {

class TPcmWavReader {
public:
    // Opens the file and finds its format and data. Throws std::runtime_error saying why
    // when it cannot be read or is not such a WAV file.
    explicit TPcmWavReader(const std::string& path);

    const TPcmFormat& Format() const { return format_; }
    std::uint64_t TotalFrames() const { return totalFrames_; }
    std::uint64_t FramesRead() const { return framesRead_; }

    // Replaces buffer with up to maxFrames whole frames; empty at the end. Throws when the
    // file cannot be read.
    void Read(std::vector<std::uint8_t>& buffer, std::size_t maxFrames);

private:
    void FindChunks(std::uint64_t fileSize);

    std::ifstream in_;
    TPcmFormat format_;
    std::uint64_t totalFrames_ = 0;
    std::uint64_t framesRead_ = 0;
};

} // namespace audio
