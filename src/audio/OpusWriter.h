#pragma once
// Encodes PCM into an Ogg Opus file through libopusenc, at a variable bit rate around the
// one asked for. Any input rate from 8 kHz to 192 kHz is passed as it is: the library
// resamples to Opus's 48 kHz itself and records the input rate in the header.
// The pages are written through our own callback, so a failed write keeps the system's reason.
// One writer per thread; it owns the encoder and the file, both closed by the destructor
// (which leaves whatever was written: the caller removes a failed file).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/PcmFormat.h"

struct OggOpusEnc;
struct OggOpusComments;

namespace audio {

class TOpusWriter {
public:
    static constexpr int kMinBitRate = 6; // kbit/s
    static constexpr int kMaxBitRate = 256;
    static constexpr int kDefaultBitRate = 160;
    // The input rates taken: libopusenc's resampler misbehaves far below Opus's own lowest
    // rate (it fails an assertion at the end of a 50 Hz stream).
    static constexpr int kMinSampleRate = 8000;
    static constexpr int kMaxSampleRate = 192000;

    // Creates (or replaces) path. Throws std::runtime_error saying why when the file or the
    // encoder cannot be set up (a rate or channel count Opus cannot take).
    TOpusWriter(const std::string& path, const TPcmFormat& format, int bitRateKbps);
    ~TOpusWriter();
    TOpusWriter(const TOpusWriter&) = delete;
    TOpusWriter& operator=(const TOpusWriter&) = delete;

    // Encodes whole frames of PCM bytes in the writer's format. Throws on failure.
    void Write(std::span<const std::uint8_t> pcm);
    // Encodes what is buffered, ends the stream and closes the file. Throws on failure.
    void Finish();

private:
    struct EncoderDeleter {
        void operator()(OggOpusEnc* encoder) const;
    };
    struct CommentsDeleter {
        void operator()(OggOpusComments* comments) const;
    };
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    [[noreturn]] void Fail(int error) const;

    TPcmFormat format_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::unique_ptr<OggOpusComments, CommentsDeleter> comments_;
    std::unique_ptr<OggOpusEnc, EncoderDeleter> encoder_;
    int writeError_ = 0; // errno of the first failed write
    std::vector<std::int32_t> samples_;
    std::vector<float> floats_;

    friend struct OpusWriterCallbacks;
};

} // namespace audio
