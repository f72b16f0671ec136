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
    crc_ = libdeflate_crc32(crc_, pcm.data(), pcm.size());
    peak_ = std::max(peak_, PeakOf(pcm));
    if (accurateRip_) {
        accurateRip_->Add(pcm);
    }
    if (ctdb_) {
        ctdb_->Add(pcm);
    }
    bytes_ += pcm.size();
}

void TrackSums::SumForCtdb(std::uint64_t totalSamples, CtdbRange range) {
    // Inner tracks count whole and share the CRC above; only the disc's first and last
    // tracks pay for a second one.
    ctdbWhole_ = range.skipHead == 0 && range.skipTail == 0;
    if (!ctdbWhole_) {
        ctdb_.emplace(totalSamples, range);
    }
}

std::optional<CtdbPart> TrackSums::Ctdb() const {
    if (ctdbWhole_) {
        return CtdbPart{crc_, bytes_};
    }
    if (ctdb_) {
        return ctdb_->Part();
    }
    return std::nullopt;
}

} // namespace cd
