#include "cd/TrackSums.h"

#include "bytes/LittleEndian.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace cd {

TrackSums::TrackSums(std::uint64_t totalSamples, bool firstTrack, bool lastTrack)
    : accurateRip_(std::in_place, totalSamples, firstTrack, lastTrack) {}

void TrackSums::Add(std::span<const std::uint8_t> pcm) {
    // zlib takes at most UINT_MAX bytes a call; the rip hands over a few kilobytes.
    for (std::span<const std::uint8_t> rest = pcm; !rest.empty();) {
        const std::size_t n = std::min<std::size_t>(rest.size(), UINT_MAX);
        crc_ = static_cast<std::uint32_t>(crc32(crc_, rest.data(), static_cast<uInt>(n)));
        rest = rest.subspan(n);
    }
    std::uint32_t peak = peak_;
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        const std::int16_t sample = bytes::GetLeI16(&pcm[i]);
        const std::uint32_t level =
            sample < 0 ? static_cast<std::uint32_t>(-sample) : static_cast<std::uint32_t>(sample);
        peak = std::max(peak, level);
    }
    peak_ = peak;
    if (accurateRip_) {
        accurateRip_->Add(pcm);
    }
}

} // namespace cd
