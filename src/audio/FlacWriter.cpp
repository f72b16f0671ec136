#include "audio/FlacWriter.h"

#include <FLAC/stream_encoder.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace audio {

// The encoder's callbacks, which reach the writer's file and error field.
struct FlacWriterCallbacks {
    static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder*,
                                                const FLAC__byte buffer[], size_t bytes,
                                                uint32_t /*samples*/, uint32_t /*frame*/,
                                                void* data) {
        auto* writer = static_cast<TFlacWriter*>(data);
        errno = 0;
        if (std::fwrite(buffer, 1, bytes, writer->file_.get()) != bytes) {
            writer->writeError_ = errno != 0 ? errno : EIO;
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }
    static FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                              void* data) {
        auto* writer = static_cast<TFlacWriter*>(data);
        return ::fseeko(writer->file_.get(), static_cast<off_t>(offset), SEEK_SET) == 0
                   ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
                   : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
    static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                              void* data) {
        auto* writer = static_cast<TFlacWriter*>(data);
        const off_t at = ::ftello(writer->file_.get());
        if (at < 0) {
            return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
        }
        *offset = static_cast<FLAC__uint64>(at);
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }
};

void TFlacWriter::EncoderDeleter::operator()(FLAC__StreamEncoder* encoder) const {
    FLAC__stream_encoder_delete(encoder);
}

TFlacWriter::TFlacWriter(const std::string& path, const TPcmFormat& format, int level, bool verify,
                         std::uint64_t totalFrames)
    : format_(format) {
    file_.reset(std::fopen(path.c_str(), "w+b"));
    if (!file_) {
        throw std::runtime_error(std::strerror(errno));
    }
    encoder_.reset(FLAC__stream_encoder_new());
    if (!encoder_) {
        throw std::runtime_error("out of memory for the FLAC encoder");
    }
    FLAC__StreamEncoder* e = encoder_.get();
    const auto clamped = static_cast<unsigned>(std::clamp(level, kMinLevel, kMaxLevel));
    bool ok =
        FLAC__stream_encoder_set_verify(e, verify) &&
        FLAC__stream_encoder_set_compression_level(e, clamped) &&
        FLAC__stream_encoder_set_channels(e, static_cast<unsigned>(format.Channels)) &&
        FLAC__stream_encoder_set_bits_per_sample(e, static_cast<unsigned>(format.BitsPerSample)) &&
        FLAC__stream_encoder_set_sample_rate(e, static_cast<unsigned>(format.SampleRate)) &&
        FLAC__stream_encoder_set_total_samples_estimate(e, totalFrames);
    if (!ok) {
        Fail("the FLAC encoder refused its settings");
    }
    const FLAC__StreamEncoderInitStatus init =
        FLAC__stream_encoder_init_stream(e, &FlacWriterCallbacks::Write, &FlacWriterCallbacks::Seek,
                                         &FlacWriterCallbacks::Tell, nullptr, this);
    if (init != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        throw std::runtime_error(std::string("the FLAC encoder cannot take this audio: ") +
                                 FLAC__StreamEncoderInitStatusString[init]);
    }
}

TFlacWriter::~TFlacWriter() {
    // The encoder goes first: deleting it may still flush into the file.
    encoder_.reset();
    file_.reset();
}

void TFlacWriter::Write(std::span<const std::uint8_t> pcm) {
    PcmToInt32(pcm, format_, samples_);
    const auto frames =
        static_cast<uint32_t>(samples_.size() / static_cast<std::size_t>(format_.Channels));
    if (frames > 0 &&
        !FLAC__stream_encoder_process_interleaved(encoder_.get(), samples_.data(), frames)) {
        Fail("the FLAC encoder failed");
    }
}

void TFlacWriter::Finish() {
    const bool finished = FLAC__stream_encoder_finish(encoder_.get());
    if (!finished) {
        Fail("the FLAC encoder could not finish the file");
    }
    errno = 0;
    std::FILE* file = file_.release();
    if (std::fclose(file) != 0) {
        throw std::runtime_error(std::strerror(errno != 0 ? errno : EIO));
    }
}

void TFlacWriter::Fail(const char* what) const {
    if (writeError_ != 0) {
        throw std::runtime_error(std::strerror(writeError_));
    }
    const FLAC__StreamEncoderState state = FLAC__stream_encoder_get_state(encoder_.get());
    if (state == FLAC__STREAM_ENCODER_VERIFY_MISMATCH_IN_AUDIO_DATA ||
        state == FLAC__STREAM_ENCODER_VERIFY_DECODER_ERROR) {
        throw std::runtime_error("the FLAC encoder's verify found the encoded audio differs "
                                 "from its input");
    }
    throw std::runtime_error(std::string(what) + " (" + FLAC__StreamEncoderStateString[state] +
                             ")");
}

} // namespace audio
