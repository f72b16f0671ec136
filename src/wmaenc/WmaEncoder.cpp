#include "wmaenc/WmaEncoder.h"

#include "wmaenc/SignalCleanup.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

namespace wmaenc {
namespace {

constexpr AVSampleFormat EncoderFormat = AV_SAMPLE_FMT_FLTP;
// The WMA v2 encoder refuses anything below 24 kbit/s in total; the low presets are
// encoded at that rate, keeping their sample rate and channel count.
constexpr int MinimumBitRate = 24000;

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb != nullptr) {
            avio_closep(&c->pb);
        }
        avformat_free_context(c);
    }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct ResamplerCloser {
    void operator()(SwrContext* c) const { swr_free(&c); }
};
struct FifoCloser {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketCloser>;

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

[[noreturn]] void Fail(const std::string& what, int code) {
    throw std::runtime_error(what + " (" + ErrorText(code) + ")");
}

FramePtr NewFrame() {
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        throw std::runtime_error("out of memory");
    }
    return frame;
}

PacketPtr NewPacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw std::runtime_error("out of memory");
    }
    return packet;
}

} // namespace

struct TWmaEncoder::State {
    TEncodeRequest request;
    TPreset preset;

    std::unique_ptr<AVFormatContext, InputCloser> input;
    std::unique_ptr<AVCodecContext, CodecCloser> decoder;
    int inputStream = -1;

    std::unique_ptr<AVFormatContext, OutputCloser> output;
    std::unique_ptr<AVCodecContext, CodecCloser> encoder;
    AVStream* outputStream = nullptr;
    bool outputCreated = false;
    bool finished = false;

    std::unique_ptr<SwrContext, ResamplerCloser> resampler;
    std::unique_ptr<AVAudioFifo, FifoCloser> fifo;
    std::vector<std::vector<float>> planes; // resampler output, one buffer per channel
    std::int64_t samplesSent = 0;
    int lastPercent = -1;

    void OpenInput();
    void OpenEncoder();
    void OpenOutput();
    void OpenResampler();
    void Transcode(const ProgressHandler& progress);
    void ReportProgress(const ProgressHandler& progress);
    void Decode(const AVPacket* packet);
    void Resample(const AVFrame* frame);
    void EncodeQueued(bool final);
    void Encode(const AVFrame* frame);
    void RemovePartialOutput();
};

void TWmaEncoder::State::OpenInput() {
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, request.Input.c_str(), nullptr, nullptr);
    if (rc < 0) {
        Fail("cannot open input file \"" + request.Input + "\"", rc);
    }
    input.reset(raw);
    if ((rc = avformat_find_stream_info(raw, nullptr)) < 0) {
        Fail("cannot read input file \"" + request.Input + "\"", rc);
    }
    const AVCodec* codec = nullptr;
    inputStream = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (inputStream < 0 || codec == nullptr) {
        throw std::runtime_error("input file \"" + request.Input + "\" holds no readable audio");
    }
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder) {
        throw std::runtime_error("out of memory");
    }
    avcodec_parameters_to_context(decoder.get(), raw->streams[inputStream]->codecpar);
    if ((rc = avcodec_open2(decoder.get(), codec, nullptr)) < 0) {
        Fail("cannot decode input file \"" + request.Input + "\"", rc);
    }
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        // WAV files without a channel mask: take the usual layout for the count.
        const int count = decoder->ch_layout.nb_channels;
        av_channel_layout_uninit(&decoder->ch_layout);
        av_channel_layout_default(&decoder->ch_layout, count);
    }
}

void TWmaEncoder::State::OpenEncoder() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (codec == nullptr) {
        throw std::runtime_error("no Windows Media Audio 2 encoder available");
    }
    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder) {
        throw std::runtime_error("out of memory");
    }
    encoder->sample_fmt = EncoderFormat;
    encoder->sample_rate = preset.SampleRate;
    encoder->bit_rate = std::max(preset.BitRate, MinimumBitRate);
    av_channel_layout_default(&encoder->ch_layout, preset.Channels);
    encoder->time_base = AVRational{1, preset.SampleRate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (const int rc = avcodec_open2(encoder.get(), codec, nullptr); rc < 0) {
        Fail("cannot set up the encoder for " + request.Setting, rc);
    }
}

