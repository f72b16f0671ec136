#include "audio/PcmWavWriter.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "bytes/WavHeader.h"

namespace audio {

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
    const auto header = bytes::PcmWavHeader(record, dataBytes_);
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
