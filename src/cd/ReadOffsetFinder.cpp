#include "cd/ReadOffsetFinder.h"

#include "bytes/LittleEndian.h"
#include "cd/DiscToc.h"
#include "cd/ParanoiaReader.h"
#include "cd/RipSession.h"
#include "cd/ripthread.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

namespace cd {

namespace {

constexpr std::uint32_t SamplesPerFrame = 588;
constexpr std::uint32_t FramesPerRead = 75;

// The track's checksum at offset o, numbered n = 1.. from sample index margin + o:
// C(o) = sum of n * word[margin + o - 1 + n] over the counted numbers, S(o) the plain
// sum of those words. One sample further on, every number falls by one:
// C(o + 1) = C(o) - S(o) - (lo - 1) * leaving + hi * entering.
class ShiftingChecksum {
public:
    ShiftingChecksum(std::span<const std::uint8_t> pcm, std::uint64_t lo, std::uint64_t hi)
        : pcm_(pcm), lo_(lo), hi_(hi) {
        for (std::uint64_t n = lo_; n <= hi_; ++n) {
            const std::uint32_t w = Word(n);
            v1_ += static_cast<std::uint32_t>(n) * w;
            sum_ += w;
        }
    }
    std::uint32_t V1() const { return v1_; }
    void Step() {
        const std::uint32_t leaving = Word(lo_);
        const std::uint32_t entering = Word(hi_ + 1);
        v1_ = v1_ - sum_ - static_cast<std::uint32_t>(lo_ - 1) * leaving +
              static_cast<std::uint32_t>(hi_) * entering;
        sum_ = sum_ - leaving + entering;
        ++start_;
    }

private:
    // The word numbered n at the current offset (start_ is the index of number 1).
    std::uint32_t Word(std::uint64_t n) const {
        return bytes::GetLe32(pcm_.data() + 4 * (start_ + n - 1));
    }

