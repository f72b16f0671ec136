#pragma once
// What `info` tells of a disc: its table of contents and the ids the databases know it by,
// as text for a person or as JSON.
#include <cstdint>
#include <optional>
#include <string>

#include "cd/AccurateRip.h"
#include "cd/RipSession.h"
#include "settings/Global.h"

namespace cli {

struct TDiscIds {
    std::uint32_t cddb = 0;
    cd::ArDiscIds accurateRip;
    // The MusicBrainz disc id; nothing while this build cannot compute one.
    std::optional<std::string> musicBrainz;
};

TDiscIds DiscIdsOf(const cd::RipDisc& disc);
// The place the MusicBrainz disc id comes from (see TDiscIds::musicBrainz).
std::optional<std::string> MusicBrainzIdOf(const cd::RipDisc& disc);
// "003-0001a2b3-0004c5d6-1a02d103": audio tracks, id 1, id 2 and the CDDB id.
std::string AccurateRipIdText(const cd::ArDiscIds& ids);
// "MM:SS.FF" of a disc address (LSN), counted from the start of the disc.
std::string MsfText(std::uint32_t lsn);
// "MM:SS.FF" of a number of frames.
std::string LengthText(std::uint32_t frames);

// stored: the titles stored for the disc (empty ones are not shown).
std::string DiscInfoText(const std::string& name, const cd::RipDisc& disc, const TDiscIds& ids,
                         const settings::TDiscInfo& stored);
std::string DiscInfoJson(const cd::RipDisc& disc, const TDiscIds& ids,
                         const settings::TDiscInfo& stored);

} // namespace cli
