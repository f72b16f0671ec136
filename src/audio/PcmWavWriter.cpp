#include "audio/PcmWavWriter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "bytes/WavHeader.h"

namespace audio {

namespace {

// The speakers of 1 to 8 channels in FLAC's channel order (front left, right, centre, LFE,
// back left, right, side left, right; 7 channels have a back centre).
std::uint32_t ChannelMask(int channels) {
    constexpr std::array<std::uint32_t, 9> masks = {0,    0x4,  0x3,   0x7,  0x33,
                                                    0x37, 0x3F, 0x70F, 0x63F};
    return channels >= 0 && channels < static_cast<int>(masks.size())
               ? masks[static_cast<std::size_t>(channels)]
               : 0;
}

// Players take only 16-bit mono and stereo from the plain PCM header; wider samples and more
// channels need the extensible one, which also says which speaker each channel is.
bool NeedsExtensible(const TPcmFormat& format) {
    return format.Channels > 2 || format.BitsPerSample > 16;
}

} // namespace

TPcmWavWriter::TPcmWavWriter(const std::string& path, const TPcmFormat& format) : format_(format) {
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_) {
        Fail();
    }
    WriteHeader();
}

void TPcmWavWriter::WriteHeader() {
    const auto record =
        bytes::WaveFormatRecord::Pcm(static_cast<std::uint16_t>(format_.Channels),
                                     static_cast<std::uint32_t>(format_.SampleRate),
                                     static_cast<std::uint16_t>(format_.BitsPerSample));
    errno = 0;
    const auto write = [this](const auto& header) {
        if (std::fwrite(header.data(), 1, header.size(), file_.get()) != header.size()) {
            Fail();
        }
    };
    if (NeedsExtensible(format_)) {
        write(bytes::ExtensiblePcmWavHeader(record,
                                            static_cast<std::uint16_t>(format_.BitsPerSample),
                                            ChannelMask(format_.Channels), dataBytes_));
    } else {
        write(bytes::PcmWavHeader(record, dataBytes_));
    }
}

void TPcmWavWriter::Write(std::span<const std::uint8_t> pcm) {
    errno = 0;
    if (std::fwrite(pcm.data(), 1, pcm.size(), file_.get()) != pcm.size()) {
        Fail();
    }
    dataBytes_ += pcm.size();
}

void TPcmWavWriter::Finish() {
    errno = 0;
    if ((dataBytes_ & 1U) != 0 && std::fputc(0, file_.get()) == EOF) {
        Fail(); // the pad byte of an odd data chunk
    }
    if (std::fseek(file_.get(), 0, SEEK_SET) != 0) {
        Fail();
    }
    WriteHeader();
    if (std::fclose(file_.release()) != 0) {
        Fail();
    }
}

void TPcmWavWriter::Fail() {
    throw std::runtime_error(std::strerror(errno != 0 ? errno : EIO));
}

} // namespace audio