    std::span<const std::uint8_t> pcm_;
    const std::uint64_t lo_;
    const std::uint64_t hi_;
    std::uint64_t start_ = 0;
    std::uint32_t v1_ = 0;
    std::uint32_t sum_ = 0;
};

ReadOffsetResult Failed(std::string error) {
    ReadOffsetResult result;
    result.error = std::move(error);
    return result;
}

} // namespace

std::vector<ArOffsetMatch> MatchArOffsets(std::span<const std::uint8_t> pcm, std::uint32_t margin,
                                          bool firstTrack, bool lastTrack,
                                          const std::vector<ArChunk>& discChunks, int track) {
    std::vector<ArOffsetMatch> matches;
    const std::uint64_t words = pcm.size() / 4;
    if (words <= 2ULL * margin || track < 0) {
        return matches;
    }
    const std::uint64_t total = words - 2ULL * margin;
    const std::uint64_t lo = firstTrack ? ArChecksum::SkippedSamples : 1;
    const std::uint64_t hi =
        lastTrack ? total - std::min<std::uint64_t>(total, ArChecksum::SkippedSamples) : total;
    std::unordered_map<std::uint32_t, int> wanted; // checksum -> confidence
    for (const ArChunk& chunk : discChunks) {
        if (static_cast<std::size_t>(track) < chunk.tracks.size()) {
            wanted[chunk.tracks[static_cast<std::size_t>(track)].crc] +=
                chunk.tracks[static_cast<std::size_t>(track)].confidence;
        }
    }
    if (wanted.empty() || lo > hi) {
        return matches;
    }
    ShiftingChecksum sums(pcm, lo, hi);
    const int last = static_cast<int>(margin);
    for (int offset = -last;; ++offset) {
        const auto found = wanted.find(sums.V1());
        if (found != wanted.end()) {
            matches.push_back({offset, found->second});
        }
        if (offset == last) {
            break;
        }
        sums.Step();
    }
    return matches;
}

ReadOffsetResult FindReadOffset(HCDROM handle, const std::string& server, int maxOffset,
                                const LookupOptions& lookup, const std::atomic<bool>* cancel) {
    const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
    TTOC toc{};
    if (ModifyCDParms(handle, CDP_MSF_ADDRESSES, 1) == 0 || ReadTOC(handle, toc) != 1) {
        return Failed("the table of contents is unreadable");
    }
    const RipDisc disc = DescribeDiscOf(handle, toc);
    std::vector<RipLogTocEntry> audio;
    std::copy_if(disc.toc.begin(), disc.toc.end(), std::back_inserter(audio),
                 [](const RipLogTocEntry& e) { return !e.data; });
    if (audio.empty()) {
        return Failed("the disc has no audio tracks");
    }
    const ArDiscIds ids = ArDiscIdsOf(disc);
    const auto fetched = DatabaseLookup::Fetch(ArDatabaseUrl(server, ids), lookup, cancel);
    if (cancelled()) {
        return Failed("cancelled");
    }
    using Kind = DatabaseLookup::Result::Kind;
    if (fetched.kind == Kind::Failed) {
        return Failed("no answer from the database: " + fetched.error);
    }
    const auto parsed = fetched.kind == Kind::Found ? ParseArDatabase(fetched.body) : std::nullopt;
    const std::vector<ArChunk> chunks =
        parsed ? ChunksForDisc(*parsed, ids) : std::vector<ArChunk>{};
    if (chunks.empty()) {
        ReadOffsetResult result;
        result.kind = ReadOffsetResult::Kind::NotInDatabase;
        return result;
    }

    // A track inside the disc when there is one: the edge tracks leave samples out.
    const std::size_t index = audio.size() >= 3 ? 1 : 0;
    const std::uint32_t end =
        index + 1 < audio.size() ? audio[index + 1].start : AudioLeadOutOf(disc);
    const std::uint32_t frames = end - std::min(end, audio[index].start);
    const auto margin = static_cast<std::uint32_t>(std::clamp(maxOffset, 0, 44100));
    const std::uint64_t samples = std::uint64_t{frames} * SamplesPerFrame + 2ULL * margin;
    const auto readFrames =
        static_cast<std::uint32_t>((samples + SamplesPerFrame - 1) / SamplesPerFrame);

    std::string error;
    const std::unique_ptr<ParanoiaReader> reader = ParanoiaReader::Open(handle, error);
    if (!reader) {
        return Failed(error);
    }
    std::vector<std::uint8_t> pcm(std::size_t{readFrames} * CDFrameBytes);
    reader->Begin(audio[index].start - disc.toc.front().start, readFrames,
                  -static_cast<int>(margin));
    for (std::uint32_t done = 0; done < readFrames;) {
        if (cancelled()) {
            return Failed("cancelled");
        }
        const std::uint32_t n = std::min(FramesPerRead, readFrames - done);
        if (!reader->Read(n, pcm.data() + std::size_t{done} * CDFrameBytes)) {
            return Failed("the drive could not read track " + std::to_string(audio[index].number));
        }
        done += n;
    }
    const std::span<const std::uint8_t> track(pcm.data(), static_cast<std::size_t>(samples * 4));
    const auto matches = MatchArOffsets(track, margin, index == 0, index + 1 == audio.size(),
                                        chunks, static_cast<int>(index));
    ReadOffsetResult result;
    result.track = audio[index].number;
    result.kind = ReadOffsetResult::Kind::NoMatch;
    // The most trusted offset; of equals, the smallest shift.
    for (const ArOffsetMatch& m : matches) {
        if (result.kind == ReadOffsetResult::Kind::NoMatch || m.confidence > result.confidence ||
            (m.confidence == result.confidence && std::abs(m.offset) < std::abs(result.offset))) {
            result.kind = ReadOffsetResult::Kind::Found;
            result.offset = m.offset;
            result.confidence = m.confidence;
        }
    }
    return result;
}

} // namespace cd
