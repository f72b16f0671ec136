#pragma once
// The CD-Text of a disc as libcdio reads it: from a drive's lead-in, or from the TITLE and
// PERFORMER lines of an image's cue sheet. Texts are handed back as UTF-8 (valid UTF-8
// stays, anything else is taken as Latin-1, CD-Text's usual charset); blanks trimmed.
//
// Plain C++. CdTextOfHandle opens a libcdio handle of its own on the drive (the CD
// layer's lock is taken while it is opened and closed), so any thread may call it.
#include "cd/akrip32.h"

#include <cdio/cdio.h>

#include <optional>
#include <string>
#include <vector>

namespace cd {

struct CdTextInfo {
    std::string artist; // the disc's PERFORMER
    std::string album;  // the disc's TITLE
    int firstTrack = 1;
    std::vector<std::string> titles;     // tracks firstTrack.. in order; "" when missing
    std::vector<std::string> performers; // the same for the tracks' PERFORMER

    bool HasAny() const;
};

// What an open libcdio handle's disc carries; nothing without CD-Text.
std::optional<CdTextInfo> CdTextOf(CdIo_t* cdio);
std::optional<CdTextInfo> CdTextOfHandle(HCDROM handle);

} // namespace cd
