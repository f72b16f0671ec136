#pragma once
// The track list's arithmetic: from a table of contents to the rows' numbers, lengths
// and sizes. Kept apart from the window so it can be checked without one.
#include <string>
#include <vector>

#include "cd/akrip32.h"

namespace app {

struct TrackRow {
    int number = 0;
    int minutes = 0;
    int seconds = 0;
};

// One row per track from first to last; a track's length runs from its start to the
// next entry (the lead-out after the last track), in whole minutes and seconds with
// one minute borrowed when the seconds go negative. Frames are not used.
std::vector<TrackRow> TrackRowsFromTOC(const cd::TTOC& toc);

// "MM:SS", each at least two digits.
std::string LengthText(const TrackRow& row);
// Megabytes of 44.1 kHz 16-bit stereo audio, two decimals, at least two digits before.
std::string SizeText(const TrackRow& row);

} // namespace app
