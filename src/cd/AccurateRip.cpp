#include "cd/AccurateRip.h"

#include "bytes/LittleEndian.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELLORINE_AR_AVX2 1
#include <immintrin.h>
#else
#define VELLORINE_AR_AVX2 0
#endif

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

namespace {

void AddArSumsScalar(const std::uint8_t* words, std::uint32_t base, std::uint32_t count,
                     ArSums& sums) {
    std::uint32_t v1 = sums.v1;
    std::uint32_t high = sums.high;
    for (std::uint32_t k = 0; k < count; ++k) {
        std::uint32_t word;
        std::memcpy(&word, words + 4 * std::size_t{k}, 4); // little-endian host
        const std::uint64_t product = std::uint64_t{word} * (base + k);
        v1 += static_cast<std::uint32_t>(product);
        high += static_cast<std::uint32_t>(product >> 32);
    }
    sums.v1 = v1;
    sums.high = high;
}

#if VELLORINE_AR_AVX2
// Eight words a step: the even and the odd words each make four 64-bit products, whose
// low halves add up in one accumulator and high halves in another; only the low 32 bits
// of each lane matter, so carries between the halves do no harm. Returns the words done.
__attribute__((target("avx2"))) std::uint32_t
AddArSumsAvx2(const std::uint8_t* words, std::uint32_t base, std::uint32_t count, ArSums& sums) {
    const std::uint64_t b = base;
    __m256i even = _mm256_setr_epi64x(static_cast<long long>(b), static_cast<long long>(b + 2),
                                      static_cast<long long>(b + 4), static_cast<long long>(b + 6));
    __m256i odd = _mm256_add_epi64(even, _mm256_set1_epi64x(1));
    const __m256i step = _mm256_set1_epi64x(8);
    __m256i lows = _mm256_setzero_si256();
    __m256i highs = _mm256_setzero_si256();
    const std::uint32_t whole = count & ~7U;
    for (std::uint32_t k = 0; k < whole; k += 8) {
        const __m256i w =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 4 * std::size_t{k}));
        const __m256i pe = _mm256_mul_epu32(w, even);
        const __m256i po = _mm256_mul_epu32(_mm256_srli_epi64(w, 32), odd);
        lows = _mm256_add_epi64(lows, _mm256_add_epi64(pe, po));
        highs = _mm256_add_epi64(
            highs, _mm256_add_epi64(_mm256_srli_epi64(pe, 32), _mm256_srli_epi64(po, 32)));
        even = _mm256_add_epi64(even, step);
        odd = _mm256_add_epi64(odd, step);
    }
    alignas(32) std::uint64_t lane[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lane), lows);
    for (const std::uint64_t v : lane) {
        sums.v1 += static_cast<std::uint32_t>(v);
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(lane), highs);
    for (const std::uint64_t v : lane) {
        sums.high += static_cast<std::uint32_t>(v);
    }
    return whole;
}
#endif

} // namespace

void AddArSums(const std::uint8_t* words, std::uint32_t base, std::uint32_t count, ArSums& sums,
               bool vector) {
    std::uint32_t done = 0;
#if VELLORINE_AR_AVX2
    static const bool hasAvx2 = __builtin_cpu_supports("avx2") != 0;
    if (vector && hasAvx2) {
        done = AddArSumsAvx2(words, base, count, sums);
    }
#else
    (void)vector;
#endif
    AddArSumsScalar(words + 4 * std::size_t{done}, base + done, count - done, sums);
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
    AddArSums(p, static_cast<std::uint32_t>(lo), count32, sums_);
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
