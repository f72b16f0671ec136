// Arbitrary bytes as an AccurateRip database answer: the parser either refuses them or
// gives chunks whose sizes add up to exactly the input, and matching never reads past a
// chunk's tracks.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "cd/AccurateRip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto chunks = cd::ParseArDatabase(std::span<const std::uint8_t>(data, size));
    if (!chunks) {
        return 0;
    }
    std::size_t total = 0;
    for (const cd::ArChunk& c : *chunks) {
        if (c.ids.trackCount < 1 || c.tracks.size() != static_cast<std::size_t>(c.ids.trackCount)) {
            std::abort();
        }
        total += 13 + 9 * c.tracks.size();
    }
    if (total != size) {
        std::abort();
    }
    const cd::ArDiscIds ids = chunks->front().ids;
    const auto disc = cd::ChunksForDisc(*chunks, ids);
    for (int t = -1; t <= ids.trackCount; ++t) {
        (void)cd::MatchArTrack(disc, t, 0x12345678U, 0x9abcdef0U);
    }
    return 0;
}
