#include "app/CdAudioSource.h"

#include <cstring>

#include "cd/akrip32.h"

namespace app {

namespace {
int FramesOf(const cd::TTOCEntry& entry) {
    return entry.addr[1] * 4500 + entry.addr[2] * 75 + entry.addr[3];
}
} // namespace

bool TCdAudioSource::TrackStarts(std::vector<std::uint32_t>& starts) {
    cd::TTOC toc{};
    if (cd::ModifyCDParms(handle_, cd::CDP_MSF_ADDRESSES, 1) == 0 ||
        cd::ReadTOC(handle_, toc) != 1 || toc.firstTrack < 1 || toc.lastTrack < toc.firstTrack ||
        toc.lastTrack > 99) {
        return false;
    }
    // Frame 0 is the first track's start; the entry after the last track is the lead-out.
    const int base = FramesOf(toc.tracks[toc.firstTrack - 1]);
    starts.clear();
    for (int n = toc.firstTrack; n <= toc.lastTrack + 1; ++n) {
        const int frames = FramesOf(toc.tracks[n - 1]) - base;
        if (frames < 0) {
            return false;
        }
        starts.push_back(static_cast<std::uint32_t>(frames));
    }
    return true;
}

bool TCdAudioSource::ReadFrames(std::uint32_t first, std::uint32_t count, std::uint8_t* out) {
    const std::size_t bytes = static_cast<std::size_t>(count) * cd::CDFrameBytes;
    buffer_.assign(cd::TrackBufHeaderSize + bytes, 0);
    auto* record = reinterpret_cast<cd::TTrackBuf*>(buffer_.data());
    record->startFrame = static_cast<std::int32_t>(first);
    record->numFrames = count;
    record->maxLen = static_cast<std::uint32_t>(bytes);
    if (cd::ReadCDAudioLBA(handle_, *record) != 1 || record->len < bytes) {
        return false;
    }
    std::memcpy(out, record->buf + record->startOffset, bytes);
    return true;
}

} // namespace app
