#pragma once
// The ReplayGain tags of a rip. A track's own values go into its file's tag with the rest
// of its tag, when its encode step finishes; the album's need every track, so they are added
// to the finished files when the job has ripped them all.
//
// The album pass never changes a finished file in place: it tags a copy beside it (under the
// item's partial name) and renames the copy over it, so a failure or a crash half-way leaves
// the file as the encode step made it. GUI thread; the meters are no longer being fed.
#include <span>
#include <string>
#include <vector>

#include "audio/Loudness.h"

namespace jobs {

// Whether the file is Ogg Opus (it also gets R128 gains), by its name.
bool IsOpusName(const std::string& path);

// One finished file of the job and the meter of its track.
struct TGainItem {
    std::string Output;
    std::string Partial; // free once the encode step has ended
    const audio::TLoudnessMeter* Meter = nullptr;
};

// The album's gain and peak over all meters, added to every item's output. Returns "" or
// the first failure ("<file>: why"); an item whose copy could not be tagged keeps its file.
std::string WriteAlbumGain(std::span<const TGainItem> items,
                           std::span<const audio::TLoudnessMeter* const> album);

} // namespace jobs