void TWmaEncoder::State::OpenOutput() {
    AVFormatContext* raw = nullptr;
    int rc = avformat_alloc_output_context2(&raw, nullptr, "asf", request.Output.c_str());
    if (rc < 0 || raw == nullptr) {
        Fail("cannot prepare output file", rc);
    }
    output.reset(raw);
    OpenEncoder();
    outputStream = avformat_new_stream(raw, nullptr);
    if (outputStream == nullptr) {
        throw std::runtime_error("out of memory");
    }
    avcodec_parameters_from_context(outputStream->codecpar, encoder.get());
    outputStream->time_base = encoder->time_base;
    if (!request.Author.empty()) {
        av_dict_set(&raw->metadata, "artist", request.Author.c_str(), 0);
    }
    if (!request.Description.empty()) {
        av_dict_set(&raw->metadata, "comment", request.Description.c_str(), 0);
    }
    if ((rc = avio_open(&raw->pb, request.Output.c_str(), AVIO_FLAG_WRITE)) < 0) {
        Fail("cannot create output file \"" + request.Output + "\"", rc);
    }
    outputCreated = true;
    RemoveOnSignal(request.Output);
    if ((rc = avformat_write_header(raw, nullptr)) < 0) {
        Fail("cannot write output file \"" + request.Output + "\"", rc);
    }
}

void TWmaEncoder::State::OpenResampler() {
    SwrContext* raw = nullptr;
    int rc = swr_alloc_set_opts2(&raw, &encoder->ch_layout, EncoderFormat, encoder->sample_rate,
                                 &decoder->ch_layout, decoder->sample_fmt, decoder->sample_rate, 0,
                                 nullptr);
    resampler.reset(raw);
    if (rc >= 0 && decoder->ch_layout.nb_channels == 1 && encoder->ch_layout.nb_channels > 1) {
        // The default matrix spreads one channel over two at -3 dB each, so the speakers
        // together keep the loudness; a mono recording should instead sound on each side
        // as loud as it was.
        const std::vector<double> everySide(static_cast<std::size_t>(preset.Channels), 1.0);
        rc = swr_set_matrix(raw, everySide.data(), 1);
    }
    if (rc < 0 || (rc = swr_init(raw)) < 0) {
        Fail("cannot convert the input's sample format", rc);
    }
    fifo.reset(av_audio_fifo_alloc(EncoderFormat, preset.Channels, encoder->frame_size));
    if (!fifo) {
        throw std::runtime_error("out of memory");
    }
    planes.resize(static_cast<std::size_t>(preset.Channels));
}

void TWmaEncoder::State::ReportProgress(const ProgressHandler& progress) {
    const std::int64_t size = avio_size(input->pb);
    const std::int64_t position = avio_tell(input->pb);
    if (size <= 0 || position < 0) {
        return;
    }
    // 100 is left for the finished file.
    const int percent = static_cast<int>(std::min<std::int64_t>(position * 100 / size, 99));
    if (percent > lastPercent) {
        lastPercent = percent;
        progress(percent);
    }
}

void TWmaEncoder::State::Transcode(const ProgressHandler& progress) {
    PacketPtr packet = NewPacket();
    int rc = 0;
    while ((rc = av_read_frame(input.get(), packet.get())) >= 0) {
        if (packet->stream_index == inputStream) {
            Decode(packet.get());
        }
        av_packet_unref(packet.get());
        ReportProgress(progress);
    }
    if (rc != AVERROR_EOF) {
        Fail("cannot read input file \"" + request.Input + "\"", rc);
    }
    Decode(nullptr);
    Resample(nullptr);
    EncodeQueued(true);
    Encode(nullptr);
    if ((rc = av_write_trailer(output.get())) < 0) {
        Fail("cannot finish output file \"" + request.Output + "\"", rc);
    }
    if ((rc = avio_closep(&output->pb)) < 0) {
        Fail("cannot finish output file \"" + request.Output + "\"", rc);
    }
}

void TWmaEncoder::State::Decode(const AVPacket* packet) {
    int rc = avcodec_send_packet(decoder.get(), packet);
    if (rc < 0 && rc != AVERROR_EOF) {
        Fail("cannot decode input file \"" + request.Input + "\"", rc);
    }
    FramePtr frame = NewFrame();
    while ((rc = avcodec_receive_frame(decoder.get(), frame.get())) >= 0) {
        Resample(frame.get());
        av_frame_unref(frame.get());
    }
    if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) {
        Fail("cannot decode input file \"" + request.Input + "\"", rc);
    }
}

