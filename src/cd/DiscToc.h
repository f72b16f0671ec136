#pragma once
// A disc's layout as the checksum databases see it, and where it comes from: the disc
// behind an open drive handle, a cue sheet, or the table of contents a rip log records.
// The rip session and the check of ripped files share these, so both name a disc alike.
//
// Addresses are LSNs (the first track normally at 0). No threads, no Qt.
#include "cd/AccurateRip.h"
#include "cd/CtdbCrc.h"
#include "cd/RipLog.h"
#include "cd/RipSession.h"
#include "cd/akrip32.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cd {

constexpr std::uint64_t CdFrameSamples = 588;

// Where the disc's audio ends: before the gap to a data track that follows the audio.
std::uint32_t AudioLeadOutOf(const RipDisc& disc);
// The first audio track's start.
std::uint32_t FirstAudioLsnOf(const RipDisc& disc);
ArDiscIds ArDiscIdsOf(const RipDisc& disc);
// Track `number`'s place among the audio tracks (0-based); -1 when it is none of them.
int AudioIndexIn(const RipDisc& disc, int number);
// The audio tracks in disc order.
std::vector<RipLogTocEntry> AudioTracksOf(const RipDisc& disc);
// The frames of audio track `number` a rip gives: up to the next track, the last audio
// track up to the audio lead-out.
std::uint32_t AudioFramesOf(const RipDisc& disc, int number);
// The frames a rip of the whole disc into one file reads: from the disc's start when track 1
// holds audio (the audio before its INDEX 01 included), else from the first audio track, to
// the audio's end.
std::uint32_t WholeDiscFramesOf(const RipDisc& disc);
// The frames before track 1's INDEX 01 that may hide audio (none when track 1 is data).
std::uint32_t HiddenFramesOf(const RipDisc& disc);
// The samples of track `number` (`trackSamples` long) that stay out of the CTDB disc
// checksum.
CtdbRange CtdbRangeIn(const RipDisc& disc, int number, std::uint64_t trackSamples);
// The CDDB disc id from every track's start and the lead-out.
std::uint32_t CddbDiscIdOf(const RipDisc& disc);

// The disc behind an open handle (its TOC read as minute:second:frame addresses).
std::optional<RipDisc> ReadDiscOf(HCDROM handle);
// The same from a TOC already read with minute:second:frame addresses.
RipDisc DescribeDiscOf(HCDROM handle, const TTOC& toc);
// The TOC a rip log records (its "Table of contents", lead-out and CDDB id); nothing
// when the text is not a rip log.
std::optional<RipDisc> ReadRipLogDisc(std::string_view text);
// The layout a cue sheet gives, each FILE's length taken from the file it names (raw
// 2352-byte sectors, or a WAV file's audio); nothing, with `error` set, when a file
// cannot be read or the sheet names no track.
std::optional<RipDisc> ReadCueSheetDisc(const std::string& cuePath, std::string& error);

} // namespace cd
