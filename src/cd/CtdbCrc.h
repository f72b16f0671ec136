#pragma once
// The disc checksum of the CUETools database (CTDB): the ordinary CRC32 (the ZIP
// polynomial) of the disc's audio from the first audio track's start to the audio
// lead-out, leaving out the first 5880 samples (10 frames) and the last
// 5880 + (samples mod 5880), the edges where drives with different read offsets disagree
// (samples: the audio's length from sector 0, a pregap before the first track included).
//
// A rip reads one track at a time, so each track sums its own part (CtdbCrc) and the
// parts are joined in disc order afterwards (DiscCrc), which needs no audio twice. A
// sample is one 4-byte stereo frame, left channel first.
//
// No threads, no Qt; one object per pass over a track.
#include <cstdint>
#include <span>

namespace cd {

// The samples of a track that stay out of the disc checksum.
struct CtdbRange {
    std::uint64_t skipHead = 0;
    std::uint64_t skipTail = 0;
};

// A track's share of the disc checksum: the CRC32 of its counted bytes and their number.
struct CtdbPart {
    std::uint32_t crc = 0;
    std::uint64_t bytes = 0;
};

class CtdbCrc {
public:
    static constexpr std::uint32_t Stride = 5880; // samples: 10 frames

    // Sums the samples of a `totalSamples` track that `range` keeps.
    CtdbCrc(std::uint64_t totalSamples, CtdbRange range);
    // Whole 4-byte samples in order; what lies past the track is ignored.
    void Add(std::span<const std::uint8_t> pcm);
    // What has been counted so far.
    CtdbPart Part() const;

    // What a track of `trackSamples` that starts `trackStart` samples into the disc's
    // audio leaves out, on a disc of `discSamples` audio samples (a short last track
    // leaves the rest of the tail to the track before it). The tail's length counts the
    // `pregapSamples` before the first track too: the database takes the disc's length
    // from sector 0 when the first track is audio, though it sums from that track's start.
    static CtdbRange RangeOf(std::uint64_t discSamples, std::uint64_t trackStart,
                             std::uint64_t trackSamples, std::uint64_t pregapSamples = 0);
    // The CRC32 of A followed by B, from the CRC32s of both and B's length.
    static std::uint32_t Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t bytesB);
    // The disc checksum from every audio track's part, in disc order.
    static std::uint32_t DiscCrc(std::span<const CtdbPart> parts);

private:
    std::uint64_t from_; // byte positions within the track
    std::uint64_t to_;
    std::uint64_t next_ = 0;
    std::uint32_t crc_ = 0;
};

} // namespace cd
