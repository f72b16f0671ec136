#include "cd/HiddenTrack.h"

#include <algorithm>
#include <cdio/cdio.h>
#include <new>
#include <vector>

namespace cd {

namespace {

constexpr std::uint32_t kFramesPerRead = 75;

// Sectors before track 1's INDEX 01 on an audio track 1; 0 otherwise.
std::uint32_t FramesBeforeTrackOne(HCDROM handle) {
    CdioPtr cdio = OpenCdioOfHandle(handle);
    if (!cdio) {
        return 0;
    }
    CdIo_t* p = cdio.get();
    const bool audioOne =
        cdio_get_first_track_num(p) == 1 && cdio_get_track_format(p, 1) == TRACK_FORMAT_AUDIO;
    const lsn_t start = audioOne ? cdio_get_track_lsn(p, 1) : CDIO_INVALID_LSN;
    CloseCdio(cdio);
    return start == CDIO_INVALID_LSN || start <= 0 ? 0 : static_cast<std::uint32_t>(start);
}

} // namespace

std::uint32_t HiddenTrackFrames(HCDROM handle) {
    const std::uint32_t frames = FramesBeforeTrackOne(handle);
    std::vector<std::uint8_t> storage(TrackBufHeaderSize + kFramesPerRead * CDFrameBytes);
    // Read from the first sector on: the first sound ends the search.
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = std::min(kFramesPerRead, frames - done);
        auto* buffer = new (storage.data()) TTrackBuf{};
        buffer->startFrame = static_cast<std::int32_t>(done) - static_cast<std::int32_t>(frames);
        buffer->numFrames = n;
        buffer->maxLen = n * CDFrameBytes;
        if (ReadCDAudioLBA(handle, *buffer) != 1) {
            return 0;
        }
        const std::uint8_t* audio = storage.data() + TrackBufHeaderSize + buffer->startOffset;
        if (std::any_of(audio, audio + buffer->len, [](std::uint8_t b) { return b != 0; })) {
            return frames;
        }
        done += n;
    }
    return 0;
}

} // namespace cd
