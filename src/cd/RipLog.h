#pragma once
// The rip log: a plain UTF-8 text beside the output files that states how a disc was
// read and what each track's checks found, ending with an overall verdict. The session
// rewrites it whole after every track and when the AccurateRip answer arrives, always
// through a temporary file renamed over the old one, so a reader never sees half a log.
//
// Pure formatting and one file write; no threads, no Qt.
#include "cd/CtdbCrc.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cd {

enum class ArVerdict { Off, Pending, Partial, NotVerified, NotInDatabase, Match, Mismatch };

// Fast first: each track is read once and kept when a database verifies it; the others
// are ripped again in secure mode.
enum class FastPass { None, Verified, Reripped };

struct RipLogTrack {
    int number = 0;
    std::string file;
    std::uint32_t frames = 0;
    bool partial = false;    // the rip-time limit cut the track, or span says what was ripped
    std::string span;        // not a track: what the file holds, and why it is not verified
    std::int32_t status = 0; // the rip thread's completion status
    std::uint32_t peak = 0;  // 0..32768
    std::uint32_t crc = 0;
    std::optional<std::uint32_t> testCrc;
    std::uint32_t rereadFrames = 0;
    std::uint32_t uncorrectableFrames = 0;
    bool normalized = false;
    std::optional<std::uint32_t> arV1; // present for whole tracks
    std::optional<std::uint32_t> arV2;
    ArVerdict ar = ArVerdict::Off;
    int arConfidence = 0;
    std::string arReason;         // NotVerified: why
    std::optional<CtdbPart> ctdb; // the track's share of the CTDB disc checksum
    FastPass fastPass = FastPass::None;
    std::optional<std::uint32_t> fastCrc; // Reripped: the CRC32 of the single read, if whole
    std::string fastResult; // what the databases said of the single read (or why it failed)
};

// The CTDB check is of the whole disc: it needs every audio track, each ripped whole.
enum class CtdbVerdict { Off, Pending, Incomplete, NotVerified, NotInDatabase, Match, Mismatch };

struct RipLogCtdb {
    CtdbVerdict verdict = CtdbVerdict::Off;
    std::optional<std::uint32_t> crc; // the disc checksum, once every track is in
    int confidence = 0;               // Match: rips that agree; Mismatch: 0
    int total = 0;                    // rips of this disc in the database
    std::string reason;               // NotVerified: why
};

struct RipLogTocEntry {
    int number = 0;
    std::uint32_t start = 0; // LSN
    std::uint32_t frames = 0;
    bool data = false;
};

struct RipLogData {
    std::string program;
    std::string drive;
    bool testAndCopy = false;
    int readOffset = 0;
    std::vector<RipLogTocEntry> toc;
    std::uint32_t leadOut = 0;
    std::uint32_t cddbId = 0;
    std::string accurateRipFile; // the database file's name; empty when AccurateRip is off
    std::vector<RipLogTrack> tracks;
    RipLogCtdb ctdb;
    int ripping = 0; // a track still being read: no verdict yet
    bool fastFirst = false;
};

// "accurately ripped (confidence 3)", "not in database", "mismatch", ...
std::string ArVerdictText(const RipLogTrack& track);
// "accurately ripped (confidence 7 of 10)", "not in database", ...
std::string CtdbVerdictText(const RipLogCtdb& ctdb);
// The last line of the log once no track is being read.
std::string RipVerdict(const std::vector<RipLogTrack>& tracks);
// Fast first: "2 track(s) verified in the fast pass; 1 re-ripped in secure mode (03)".
std::string FastPassSummary(const std::vector<RipLogTrack>& tracks);
std::string FormatRipLog(const RipLogData& data);
// Writes `text` to path + ".tmp" and renames it over `path`; false (and the temporary
// file removed) on any failure.
bool WriteTextAtomically(const std::string& path, const std::string& text);

} // namespace cd
