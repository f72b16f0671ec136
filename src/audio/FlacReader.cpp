#include "audio/FlacReader.h"

#include <FLAC/stream_decoder.h>

#include <stdexcept>

namespace audio {

struct FlacReaderCallbacks {
    static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*,
                                                const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* data) {
        auto* reader = static_cast<TFlacReader*>(data);
        const unsigned channels = frame->header.channels;
        const unsigned blocksize = frame->header.blocksize;
        if (static_cast<int>(channels) != reader->format_.Channels ||
            static_cast<int>(frame->header.bits_per_sample) != reader->sourceBits_) {
            reader->error_ = "the FLAC stream changes its format midway";
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const unsigned shift =
            static_cast<unsigned>(reader->format_.BitsPerSample - reader->sourceBits_);
        reader->samples_.resize(std::size_t{blocksize} * channels);
        std::int32_t* out = reader->samples_.data();
        for (unsigned i = 0; i < blocksize; ++i) {
            for (unsigned c = 0; c < channels; ++c) {
                *out++ =
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(buffer[c][i]) << shift);
            }
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata,
                         void* data) {
        if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO) {
            return;
        }
        auto* reader = static_cast<TFlacReader*>(data);
        const FLAC__StreamMetadata_StreamInfo& info = metadata->data.stream_info;
        reader->sourceBits_ = static_cast<int>(info.bits_per_sample);
        reader->format_ =
            TPcmFormat{static_cast<int>(info.channels), static_cast<int>(info.sample_rate),
                       (reader->sourceBits_ + 7) / 8 * 8};
        reader->totalFrames_ = info.total_samples;
        reader->haveStreamInfo_ = true;
    }
    static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status,
                      void* data) {
        auto* reader = static_cast<TFlacReader*>(data);
        if (reader->error_.empty()) {
            reader->error_ = std::string("the FLAC stream is damaged (") +
                             FLAC__StreamDecoderErrorStatusString[status] + ")";
        }
    }
};

void TFlacReader::DecoderDeleter::operator()(FLAC__StreamDecoder* decoder) const {
    FLAC__stream_decoder_delete(decoder);
}

TFlacReader::TFlacReader(const std::string& path) : decoder_(FLAC__stream_decoder_new()) {
    if (!decoder_) {
        throw std::runtime_error("out of memory for the FLAC decoder");
    }
    FLAC__stream_decoder_set_md5_checking(decoder_.get(), true);
    const FLAC__StreamDecoderInitStatus init = FLAC__stream_decoder_init_file(
        decoder_.get(), path.c_str(), &FlacReaderCallbacks::Write, &FlacReaderCallbacks::Metadata,
        &FlacReaderCallbacks::Error, this);
    if (init != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        throw std::runtime_error(std::string("cannot open the FLAC file (") +
                                 FLAC__StreamDecoderInitStatusString[init] + ")");
    }
    if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()) || !haveStreamInfo_) {
        throw std::runtime_error(error_.empty() ? "not a FLAC file" : error_);
    }
}

TFlacReader::~TFlacReader() = default;

bool TFlacReader::Read(std::vector<std::uint8_t>& pcm) {
    pcm.clear();
    samples_.clear();
    if (finished_) {
        return false;
    }
    while (samples_.empty()) {
        if (FLAC__stream_decoder_get_state(decoder_.get()) == FLAC__STREAM_DECODER_END_OF_STREAM) {
            // A stream whose audio differs from the checksum its encoder stored is damaged.
            finished_ = true;
            if (!FLAC__stream_decoder_finish(decoder_.get())) {
                throw std::runtime_error("the FLAC file's audio does not match its checksum");
            }
            return false;
        }
        if (!FLAC__stream_decoder_process_single(decoder_.get()) || !error_.empty()) {
            throw std::runtime_error(error_.empty() ? "the FLAC file could not be decoded"
                                                    : error_);
        }
    }
    Int32ToPcm(samples_, format_, pcm);
    framesRead_ += samples_.size() / static_cast<std::size_t>(format_.Channels);
    return true;
}

} // namespace audio
