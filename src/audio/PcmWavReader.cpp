#include "audio/PcmWavReader.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <stdexcept>

#include "bytes/LittleEndian.h"
#include "bytes/Riff.h"
#include "bytes/WavHeader.h"

namespace audio {

namespace {

constexpr std::size_t kExtensibleSubFormatOffset = 24; // in the fmt payload

[[noreturn]] void NotAWav(const std::string& why) {
    throw std::runtime_error("not a PCM WAV file that can be encoded (" + why + ")");
}

} // namespace

TPcmWavReader::TPcmWavReader(const std::string& path) : in_(path, std::ios::binary) {
    if (!in_) {
        throw std::runtime_error("cannot open " + path);
    }
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    FindChunks(ec ? 0 : static_cast<std::uint64_t>(size));
}

void TPcmWavReader::FindChunks(std::uint64_t fileSize) {
    std::array<std::uint8_t, 12> riff{};
    if (!in_.read(reinterpret_cast<char*>(riff.data()), riff.size()) ||
        !bytes::IdIs(riff.data(), "RIFF") || !bytes::IdIs(riff.data() + 8, "WAVE")) {
        NotAWav("no RIFF WAVE header");
    }
    bool haveFormat = false;
    std::uint64_t at = riff.size();
    while (at + bytes::kChunkHeaderBytes <= fileSize) {
        std::array<std::uint8_t, bytes::kChunkHeaderBytes> head{};
        in_.seekg(static_cast<std::streamoff>(at));
        if (!in_.read(reinterpret_cast<char*>(head.data()), head.size())) {
            break;
        }
        const bytes::ChunkHeader chunk = bytes::ParseChunkHeader(head.data());
        const std::uint64_t payload = at + bytes::kChunkHeaderBytes;
        if (chunk.Is("fmt ")) {
            std::vector<std::uint8_t> fmt(std::max<std::size_t>(chunk.size, 40));
            if (chunk.size < bytes::kWaveFormatRecordBytes ||
                !in_.read(reinterpret_cast<char*>(fmt.data()), chunk.size)) {
                NotAWav("short format chunk");
            }
            const bytes::WaveFormatRecord record = bytes::ParseWaveFormatRecord(fmt.data());
            std::uint16_t tag = record.formatTag;
            if (tag == bytes::kWaveFormatExtensible &&
                chunk.size >= kExtensibleSubFormatOffset + 2) {
                tag = bytes::GetLe16(fmt.data() + kExtensibleSubFormatOffset);
            }
            const int bits = record.bitsPerSample;
            if (tag != bytes::kWaveFormatPcm || record.channels == 0 || record.sampleRate == 0 ||
                (bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
                NotAWav("format " + std::to_string(tag) + ", " + std::to_string(bits) + " bits");
            }
            format_ = TPcmFormat{record.channels, static_cast<int>(record.sampleRate), bits};
            haveFormat = true;
        } else if (chunk.Is("data")) {
            if (!haveFormat) {
                NotAWav("data before format");
            }
            const std::uint64_t present = std::min<std::uint64_t>(chunk.size, fileSize - payload);
            totalFrames_ = present / static_cast<std::uint64_t>(format_.FrameBytes());
            in_.seekg(static_cast<std::streamoff>(payload));
            return;
        }
        at = bytes::NextChunkOffset(at, chunk.size);
    }
    NotAWav("no data chunk");
}

void TPcmWavReader::Read(std::vector<std::uint8_t>& buffer, std::size_t maxFrames) {
    const std::uint64_t frames = std::min<std::uint64_t>(maxFrames, totalFrames_ - framesRead_);
    buffer.resize(static_cast<std::size_t>(frames) *
                  static_cast<std::size_t>(format_.FrameBytes()));
    if (buffer.empty()) {
        return;
    }
    in_.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
    if (!in_) {
        throw std::runtime_error("the WAV file could not be read to its end");
    }
    framesRead_ += frames;
}

} // namespace audio
