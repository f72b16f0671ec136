#include "audio/ACS_Vorbis.h"
#include "bytes/LittleEndian.h"
#include "platform/Log.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

namespace audio {

std::int32_t VorbisBitRateValue(TVorbisBitRate value) {
    switch (value) {
    case brAutoSelect:
        return -1;
    case br45:
        return 45000;
    case br48:
        return 48000;
    case br56:
        return 46000;
    case br64:
        return 64000;
    case br80:
        return 80000;
    case br96:
        return 96000;
    case br112:
        return 112000;
    case br128:
        return 128000;
    case br144:
        return 144000;
    case br160:
        return 160000;
    case br192:
        return 192000;
    case br224:
        return 224000;
    case br256:
        return 256000;
    case br320:
        return 320000;
    case br499:
        return 499000;
    }
    return -1;
}

// ---- TVorbisOut ------------------------------------------------------------------------------

struct TVorbisOut::TEncoder {
    ogg_stream_state stream{};
    ogg_page page{};
    ogg_packet packet{};
    vorbis_info info{};
    vorbis_comment comment{};
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    ogg_packet identification{};
    ogg_packet comments{};
    ogg_packet codebooks{};
    bool streamReady = false;
    bool infoReady = false;
    bool commentReady = false;
    bool dspReady = false;
    bool blockReady = false;
};

TVorbisOut::TVorbisOut() : FBuffer(kBlockBytes + 64) {}

TVorbisOut::~TVorbisOut() {
    ShutdownWorker();
    ReleaseEncoder();
}

void TVorbisOut::SetFileMode(TFileOutputMode value) {
    if (!FBusy) {
        FFileMode = value;
    }
}

void TVorbisOut::SetCompression(float value) {
    if (!FBusy) {
        FCompression = value;
    }
}

std::vector<std::string> TVorbisOut::Comments() const {
    std::lock_guard lock(FCommentsLock);
    return FComments;
}

void TVorbisOut::SetComments(const std::vector<std::string>& value) {
    std::lock_guard lock(FCommentsLock);
    FComments = value;
}

void TVorbisOut::SetSerial(std::uint32_t value) {
    if (!FBusy) {
        FSerial = value;
    }
}

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate value) {
    if (FBusy) {
        return;
    }
    FDesiredNominalBitrate = value;
    if (value < FMinimumBitrate) {
        FMinimumBitrate = value;
    }
    if (FDesiredMaximumBitrate < value) {
        FDesiredMaximumBitrate = value;
    }
    if (value == brAutoSelect) {
        FDesiredMaximumBitrate = brAutoSelect;
    }
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate value) {
    if (FBusy || FDesiredNominalBitrate == brAutoSelect) {
        return;
    }
    if (value == brAutoSelect || value >= FDesiredNominalBitrate) {
        FDesiredMaximumBitrate = value;
    }
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate value) {
    if (!FBusy && value <= FDesiredNominalBitrate) {
        FMinimumBitrate = value;
    }
}

void TVorbisOut::OpenDestination() {
    namespace fs = std::filesystem;
    std::error_code error;
    const bool exists = fs::exists(FFileName, error);
    auto file = std::make_unique<std::fstream>();
    if (exists && FFileMode != foRewrite) {
        file->open(FFileName, std::ios::in | std::ios::out | std::ios::binary);
    } else {
        file->open(FFileName, std::ios::out | std::ios::trunc | std::ios::binary);
    }
    if (!file->is_open()) {
        throw EACSException("Cannot open file " + FFileName);
    }
    FStream = std::move(file);
}

void TVorbisOut::SetUpEncoder(std::int32_t channels, std::int32_t sampleRate) {
    TEncoder& e = *FEncoder;
    vorbis_info_init(&e.info);
    e.infoReady = true;
    int result = 0;
    if (FDesiredNominalBitrate == brAutoSelect) {
        result = vorbis_encode_init_vbr(&e.info, channels, sampleRate, FCompression);
    } else {
        const long nominal = VorbisBitRateValue(FDesiredNominalBitrate);
        const long maximum = std::max<long>(VorbisBitRateValue(FDesiredMaximumBitrate), nominal);
        long minimum = VorbisBitRateValue(FMinimumBitrate);
        if (minimum < 0) {
            minimum = nominal;
        }
        result = vorbis_encode_init(&e.info, channels, sampleRate, maximum, nominal, minimum);
    }
    // An encoder that refused its set-up has no modes: going on would crash the analysis.
    if (result != 0) {
        throw EACSException("The Vorbis encoder cannot encode " + std::to_string(channels) +
                            " channels at " + std::to_string(sampleRate) +
                            " Hz with these settings");
    }

    vorbis_comment_init(&e.comment);
    e.commentReady = true;
    for (const std::string& line : Comments()) {
        const auto equals = line.find('=');
        const std::string name = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        vorbis_comment_add_tag(&e.comment, name.c_str(), value.c_str());
    }

    if (vorbis_analysis_init(&e.dsp, &e.info) != 0) {
        throw EACSException("The Vorbis encoder could not be started");
    }
    e.dspReady = true;
    vorbis_block_init(&e.dsp, &e.block);
    e.blockReady = true;
    ogg_stream_init(&e.stream, static_cast<int>(FSerial));
    e.streamReady = true;
}

