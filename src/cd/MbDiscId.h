#pragma once
// A disc's MusicBrainz identity: the disc id (computed by libdiscid from the table of
// contents, so images and drives are named alike) and the TOC text of the web
// service's fuzzy lookup.
//
// The TOC counts frames with the 2-second lead-in. Only the audio session counts: a data
// track after the audio ends the disc where its gap begins, the rule the library applies
// to the drives it reads itself. Plain C++, no state, any thread.
#include "cd/RipSession.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cd {

struct MbToc {
    int first = 1;
    int last = 0;
    std::uint32_t leadOut = 0;          // frames, lead-in included
    std::vector<std::uint32_t> offsets; // one per track first..last, lead-in included
};

// The audio tracks of a disc; nothing when it holds no audio track or more than 99.
std::optional<MbToc> MbTocOf(const RipDisc& disc);
// The 28-character disc id; "" when libdiscid refuses the TOC.
std::string MbDiscIdOf(const MbToc& toc);
// MbDiscIdOf(MbTocOf(disc)); "" for a disc without audio.
std::string MbDiscIdOf(const RipDisc& disc);
// "first+last+leadout+offset1+...", the value of the web service's toc parameter.
std::string MbTocParameter(const MbToc& toc);

} // namespace cd
