#include "cd/TrackSums.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

// The peak loop is compiled for AVX2 and for the baseline, the processor choosing at
// load time (GCC on x86-64 only: clang's clones do not mix with its sanitizers, nor GCC's
// under a sanitizer: the choice runs before the sanitizer's runtime is up and crashes).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) &&                             \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define VELLORINE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VELLORINE_VECTOR_CLONES
#endif

namespace cd {

namespace {

std::int16_t SampleAt(const std::uint8_t* p) {
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

// The largest sample magnitude. Runs of a fixed length let the compiler keep the
// running extremes in vector registers; the rest goes one sample at a time.
VELLORINE_VECTOR_CLONES
std::uint32_t PeakOf(std::span<const std::uint8_t> pcm) {
    constexpr std::size_t Run = 64;
    const std::size_t samples = pcm.size() / 2;
    const std::uint8_t* p = pcm.data();
    std::int16_t high = 0;
    std::int16_t low = 0;
    std::size_t i = 0;
    for (; i + Run <= samples; i += Run) {
        for (std::size_t k = 0; k < Run; ++k) {
            const std::int16_t s = SampleAt(p + 2 * (i + k));
            high = std::max(high, s);
            low = std::min(low, s);
        }
    }
    for (; i < samples; ++i) {
        const std::int16_t s = SampleAt(p + 2 * i);
        high = std::max(high, s);
        low = std::min(low, s);
    }
    return std::max(static_cast<std::uint32_t>(high), static_cast<std::uint32_t>(-low));
}

} // namespace

TrackSums::TrackSums(std::uint64_t totalSamples, bool firstTrack, bool lastTrack)
    : accurateRip_(std::in_place, totalSamples, firstTrack, lastTrack) {}

void TrackSums::Add(std::span<const std::uint8_t> pcm) {
    // libdeflate folds with carry-less multiplies where the CPU has them: about ten times
    // zlib's table-driven rate, which kept the CRC a tenth of a secure rip's time.
    if (split_) {
        AddSplit(pcm);
    } else {
        middle_.crc = libdeflate_crc32(middle_.crc, pcm.data(), pcm.size());
        middle_.bytes += pcm.size();
    }
    peak_ = std::max(peak_, PeakOf(pcm));
    if (accurateRip_) {
        accurateRip_->Add(pcm);
    }
}

// Each byte goes into the piece its position falls in, so the share costs no second CRC.
void TrackSums::AddSplit(std::span<const std::uint8_t> pcm) {
    std::size_t at = 0;
    while (at < pcm.size()) {
        const std::uint64_t position = head_.bytes + middle_.bytes + tail_.bytes;
        Piece& piece = position < shareFrom_ ? head_ : position < shareTo_ ? middle_ : tail_;
        const std::uint64_t limit = position < shareFrom_ ? shareFrom_
                                    : position < shareTo_ ? shareTo_
                                                          : position + (pcm.size() - at);
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(limit - position, pcm.size() - at));
        piece.crc = libdeflate_crc32(piece.crc, pcm.data() + at, n);
        piece.bytes += n;
        at += n;
    }
}

void TrackSums::SumForCtdb(std::uint64_t totalSamples, CtdbRange range) {
    // Inner tracks count whole: the track's CRC is the share. Only the disc's first and
    // last tracks leave samples out, and they sum the pieces apart.
    constexpr std::uint64_t SampleBytes = 4;
    ctdb_ = true;
    shareFrom_ = std::min(range.skipHead, totalSamples) * SampleBytes;
    shareTo_ =
        std::max(shareFrom_, (totalSamples - std::min(range.skipTail, totalSamples)) * SampleBytes);
    split_ = range.skipHead != 0 || range.skipTail != 0;
}

std::uint32_t TrackSums::Crc() const {
    if (!split_) {
        return middle_.crc;
    }
    const std::uint32_t front = CtdbCrc::Combine(head_.crc, middle_.crc, middle_.bytes);
    return CtdbCrc::Combine(front, tail_.crc, tail_.bytes);
}

std::optional<CtdbPart> TrackSums::Ctdb() const {
    if (!ctdb_) {
        return std::nullopt;
    }
    return CtdbPart{middle_.crc, middle_.bytes};
}

} // namespace cd
