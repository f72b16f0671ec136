#include "audio/OpusWriter.h"

#include <opusenc.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace audio {

struct OpusWriterCallbacks {
    // A failed write is kept and the rest skipped, but never reported to libopusenc, whose
    // failure path can leave its buffers inconsistent; the writer throws at its next call.
    static int Write(void* data, const unsigned char* page, opus_int32 length) {
        auto* writer = static_cast<TOpusWriter*>(data);
        const auto bytes = static_cast<std::size_t>(length);
        errno = 0;
        if (writer->writeError_ == 0 && std::fwrite(page, 1, bytes, writer->file_.get()) != bytes) {
            writer->writeError_ = errno != 0 ? errno : EIO;
        }
        return 0;
    }
    // The writer closes its file itself, where it can tell a failed flush.
    static int Close(void*) { return 0; }
};

void TOpusWriter::EncoderDeleter::operator()(OggOpusEnc* encoder) const {
    ope_encoder_destroy(encoder);
}

void TOpusWriter::CommentsDeleter::operator()(OggOpusComments* comments) const {
    ope_comments_destroy(comments);
}

TOpusWriter::TOpusWriter(const std::string& path, const TPcmFormat& format, int bitRateKbps)
    : format_(format) {
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_) {
        throw std::runtime_error(std::strerror(errno));
    }
    if (format.SampleRate < kMinSampleRate || format.SampleRate > kMaxSampleRate) {
        throw std::runtime_error("the Opus encoder cannot take audio at " +
                                 std::to_string(format.SampleRate) + " Hz (8000 to 192000 Hz)");
    }
    comments_.reset(ope_comments_create());
    if (!comments_) {
        throw std::runtime_error("out of memory for the Opus encoder");
    }
    static const OpusEncCallbacks callbacks{&OpusWriterCallbacks::Write,
                                            &OpusWriterCallbacks::Close};
    // Family 0 is plain mono or stereo; family 1 the surround layouts up to eight channels.
    const int family = format.Channels <= 2 ? 0 : 1;
    int error = OPE_OK;
    encoder_.reset(ope_encoder_create_callbacks(
        &callbacks, this, comments_.get(), format.SampleRate, format.Channels, family, &error));
    if (!encoder_) {
        throw std::runtime_error(std::string("the Opus encoder cannot take this audio (") +
                                 std::to_string(format.SampleRate) + " Hz, " +
                                 std::to_string(format.Channels) +
                                 " channels): " + ope_strerror(error));
    }
    const opus_int32 bitsPerSecond = std::clamp(bitRateKbps, kMinBitRate, kMaxBitRate) * 1000;
    if (ope_encoder_ctl(encoder_.get(), OPUS_SET_BITRATE(bitsPerSecond)) != OPE_OK ||
        ope_encoder_ctl(encoder_.get(), OPUS_SET_VBR(1)) != OPE_OK) {
        throw std::runtime_error("the Opus encoder refused its bit rate");
    }
}

TOpusWriter::~TOpusWriter() {
    encoder_.reset();
    file_.reset();
}

void TOpusWriter::Write(std::span<const std::uint8_t> pcm) {
    PcmToInt32(pcm, format_, samples_);
    Int32ToFloat(samples_, format_.BitsPerSample, floats_);
    const auto frames =
        static_cast<int>(floats_.size() / static_cast<std::size_t>(format_.Channels));
    if (frames == 0) {
        return;
    }
    const int result = ope_encoder_write_float(encoder_.get(), floats_.data(), frames);
    if (result != OPE_OK || writeError_ != 0) {
        Fail(result);
    }
}

void TOpusWriter::Finish() {
    const int result = ope_encoder_drain(encoder_.get());
    if (result != OPE_OK || writeError_ != 0) {
        Fail(result);
    }
    errno = 0;
    if (std::fclose(file_.release()) != 0) {
        throw std::runtime_error(std::strerror(errno != 0 ? errno : EIO));
    }
}

void TOpusWriter::Fail(int error) const {
    if (writeError_ != 0) {
        throw std::runtime_error(std::strerror(writeError_));
    }
    throw std::runtime_error(std::string("the Opus encoder failed: ") + ope_strerror(error));
}

} // namespace audio
