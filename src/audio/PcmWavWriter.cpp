#include "audio/PcmWavWriter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "bytes/LittleEndian.h"
#include "bytes/WavHeader.h"

namespace audio {

namespace {

constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::uint16_t kExtensionBytes = 22;
constexpr std::uint32_t kExtensibleFormatBytes = 40;
constexpr std::uint64_t kExtensibleRiffOverhead = 4 + 8 + kExtensibleFormatBytes + 8;
// KSDATAFORMAT_SUBTYPE_PCM as it lies in the file.
constexpr std::array<std::uint8_t, 16> kPcmSubFormat = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

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

std::vector<std::uint8_t> ExtensibleHeader(const TPcmFormat& format, std::uint64_t dataBytes) {
    const std::uint64_t data = std::min<std::uint64_t>(dataBytes, UINT32_MAX - 80);
    const auto align = static_cast<std::uint16_t>(format.FrameBytes());
    const auto bits = static_cast<std::uint16_t>(format.BytesPerSample() * 8);
    std::vector<std::uint8_t> h;
    h.reserve(kExtensibleRiffOverhead + 8);
    const auto id = [&h](const char* text) {
        for (int i = 0; i < 4; ++i) {
            h.push_back(static_cast<std::uint8_t>(text[i]));
        }
    };
    id("RIFF");
    bytes::AppendLe32(h, static_cast<std::uint32_t>(kExtensibleRiffOverhead + data + (data & 1U)));
    id("WAVE");
    id("fmt ");
    bytes::AppendLe32(h, kExtensibleFormatBytes);
    bytes::AppendLe16(h, kFormatExtensible);
    bytes::AppendLe16(h, static_cast<std::uint16_t>(format.Channels));
    bytes::AppendLe32(h, static_cast<std::uint32_t>(format.SampleRate));
    bytes::AppendLe32(h, static_cast<std::uint32_t>(format.SampleRate) * align);
    bytes::AppendLe16(h, align);
    bytes::AppendLe16(h, bits);
    bytes::AppendLe16(h, kExtensionBytes);
    bytes::AppendLe16(h, static_cast<std::uint16_t>(format.BitsPerSample)); // valid bits
    bytes::AppendLe32(h, ChannelMask(format.Channels));
    h.insert(h.end(), kPcmSubFormat.begin(), kPcmSubFormat.end());
    id("data");
    bytes::AppendLe32(h, static_cast<std::uint32_t>(data));
    return h;
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
    std::vector<std::uint8_t> header;
    if (NeedsExtensible(format_)) {
        header = ExtensibleHeader(format_, dataBytes_);
    } else {
        const auto plain = bytes::PcmWavHeader(
            bytes::WaveFormatRecord::Pcm(static_cast<std::uint16_t>(format_.Channels),
                                         static_cast<std::uint32_t>(format_.SampleRate),
                                         static_cast<std::uint16_t>(format_.BitsPerSample)),
            dataBytes_);
        header.assign(plain.begin(), plain.end());
    }
    errno = 0;
    if (std::fwrite(header.data(), 1, header.size(), file_.get()) != header.size()) {
        Fail();
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