void TVorbisOut::WriteHeaders() {
    TEncoder& e = *FEncoder;
    vorbis_analysis_headerout(&e.dsp, &e.comment, &e.identification, &e.comments, &e.codebooks);
    ogg_stream_packetin(&e.stream, &e.identification);
    ogg_stream_packetin(&e.stream, &e.comments);
    ogg_stream_packetin(&e.stream, &e.codebooks);
    // Flushing here puts the headers on pages of their own, before any audio.
    while (ogg_stream_flush(&e.stream, &e.page) != 0) {
        WritePage(e.page.header, e.page.header_len, e.page.body, e.page.body_len);
    }
}

void TVorbisOut::Prepare() {
    if (FFileName.empty()) {
        throw EACSException("File name is not assigned.");
    }
    TACSInput* input = FInput.load();
    OpenDestination();
    bool inputReady = false;
    try {
        input->Init();
        inputReady = true;
        const std::int32_t bits = input->BitsPerSample();
        const std::int32_t channels = input->Channels();
        const std::int32_t rate = input->SampleRate();
        // Anything but 16-bit samples would be encoded as noise.
        if (bits != 16 || channels < 1) {
            throw EACSException("The Vorbis encoder takes 16-bit PCM only");
        }
        if (FFileMode == foAppend) {
            FStream->seekp(0, std::ios::end);
        }
        FEndOfStream = false;
        FInputEnded = false;
        FCarry = 0;
        FFramesEncoded = 0;
        FChannelsOut = channels;
        FFrameBytes = 2 * channels;
        FBuffer.assign(static_cast<std::size_t>(kBlockBytes + FFrameBytes), 0);
        FEncoder = std::make_unique<TEncoder>();
        SetUpEncoder(channels, rate);
        WriteHeaders();
    } catch (...) {
        ReleaseEncoder();
        FStream.reset();
        if (inputReady) {
            try {
                input->Flush();
            } catch (...) {
                platform::LogSwallowedException(
                    "Ogg writer: flushing the input after a failed start");
            }
        }
        throw;
    }
}

void TVorbisOut::WritePage(const void* header, long headerLength, const void* body,
                           long bodyLength) {
    FStream->write(static_cast<const char*>(header), headerLength);
    FStream->write(static_cast<const char*>(body), bodyLength);
    if (!*FStream) {
        throw EACSException("Cannot write to file " + FFileName);
    }
}

void TVorbisOut::Encode(std::int32_t bytes) {
    TEncoder& e = *FEncoder;
    const std::int32_t available = FCarry + bytes;
    const std::int32_t frames = available / FFrameBytes;
    if (frames == 0) {
        // Telling the encoder about 0 frames would end the stream: keep the bytes for later.
        FCarry = available;
        return;
    }
    float** channels = vorbis_analysis_buffer(&e.dsp, frames);
    const std::uint8_t* p = FBuffer.data();
    for (std::int32_t frame = 0; frame < frames; ++frame) {
        for (std::int32_t c = 0; c < FChannelsOut; ++c) {
            channels[c][frame] = static_cast<float>(bytes::GetLeI16(p) / 32768.0);
            p += 2;
        }
    }
    vorbis_analysis_wrote(&e.dsp, frames);
    FFramesEncoded += frames;
    // A delivery that ends inside a frame keeps its tail for the next one.
    FCarry = available - frames * FFrameBytes;
    std::memmove(FBuffer.data(), FBuffer.data() + frames * FFrameBytes,
                 static_cast<std::size_t>(FCarry));
}

