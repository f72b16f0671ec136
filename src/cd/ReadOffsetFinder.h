#pragma once
// A drive's read offset from the AccurateRip database: one track of a disc the database
// knows is read with offset 0 and a margin of samples on each side, and its v1 checksum
// is taken at every offset within the margin. An offset whose checksum equals a
// submission's is the value ReadOffset must hold for this drive's reads to match the
// pressing. A shift by one sample changes the v1 checksum by sums the previous offset
// already has, so every offset costs a few additions, not a pass over the track. (The v2
// checksum has no such step; a disc known only by v2 submissions finds no offset.)
//
// Threads: FindReadOffset reads the drive and waits for the database: call it from a
// worker thread, never the GUI thread. MatchArOffsets is pure.
#include "cd/AccurateRip.h"
#include "cd/DatabaseLookup.h"
#include "cd/akrip32.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cd {

struct ArOffsetMatch {
    int offset = 0;
    int confidence = 0; // summed over the submissions it matches
};

// `pcm`: the track's samples (4-byte words) with `margin` samples more on each side.
// Every offset in [-margin, margin] whose checksum of the track matches one of the
// track's entries (0-based among the audio tracks), in rising order.
std::vector<ArOffsetMatch> MatchArOffsets(std::span<const std::uint8_t> pcm, std::uint32_t margin,
                                          bool firstTrack, bool lastTrack,
                                          const std::vector<ArChunk>& discChunks, int track);

struct ReadOffsetResult {
    enum class Kind { Found, NoMatch, NotInDatabase, Failed };
    Kind kind = Kind::Failed;
    int offset = 0;
    int confidence = 0;
    int track = 0; // the track that was read
    std::string error;
};

constexpr int DefaultOffsetSearch = 5 * 588; // samples either way; drives lie well within
// `lookup` holds the database's time limit and the user's proxy. `cancel` (may be null), once set,
// ends the search soon with Failed ("cancelled").
ReadOffsetResult FindReadOffset(HCDROM handle, const std::string& server,
                                int maxOffset = DefaultOffsetSearch,
                                const LookupOptions& lookup = {},
                                const std::atomic<bool>* cancel = nullptr);

} // namespace cd
