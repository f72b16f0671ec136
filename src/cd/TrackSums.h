#pragma once
// Running checks over a track's audio as it is read: the CRC32 of the bytes (the ZIP
// polynomial, the one zlib and most tools use), the peak sample level, and optionally
// the AccurateRip checksums and the track's share of the CTDB disc checksum.
//
// No threads of its own; one object per pass over a track.
#include "cd/AccurateRip.h"
#include "cd/CtdbCrc.h"

#include <cstdint>
#include <optional>
#include <span>

namespace cd {

class TrackSums {
public:
    TrackSums() = default;
    // With the AccurateRip checksums for a whole track of `totalSamples` samples.
    TrackSums(std::uint64_t totalSamples, bool firstTrack, bool lastTrack);

    void Add(std::span<const std::uint8_t> pcm);
    std::uint32_t Crc() const;
    // The largest absolute sample value, 0..32768.
    std::uint32_t Peak() const { return peak_; }
    const std::optional<ArChecksum>& AccurateRip() const { return accurateRip_; }

    // Also sums the track's share of the CTDB disc checksum; call before the first Add.
    void SumForCtdb(std::uint64_t totalSamples, CtdbRange range);
    // The share, when SumForCtdb was called.
    std::optional<CtdbPart> Ctdb() const;

private:
    struct Piece {
        std::uint32_t crc = 0;
        std::uint64_t bytes = 0;
    };
    void AddSplit(std::span<const std::uint8_t> pcm);

    // The track's bytes in three pieces, each summed once: before the CTDB share, the
    // share, after it. Without a share everything is `middle_`; the track's CRC joins them.
    Piece head_;
    Piece middle_;
    Piece tail_;
    std::uint64_t shareFrom_ = 0; // byte positions within the track
    std::uint64_t shareTo_ = 0;
    bool split_ = false;
    bool ctdb_ = false;
    std::uint32_t peak_ = 0;
    std::optional<ArChecksum> accurateRip_;
};

} // namespace cd