void TVorbisOut::DrainBlocks() {
    TEncoder& e = *FEncoder;
    while (vorbis_analysis_blockout(&e.dsp, &e.block) == 1) {
        vorbis_analysis(&e.block, nullptr);
        vorbis_bitrate_addblock(&e.block);
        while (vorbis_bitrate_flushpacket(&e.dsp, &e.packet) == 1) {
            ogg_stream_packetin(&e.stream, &e.packet);
            while (!FEndOfStream && ogg_stream_pageout(&e.stream, &e.page) != 0) {
                WritePage(e.page.header, e.page.header_len, e.page.body, e.page.body_len);
                if (ogg_page_eos(&e.page) != 0) {
                    FEndOfStream = true;
                }
            }
        }
    }
}

void TVorbisOut::WriteEmptyEndPage() {
    // Without audio the encoder would end the stream with a packet at granule position 0,
    // which checkers reject; a page with no packets and the end flag closes it cleanly.
    std::uint8_t header[27] = {'O', 'g', 'g', 'S', 0, 0x04};
    const std::uint32_t serial = FSerial;
    const auto sequence = static_cast<std::uint32_t>(FEncoder->stream.pageno);
    for (int i = 0; i < 4; ++i) {
        header[14 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
        header[18 + i] = static_cast<std::uint8_t>(sequence >> (8 * i));
    }
    ogg_page page{};
    page.header = header;
    page.header_len = sizeof header;
    page.body = header; // no body bytes
    page.body_len = 0;
    ogg_page_checksum_set(&page);
    WritePage(page.header, page.header_len, page.body, 0);
    FEndOfStream = true;
}

bool TVorbisOut::OutputStep(bool Abort) {
    if (!FOutputEnabled) {
        return true;
    }
    CheckProgress();
    if (Abort || FEndOfStream) {
        return false;
    }
    const std::int32_t bytes = ReadInput(FBuffer.data() + FCarry, kBlockBytes);
    if (bytes > 0) {
        Encode(bytes);
    } else if (FFramesEncoded == 0) {
        WriteEmptyEndPage();
        return true;
    } else {
        vorbis_analysis_wrote(&FEncoder->dsp, 0);
        FInputEnded = true;
    }
    DrainBlocks();
    if (FInputEnded && !FEndOfStream) {
        // The encoder has said all it will; close the stream so the run cannot go on forever.
        while (ogg_stream_flush(&FEncoder->stream, &FEncoder->page) != 0) {
            WritePage(FEncoder->page.header, FEncoder->page.header_len, FEncoder->page.body,
                      FEncoder->page.body_len);
        }
        FEndOfStream = true;
    }
    return true;
}

void TVorbisOut::ReleaseEncoder() {
    if (!FEncoder) {
        return;
    }
    TEncoder& e = *FEncoder;
    if (e.streamReady) {
        ogg_stream_clear(&e.stream);
    }
    if (e.blockReady) {
        vorbis_block_clear(&e.block);
    }
    if (e.dspReady) {
        vorbis_dsp_clear(&e.dsp);
    }
    if (e.commentReady) {
        vorbis_comment_clear(&e.comment);
    }
    if (e.infoReady) {
        vorbis_info_clear(&e.info);
    }
    FEncoder.reset();
}

void TVorbisOut::Finish() {
    FStream.reset();
    FlushInput();
    SetComments({});
    ReleaseEncoder();
}

// ---- TVorbisIn -------------------------------------------------------------------------------

struct TVorbisIn::TDecoder {
    OggVorbis_File file{};
    bool open = false;
};

TVorbisIn::TVorbisIn() : FBuffer(kDecodeBytes), FDecoder(std::make_unique<TDecoder>()) {}

TVorbisIn::~TVorbisIn() {
    DetachUsers();
    if (FDecoder->open) {
        ov_clear(&FDecoder->file);
        FDecoder->open = false;
    }
    FStream.reset();
}

std::size_t TVorbisIn::ReadCallback(void* destination, std::size_t size, std::size_t count,
                                    void* source) {
    auto* self = static_cast<TVorbisIn*>(source);
    if (!self->FStream || size == 0) {
        return 0;
    }
    self->FStream->clear();
    self->FStream->read(static_cast<char*>(destination),
                        static_cast<std::streamsize>(size * count));
    return static_cast<std::size_t>(self->FStream->gcount()) / size;
}

int TVorbisIn::SeekCallback(void* source, std::int64_t offset, int whence) {
    auto* self = static_cast<TVorbisIn*>(source);
    if (!self->FStream) {
        return -1;
    }
    std::ios::seekdir direction = std::ios::beg;
    if (whence == SEEK_CUR) {
        direction = std::ios::cur;
    } else if (whence == SEEK_END) {
        direction = std::ios::end;
    }
    self->FStream->clear();
    self->FStream->seekg(offset, direction);
    // 0 rather than the new position: a position above 2 GiB would read as the error -1.
    return self->FStream->fail() ? -1 : 0;
}

int TVorbisIn::CloseCallback(void* source) {
    static_cast<TVorbisIn*>(source)->FStream.reset();
    return 0;
}

long TVorbisIn::TellCallback(void* source) {
    auto* self = static_cast<TVorbisIn*>(source);
    if (!self->FStream) {
        return -1;
    }
    self->FStream->clear();
    return static_cast<long>(self->FStream->tellg());
}

void TVorbisIn::ForgetFormat() {
    FChannels = 0;
    FSampleRate = 0;
    FBitsPerSample = 0;
    FTotalSamples = 0;
    FDurationSeconds = 0;
    FSize = 0;
}

bool TVorbisIn::ReadAll() {
    OggVorbis_File* file = &FDecoder->file;
    const vorbis_info* info = ov_info(file, -1);
    if (info == nullptr || info->channels < 1 || info->rate < 1) {
        return false;
    }
    // A chain whose links differ in format cannot be delivered as one PCM stream.
    for (long link = 0; link < ov_streams(file); ++link) {
        const vorbis_info* linkInfo = ov_info(file, static_cast<int>(link));
        if (linkInfo == nullptr || linkInfo->channels != info->channels ||
            linkInfo->rate != info->rate) {
            return false;
        }
    }
    {
        std::vector<std::string> comments;
        if (const vorbis_comment* comment = ov_comment(file, -1)) {
            for (int i = 0; i < comment->comments; ++i) {
                comments.emplace_back(comment->user_comments[i],
                                      static_cast<std::size_t>(comment->comment_lengths[i]));
            }
        }
        std::lock_guard lock(FCommentsLock);
        FComments = std::move(comments);
    }
    FChannels = info->channels;
    FSampleRate = static_cast<std::int32_t>(info->rate);
    FBitrateUpper = static_cast<std::int32_t>(info->bitrate_upper);
    FBitrateNominal = static_cast<std::int32_t>(info->bitrate_nominal);
    FBitrateLower = static_cast<std::int32_t>(info->bitrate_lower);
    FBitsPerSample = 16;
    const ogg_int64_t total = ov_pcm_total(file, -1);
    const std::int64_t frameBytes = 2 * std::int64_t{FChannels};
    const std::int64_t maxFrames = std::numeric_limits<std::int32_t>::max() / frameBytes;
    if (total < 0) {
        FTotalSamples = 0;
        FSize = -1; // length unknown
    } else {
        // A file too long for 32-bit sizes is delivered up to what they can count.
        FTotalSamples = static_cast<std::int32_t>(std::min<std::int64_t>(total, maxFrames));
        FSize = static_cast<std::int32_t>(FTotalSamples * frameBytes);
    }
    FCurrentSection = -1;
    FCheckedSection = -1;
    // The library leaves a freshly opened chain positioned at its last link.
    if (ov_streams(file) > 1 && ov_seekable(file) != 0) {
        ov_pcm_seek(file, 0);
    }
    const double seconds = ov_time_total(file, -1);
    FDurationSeconds = seconds > 0 ? static_cast<std::int32_t>(std::nearbyint(seconds)) : 0;
    return true;
}

void TVorbisIn::OpenFile() {
    if (FOpenCount > 0) {
        ++FOpenCount;
        return;
    }
    FValid = true;
    FEndOfStream = false;
    auto file = std::make_unique<std::fstream>(FFileName, std::ios::in | std::ios::binary);
    if (!file->is_open()) {
        FValid = false;
        ForgetFormat();
        return;
    }
    FStream = std::move(file);
    const ov_callbacks callbacks{ReadCallback, SeekCallback, CloseCallback, TellCallback};
    if (ov_open_callbacks(this, &FDecoder->file, nullptr, 0, callbacks) != 0) {
        // The library does not close the source when the open fails.
        FStream.reset();
        FValid = false;
        ForgetFormat();
        return;
    }
    FDecoder->open = true;
    if (!ReadAll()) {
        ov_clear(&FDecoder->file);
        FDecoder->open = false;
        FValid = false;
        ForgetFormat();
        return;
    }
    ++FOpenCount;
}

void TVorbisIn::CloseFile() {
    if (FOpenCount == 1 && FDecoder->open) {
        ov_clear(&FDecoder->file); // closes the stream through the close callback
        FDecoder->open = false;
    }
    if (FOpenCount > 0) {
        --FOpenCount;
    }
}

void TVorbisIn::Init() {
    std::lock_guard lock(FFileLock);
    if (FBusy || FFileName.empty()) {
        TACSFileIn::Init(); // raises the base's messages
        return;
    }
    OpenFile();
    if (!FValid) {
        throw EACSException("The file " + FFileName + " is not a readable Ogg Vorbis file");
    }
    try {
        TACSFileIn::Init();
    } catch (...) {
        CloseFile();
        throw;
    }
    CloseFile(); // the base's own open keeps the file open until Flush
    FEndOfStream = false;
    FCurrentSection = -1;
}

bool TVorbisIn::Seek(std::int32_t sampleNumber) {
    std::lock_guard lock(FFileLock);
    OpenFile();
    bool done = false;
    if (FDecoder->open) {
        done = ov_pcm_seek(&FDecoder->file, sampleNumber) == 0;
    }
    CloseFile();
    return done;
}

std::vector<std::string> TVorbisIn::Comments() const {
    std::lock_guard lock(FCommentsLock);
    return FComments;
}

void TVorbisIn::ApplyPendingJump() {
    const std::int32_t jump = FPendingJump.exchange(0);
    if (jump == 0 || FSize <= 0) {
        return;
    }
    const std::int64_t size = FSize;
    const std::int64_t frameBytes = 2 * std::int64_t{FChannels};
    std::int64_t position =
        FPosition +
        static_cast<std::int64_t>(std::nearbyint(jump / 100.0 * static_cast<double>(size)));
    position = std::clamp<std::int64_t>(position, 0, size);
    // Whole frames only, so the channels stay in step after the move.
    position -= position % frameBytes;
    FPosition = static_cast<std::int32_t>(position);
    if (ov_seekable(&FDecoder->file) != 0 &&
        ov_pcm_seek(&FDecoder->file, FStartSample + position / frameBytes) == 0) {
        FEndOfStream = false;
    }
}

void TVorbisIn::CheckSection() {
    if (FCurrentSection == FCheckedSection) {
        return;
    }
    const vorbis_info* info = ov_info(&FDecoder->file, FCurrentSection);
    if (info == nullptr || info->channels != FChannels || info->rate != FSampleRate) {
        throw EACSException("The Ogg stream changes its channel count or sample rate");
    }
    FCheckedSection = FCurrentSection;
}

void TVorbisIn::FillBuffer() {
    std::int32_t filled = 0;
    while (!FEndOfStream && filled < kDecodeBytes) {
        const long got = ov_read(&FDecoder->file, reinterpret_cast<char*>(FBuffer.data()) + filled,
                                 kDecodeBytes - filled, 0, 2, 1, &FCurrentSection);
        if (got == OV_HOLE) {
            continue; // a damaged stretch: the decoder resumes after it
        }
        if (got <= 0) {
            FEndOfStream = true;
            break;
        }
        CheckSection();
        filled += static_cast<std::int32_t>(got);
        if (FSize >= 0 && std::int64_t{FPosition} + filled >= FSize) {
            filled = FSize - FPosition;
            if (filled <= 0) {
                filled = 0;
                FEndOfStream = true;
            }
            break;
        }
    }
    FBufferEnd = filled;
}

std::int32_t TVorbisIn::GetData(void* buffer, std::int32_t bufferSize) {
    if (!FBusy) {
        throw EACSException("The Stream is not opened");
    }
    if (FBufferStart > FBufferEnd) {
        ApplyPendingJump();
        FBufferStart = 1;
        FBufferEnd = 0;
        FillBuffer();
        if (FEndOfStream && FLoop && FBufferEnd == 0) {
            Flush();
            Init();
            FEndOfStream = false;
            FillBuffer();
        }
    }
    const std::int32_t count = std::max(0, std::min(bufferSize, FBufferEnd - FBufferStart + 1));
    if (count > 0) {
        std::memcpy(buffer, FBuffer.data() + FBufferStart - 1, static_cast<std::size_t>(count));
        FBufferStart += count;
        FPosition += count;
    }
    return count;
}

} // namespace audio
