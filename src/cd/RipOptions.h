#pragma once
// What one rip thread is told by its owner: where to write the track and how. A plain
// record, filled on the GUI thread before the thread starts; the worker reads nothing else.
#include <string>

namespace cd {

// What a rip reads: its track (from INDEX 01 to the next track's), the audio hidden before
// track 1's INDEX 01 (from the disc's first sector), or the whole disc's audio in one span:
// from the first sector (the first audio track's start when a data track comes first) to
// the end of the last audio track, every gap once.
enum class TRipSpan { Track, HiddenTrack, WholeDisc };

struct TRipOptions {
    std::string WavPath;        // the file the track is written to, named by the owner
    bool EnableRipTime = false; // extract at most RipTime seconds from the track's start
    int RipTime = 0;
    bool IsNormalize = false; // then scale every sample by NormalizePercent / 100
    int NormalizePercent = 95;
    // When set, the folders between this one (which must exist) and WavPath's are made
    // before the track is written, so a rip makes only the folders of the tracks it reads.
    std::string MakeFoldersUnder{};
    // Not a track: the rip-time limit does not cut the other spans, whose layout a cue
    // sheet describes.
    TRipSpan Span = TRipSpan::Track;
};

} // namespace cd