// Converts one decoded frame (nullptr drains the resampler) into the queue of samples
// waiting for the encoder.
void TWmaEncoder::State::Resample(const AVFrame* frame) {
    const int inCount = frame != nullptr ? frame->nb_samples : 0;
    const int room = swr_get_out_samples(resampler.get(), inCount);
    if (room <= 0) {
        return;
    }
    std::vector<std::uint8_t*> pointers;
    for (auto& plane : planes) {
        plane.resize(static_cast<std::size_t>(room));
        pointers.push_back(reinterpret_cast<std::uint8_t*>(plane.data()));
    }
    const auto* const* in = frame != nullptr ? frame->extended_data : nullptr;
    const int converted = swr_convert(resampler.get(), pointers.data(), room,
                                      const_cast<const std::uint8_t**>(in), inCount);
    if (converted < 0) {
        Fail("cannot convert the input's samples", converted);
    }
    auto** data = reinterpret_cast<void**>(pointers.data());
    if (converted > 0 && av_audio_fifo_write(fifo.get(), data, converted) < converted) {
        throw std::runtime_error("out of memory");
    }
    EncodeQueued(false);
}

// Feeds whole encoder frames from the queue; on the final call the rest is padded with
// silence, since the encoder takes only full frames.
void TWmaEncoder::State::EncodeQueued(bool final) {
    const int frameSize = encoder->frame_size;
    while (av_audio_fifo_size(fifo.get()) >= frameSize ||
           (final && av_audio_fifo_size(fifo.get()) > 0)) {
        FramePtr frame = NewFrame();
        frame->nb_samples = frameSize;
        frame->format = EncoderFormat;
        frame->sample_rate = encoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
        if (const int rc = av_frame_get_buffer(frame.get(), 0); rc < 0) {
            Fail("out of memory", rc);
        }
        auto** data = reinterpret_cast<void**>(frame->extended_data);
        const int got = av_audio_fifo_read(fifo.get(), data, frameSize);
        if (got < frameSize) {
            av_samples_set_silence(frame->extended_data, got, frameSize - got, preset.Channels,
                                   EncoderFormat);
        }
        frame->pts = samplesSent;
        samplesSent += frameSize;
        Encode(frame.get());
    }
}

// Sends one frame (nullptr flushes) and writes every packet the encoder returns.
void TWmaEncoder::State::Encode(const AVFrame* frame) {
    int rc = avcodec_send_frame(encoder.get(), frame);
    if (rc < 0) {
        Fail("encoding failed", rc);
    }
    PacketPtr packet = NewPacket();
    while ((rc = avcodec_receive_packet(encoder.get(), packet.get())) >= 0) {
        av_packet_rescale_ts(packet.get(), encoder->time_base, outputStream->time_base);
        packet->stream_index = outputStream->index;
        if ((rc = av_interleaved_write_frame(output.get(), packet.get())) < 0) {
            Fail("cannot write output file \"" + request.Output + "\"", rc);
        }
    }
    if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) {
        Fail("encoding failed", rc);
    }
}

void TWmaEncoder::State::RemovePartialOutput() {
    if (!outputCreated || finished) {
        return;
    }
    if (output && output->pb != nullptr) {
        avio_closep(&output->pb);
    }
    std::error_code ignored;
    std::filesystem::remove(request.Output, ignored);
    KeepOnSignal();
}

TWmaEncoder::TWmaEncoder(TEncodeRequest request, TPreset preset)
    : state_(std::make_unique<State>()) {
    state_->request = std::move(request);
    state_->preset = preset;
}

TWmaEncoder::~TWmaEncoder() {
    state_->RemovePartialOutput();
}

void TWmaEncoder::Run(const ProgressHandler& progress) {
    std::error_code ec;
    if (std::filesystem::equivalent(state_->request.Input, state_->request.Output, ec)) {
        throw std::runtime_error("input and output are the same file");
    }
    state_->OpenInput();
    state_->OpenOutput();
    state_->OpenResampler();
    state_->Transcode(progress);
    state_->finished = true;
    KeepOnSignal();
}

} // namespace wmaenc
