#pragma once
// What one rip thread is told by its owner: where to write the track and how. A plain
// record, filled on the GUI thread before the thread starts; the worker reads nothing else.
#include <string>

namespace cd {

struct TRipOptions {
    std::string WavPath;        // the file the track is written to, named by the owner
    bool EnableRipTime = false; // extract at most RipTime seconds from the track's start
    int RipTime = 0;
    bool IsNormalize = false; // then scale every sample by NormalizePercent / 100
    int NormalizePercent = 95;
    // When set, the folders between this one (which must exist) and WavPath's are made
    // before the track is written, so a rip makes only the folders of the tracks it reads.
    std::string MakeFoldersUnder{};
};

} // namespace cd
