#include "cd/AccurateRip.h"

#include "bytes/LittleEndian.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cd {

namespace {

constexpr std::size_t ChunkHeaderBytes = 13;
constexpr std::size_t EntryBytes = 9;

} // namespace

ArDiscIds ComputeArDiscIds(const std::vector<std::uint32_t>& audioStarts, std::uint32_t leadOut,
                           std::uint32_t cddbId) {
    ArDiscIds ids;
    ids.trackCount = static_cast<int>(audioStarts.size());
    ids.cddb = cddbId;
    std::uint32_t number = 1;
    for (std::uint32_t start : audioStarts) {
        ids.id1 += start;
        ids.id2 += std::max<std::uint32_t>(start, 1) * number;
        ++number;
    }
    ids.id1 += leadOut;
    ids.id2 += leadOut * number;
    return ids;
}

std::string ArDatabasePath(const ArDiscIds& ids) {
    char text[80];
    std::snprintf(text, sizeof text, "%x/%x/%x/dBAR-%03d-%08x-%08x-%08x.bin", ids.id1 & 0xF,
                  (ids.id1 >> 4) & 0xF, (ids.id1 >> 8) & 0xF, ids.trackCount, ids.id1, ids.id2,
                  ids.cddb);
    return text;
}

std::string ArDatabaseUrl(const std::string& server, const ArDiscIds& ids) {
    std::string base = server;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    if (base.find("://") == std::string::npos) {
        base = "http://" + base;
    }
    return base + "/accuraterip/" + ArDatabasePath(ids);
}

ArChecksum::ArChecksum(std::uint64_t totalSamples, bool firstTrack, bool lastTrack)
    : from_(firstTrack ? SkippedSamples : 1),
      to_(lastTrack ? (totalSamples > SkippedSamples ? totalSamples - SkippedSamples : 0)
                    : totalSamples) {}

void ArChecksum::Add(std::span<const std::uint8_t> pcm) {
    const std::size_t count = pcm.size() / 4;
    const std::uint64_t first = next_;
    next_ += count;
    // Only the numbers inside [from_, to_] count; the loop below runs branch-free.
    const std::uint64_t lo = std::max(first, from_);
    const std::uint64_t hi = std::min(first + count - 1, to_);
    if (count == 0 || lo > hi) {
        return;
    }
    const std::uint8_t* p = pcm.data() + (lo - first) * 4;
    const auto count32 = static_cast<std::uint32_t>(hi - lo + 1);
    // Sample numbers stay below 2^32 (a CD holds fewer samples), so 32-bit factors with a
    // 64-bit product are exact, and the loop runs on whole vectors.
    const auto base = static_cast<std::uint32_t>(lo);
    std::uint32_t v1 = v1_;
    std::uint32_t high = high_;
    for (std::uint32_t k = 0; k < count32; ++k) {
        std::uint32_t word;
        std::memcpy(&word, p + 4 * std::size_t{k}, 4); // little-endian host
        const std::uint64_t product = std::uint64_t{word} * (base + k);
        v1 += static_cast<std::uint32_t>(product);
        high += static_cast<std::uint32_t>(product >> 32);
    }
    v1_ = v1;
    high_ = high;
}

std::optional<std::vector<ArChunk>> ParseArDatabase(std::span<const std::uint8_t> data) {
    std::vector<ArChunk> chunks;
    std::size_t at = 0;
    while (at < data.size()) {
        if (data.size() - at < ChunkHeaderBytes) {
            return std::nullopt;
        }
        ArChunk chunk;
        chunk.ids.trackCount = data[at];
        const std::size_t need = ChunkHeaderBytes + EntryBytes * data[at];
        if (chunk.ids.trackCount == 0 || data.size() - at < need) {
            return std::nullopt;
        }
        chunk.ids.id1 = bytes::GetLe32(&data[at + 1]);
        chunk.ids.id2 = bytes::GetLe32(&data[at + 5]);
        chunk.ids.cddb = bytes::GetLe32(&data[at + 9]);
        for (int t = 0; t < chunk.ids.trackCount; ++t) {
            const std::size_t e = at + ChunkHeaderBytes + EntryBytes * static_cast<std::size_t>(t);
            chunk.tracks.push_back(
                {data[e], bytes::GetLe32(&data[e + 1]), bytes::GetLe32(&data[e + 5])});
        }
        chunks.push_back(std::move(chunk));
        at += need;
    }
    if (chunks.empty()) {
        return std::nullopt;
    }
    return chunks;
}

std::vector<ArChunk> ChunksForDisc(const std::vector<ArChunk>& chunks, const ArDiscIds& ids) {
    std::vector<ArChunk> out;
    for (const ArChunk& c : chunks) {
        if (c.ids.trackCount == ids.trackCount && c.ids.id1 == ids.id1 && c.ids.id2 == ids.id2 &&
            c.ids.cddb == ids.cddb) {
            out.push_back(c);
        }
    }
    return out;
}

ArMatch MatchArTrack(const std::vector<ArChunk>& discChunks, int track, std::uint32_t v1,
                     std::uint32_t v2) {
    ArMatch match;
    for (const ArChunk& c : discChunks) {
        if (track < 0 || static_cast<std::size_t>(track) >= c.tracks.size()) {
            continue;
        }
        const ArEntry& e = c.tracks[static_cast<std::size_t>(track)];
        if (e.confidence > 0 && (e.crc == v1 || e.crc == v2)) {
            match.confidence += e.confidence;
            match.v2 = match.v2 || (e.crc == v2 && e.crc != v1);
        }
    }
    return match;
}

} // namespace cd
