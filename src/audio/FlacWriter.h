#pragma once
// Encodes PCM into a FLAC file through libFLAC's stream encoder. The file is written through
// our own callbacks so a failed write keeps the system's reason ("No space left on device");
// with verify on, libFLAC decodes every frame again and compares it with its input, and a
// mismatch fails the encode.
// One writer per thread; it owns the encoder and the file, both closed by the destructor
// (which leaves whatever was written: the caller removes a failed file).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/PcmFormat.h"

#include <FLAC/stream_encoder.h>

namespace audio {

class TFlacWriter {
public:
    static constexpr int kMinLevel = 0;
    static constexpr int kMaxLevel = 8;
    static constexpr int kDefaultLevel = 5;

    // Creates (or replaces) path. totalFrames, when known, goes into the stream header up
    // front. Throws std::runtime_error saying why when the file or encoder cannot be set up.
    TFlacWriter(const std::string& path, const TPcmFormat& format, int level, bool verify,
                std::uint64_t totalFrames);
    ~TFlacWriter();
    TFlacWriter(const TFlacWriter&) = delete;
    TFlacWriter& operator=(const TFlacWriter&) = delete;

    // Encodes whole frames of PCM bytes in the writer's format. Throws on failure.
    void Write(std::span<const std::uint8_t> pcm);
    // Flushes the last frames, rewrites the stream header and closes the file. Throws when
    // anything could not be written or verify found a mismatch.
    void Finish();

private:
    struct EncoderDeleter {
        void operator()(FLAC__StreamEncoder* encoder) const;
    };
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    [[noreturn]] void Fail(const char* what) const;

    TPcmFormat format_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder_;
    int writeError_ = 0; // errno of the first failed write
    std::vector<std::int32_t> samples_;

    friend struct FlacWriterCallbacks;
};

} // namespace audio
