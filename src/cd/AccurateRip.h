#pragma once
// AccurateRip, as its public description gives it: the disc ids that name a disc's
// database file, the v1 and v2 checksums of a track, the file's binary format, and the
// comparison of a track's checksums with it.
//
// Disc ids (addresses are LSNs, the first track normally at 0): id1 = the sum of the
// audio tracks' start addresses plus the lead-out address; id2 = the sum of
// max(start, 1) * track number plus lead-out * (track count + 1); the third id is the
// CDDB disc id. When the last track is a data track the audio lead-out lies 11 400
// sectors before it. The file is dBAR-<tracks>-<id1>-<id2>-<cddb>.bin under three
// folders named by the last, second-to-last and third-to-last hex digits of id1.
//
// Checksums: samples are 32-bit words (left channel low), numbered from 1 within the
// track; v1 sums word * number, v2 sums the low and high halves of that 64-bit product,
// both modulo 2^32. The first track leaves out its first 5 frames less one sample
// (numbers below 2940), the last track its last 5 frames (numbers above total - 2940).
//
// File: chunks back to back, each a track count byte, id1, id2 and the CDDB id (32-bit
// little-endian), then per track a confidence byte, a checksum and a checksum of frame
// 450 (both 32-bit). Each chunk holds one pressing's submissions.
//
// No threads, no Qt; every function is pure.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cd {

// Sectors between the audio lead-out and a data track that follows the audio.
constexpr std::uint32_t ArDataTrackGap = 11400;

struct ArDiscIds {
    int trackCount = 0; // audio tracks
    std::uint32_t id1 = 0;
    std::uint32_t id2 = 0;
    std::uint32_t cddb = 0;
};

// audioStarts: the audio tracks' start LSNs in order; leadOut: the audio lead-out LSN.
ArDiscIds ComputeArDiscIds(const std::vector<std::uint32_t>& audioStarts, std::uint32_t leadOut,
                           std::uint32_t cddbId);
// "a/b/c/dBAR-ttt-xxxxxxxx-xxxxxxxx-xxxxxxxx.bin"
std::string ArDatabasePath(const ArDiscIds& ids);
// server (e.g. "http://www.accuraterip.com") + "/accuraterip/" + ArDatabasePath.
std::string ArDatabaseUrl(const std::string& server, const ArDiscIds& ids);

// The two running sums behind the v1 and v2 checksums: v1 adds word * n, high adds the
// upper 32 bits of each 64-bit product (v2 = v1 + high), all modulo 2^32.
struct ArSums {
    std::uint32_t v1 = 0;
    std::uint32_t high = 0;
};
// Adds `count` little-endian 32-bit sample words from `words`, the first numbered `base`
// (numbers stay below 2^32). `vector` false keeps to the one-word-at-a-time loop, which
// the vector loop must always equal.
void AddArSums(const std::uint8_t* words, std::uint32_t base, std::uint32_t count, ArSums& sums,
               bool vector = true);

class ArChecksum {
public:
    static constexpr std::uint32_t SkippedSamples = 5 * 588; // 5 frames
    ArChecksum(std::uint64_t totalSamples, bool firstTrack, bool lastTrack);
    // Whole 4-byte samples in order; a trailing partial sample is ignored.
    void Add(std::span<const std::uint8_t> pcm);
    std::uint32_t V1() const { return sums_.v1; }
    std::uint32_t V2() const { return sums_.v1 + sums_.high; }

private:
    std::uint64_t from_;
    std::uint64_t to_;
    std::uint64_t next_ = 1; // number of the next sample
    ArSums sums_;
};

struct ArEntry {
    int confidence = 0;
    std::uint32_t crc = 0;
    std::uint32_t frame450Crc = 0;
};
struct ArChunk {
    ArDiscIds ids;
    std::vector<ArEntry> tracks;
};
// The chunks of a database file; nothing when the bytes do not have its layout.
std::optional<std::vector<ArChunk>> ParseArDatabase(std::span<const std::uint8_t> bytes);
// The file's chunks for exactly this disc (track count and all three ids).
std::vector<ArChunk> ChunksForDisc(const std::vector<ArChunk>& chunks, const ArDiscIds& ids);

// A track (0-based among the audio tracks) against the disc's chunks: the total
// confidence of the submissions whose checksum equals v1 or v2; 0 = mismatch.
struct ArMatch {
    int confidence = 0;
    bool v2 = false; // matched by the v2 checksum
};
ArMatch MatchArTrack(const std::vector<ArChunk>& discChunks, int track, std::uint32_t v1,
                     std::uint32_t v2);

} // namespace cd
