#pragma once
// Helpers for the WAV, ADPCM and converter tests: a temporary folder, running the oracle
// programs (sox, ffmpeg), building WAV files chunk by chunk, and test signals.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/TestSupport.h"

namespace audio::test {

using testsupport::Le16;
using testsupport::Le32;
using testsupport::S16Samples;

namespace fs = std::filesystem;

using TempDir = testsupport::ScratchFolder;

// Runs a shell command with its output discarded; returns the exit status.
inline int Shell(const std::string& command) {
    return testsupport::RunCommand(command + " >/dev/null 2>&1").ExitCode;
}

// Runs a shell command and returns what it printed on stdout.
inline std::string Capture(const std::string& command) {
    return testsupport::RunCommand(command + " 2>/dev/null").Output;
}

inline std::string Quote(const std::string& path) {
    return testsupport::Quoted(path);
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    return testsupport::ReadAll(path);
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> S16ToBytes(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (int16_t s : samples) {
        const auto u = static_cast<uint16_t>(s);
        bytes.push_back(static_cast<uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    return bytes;
}

// A chord of two sines with a little noise, so ADPCM has real work to do.
inline std::vector<int16_t> TestSignal(std::size_t frames, int channels, int rate,
                                       double amplitude = 12000.0, unsigned seed = 7) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-300, 300);
    std::vector<int16_t> samples;
    samples.reserve(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (int c = 0; c < channels; ++c) {
            const double f = 440.0 * (c + 1);
            const double v = amplitude * (std::sin(2 * M_PI * f * t) * 0.7 +
                                          std::sin(2 * M_PI * 3.1 * f * t) * 0.3);
            samples.push_back(static_cast<int16_t>(std::lround(v) + noise(random)));
        }
    }
    return samples;
}

// Little-endian byte assembly for hand-made WAV files.
class WavBuilder {
public:
    WavBuilder& Raw(std::string_view text) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return *this;
    }
    WavBuilder& U8(uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    WavBuilder& U16(uint16_t v) {
        bytes_.push_back(static_cast<uint8_t>(v & 0xFF));
        bytes_.push_back(static_cast<uint8_t>(v >> 8));
        return *this;
    }
    WavBuilder& U32(uint32_t v) {
        U16(static_cast<uint16_t>(v & 0xFFFF));
        return U16(static_cast<uint16_t>(v >> 16));
    }
    WavBuilder& Bytes(const std::vector<uint8_t>& v) {
        bytes_.insert(bytes_.end(), v.begin(), v.end());
        return *this;
    }
    WavBuilder& Chunk(std::string_view id, const std::vector<uint8_t>& payload) {
        Raw(id).U32(static_cast<uint32_t>(payload.size()));
        return Bytes(payload);
    }
    WavBuilder& RiffHeader(uint32_t riffSize = 0) { return Raw("RIFF").U32(riffSize).Raw("WAVE"); }
    // Sets the RIFF size field to the file size - 8.
    WavBuilder& FixRiffSize() {
        const auto size = static_cast<uint32_t>(bytes_.size() - 8);
        for (std::size_t i = 0; i < 4; ++i)
            bytes_[4 + i] = static_cast<uint8_t>(size >> (8 * i));
        return *this;
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

inline std::vector<uint8_t> PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits,
                                      uint16_t tag = 1) {
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    return WavBuilder()
        .U16(tag)
        .U16(channels)
        .U32(rate)
        .U32(rate * align)
        .U16(align)
        .U16(bits)
        .bytes();
}

inline std::vector<uint8_t> PcmWav(const std::vector<uint8_t>& data, uint16_t channels,
                                   uint32_t rate, uint16_t bits) {
    return WavBuilder()
        .RiffHeader()
        .Chunk("fmt ", PcmFormat(channels, rate, bits))
        .Chunk("data", data)
        .FixRiffSize()
        .bytes();
}

// The payload of the first chunk with this id, found by walking the chunks by their sizes.
inline std::optional<std::vector<uint8_t>> FindChunk(const std::vector<uint8_t>& file,
                                                     std::string_view id) {
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const uint32_t size = Le32(file, at + 4);
        const std::size_t end = std::min<std::size_t>(file.size(), at + 8 + size);
        if (std::string_view(reinterpret_cast<const char*>(&file[at]), 4) == id)
            return std::vector<uint8_t>(file.begin() + static_cast<long>(at + 8),
                                        file.begin() + static_cast<long>(end));
        at = at + 8 + size + (size & 1);
    }
    return std::nullopt;
}

// Largest absolute difference between two sample runs of the same length.
inline int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    int worst = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

} // namespace audio::test
