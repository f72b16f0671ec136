#pragma once
// Checks a folder of ripped WAV files (one per track, 44.1 kHz 16-bit stereo) against the
// AccurateRip and CTDB databases, given the disc's layout (from a drive, a cue sheet or a
// rip log: see DiscToc.h).
//
// Files are matched to tracks by the track number in their names, else by name order and
// exact length; each matched file is summed with the rip's own checks (TrackSums), while
// both databases are asked at once.
//
// Threads: Run blocks; call it on a worker. `stop` may be set from any thread: the file
// being summed and any transfer end within a few milliseconds. `progress` runs on the
// calling thread.
#include "cd/DatabaseLookup.h"
#include "cd/RipLog.h"
#include "cd/RipSession.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cd {

struct VerifyOptions {
    bool accurateRip = true;
    std::string accurateRipServer = "http://www.accuraterip.com";
    bool ctdb = true;
    std::string ctdbServer = "http://db.cuetools.net";
    LookupOptions lookup;
};

enum class VerifyStatus {
    Verified,      // AccurateRip holds its checksum
    NotInDatabase, // AccurateRip knows no such disc
    Mismatch,      // AccurateRip knows the disc, not this track's audio
    MissingFile,   // no file for the track
    WrongLength,   // the file's audio is not the track's length
    Unreadable,    // the file is not 44.1 kHz 16-bit stereo PCM WAV, or cannot be read
    NotVerified,   // no usable database answer, or stopped
};

struct VerifyTrack {
    int number = 0;
    std::string file; // the name within the folder; empty when missing
    VerifyStatus status = VerifyStatus::NotVerified;
    int confidence = 0;                // Verified: the submissions that agree
    bool v2 = false;                   // Verified: by the v2 checksum
    std::uint64_t samples = 0;         // the file's
    std::uint64_t expectedSamples = 0; // the track's
    std::optional<std::uint32_t> arV1; // present once summed
    std::optional<std::uint32_t> arV2;
    std::optional<std::uint32_t> crc;
    std::string reason; // NotVerified, Unreadable: why
};

struct VerifyReport {
    std::vector<VerifyTrack> tracks; // the disc's audio tracks in order
    RipLogCtdb ctdb;                 // the whole disc's check
    bool stopped = false;
};

// "verified (confidence 5)", "not in database", "mismatch", "missing file", ...
std::string VerifyStatusText(const VerifyTrack& track);

// The file (index into `names`, -1 for none) of each audio track in order. `samples`
// holds each file's length (nothing for a file that cannot be used); `trackSamples`
// each track's.
struct TrackFileCandidate {
    std::string name;
    std::optional<std::uint64_t> samples;
};
std::vector<int> MatchFilesToTracks(const std::vector<TrackFileCandidate>& files,
                                    const std::vector<int>& trackNumbers,
                                    const std::vector<std::uint64_t>& trackSamples);

class DiscVerifier {
public:
    using Progress = std::function<void(int percent)>;

    DiscVerifier(RipDisc disc, std::string folder, VerifyOptions options);
    VerifyReport Run(const std::atomic<bool>& stop, const Progress& progress = {}) const;

private:
    RipDisc disc_;
    std::string folder_;
    VerifyOptions options_;
};

} // namespace cd
