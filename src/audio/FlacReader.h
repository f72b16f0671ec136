#pragma once
// Decodes a FLAC file into PCM through libFLAC's stream decoder, frame by frame. Samples of
// a bit depth that is not whole bytes (12 or 20 bits) are widened to the next whole byte,
// shifted up so they keep their loudness; every other depth comes out as it went in.
// One reader per thread; it owns the decoder and its open file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/PcmFormat.h"

#include <FLAC/stream_decoder.h>

namespace audio {

class TFlacReader {
public:
    // Opens the file and reads its stream header. Throws std::runtime_error saying why when
    // it cannot be read or is not FLAC.
    explicit TFlacReader(const std::string& path);
    ~TFlacReader();
    TFlacReader(const TFlacReader&) = delete;
    TFlacReader& operator=(const TFlacReader&) = delete;

    // The PCM format of what Read gives.
    const TPcmFormat& Format() const { return format_; }
    // From the stream header; 0 when the header does not say.
    std::uint64_t TotalFrames() const { return totalFrames_; }
    std::uint64_t FramesRead() const { return framesRead_; }

    // Replaces pcm with the next decoded frame's samples; false (and pcm empty) at the end.
    // Throws when the stream is damaged.
    bool Read(std::vector<std::uint8_t>& pcm);

private:
    struct DecoderDeleter {
        void operator()(FLAC__StreamDecoder* decoder) const;
    };

    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder_;
    TPcmFormat format_;
    int sourceBits_ = 16;
    std::uint64_t totalFrames_ = 0;
    std::uint64_t framesRead_ = 0;
    std::vector<std::int32_t> samples_; // the last decoded frame, interleaved
    bool haveStreamInfo_ = false;
    bool finished_ = false;
    std::string error_;

    friend struct FlacReaderCallbacks;
};

} // namespace audio
