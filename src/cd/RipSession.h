#pragma once
// One secure rip of a disc: the settings it runs with, the disc's layout, each track's
// results as the rip thread reports them, the AccurateRip lookup and, when asked for,
// the CTDB lookup with the check of the whole disc. Every change
// rewrites the rip log (<output folder>/rip-<CDDB id>.log), so the log is complete at
// any moment and nothing has to happen when the job ends.
//
// Threads: the job window creates the session and hands a shared pointer to every rip
// thread of the job; the rip thread calls SetDisc and TrackDone; the lookup's worker
// delivers the database answer (each lookup has its own). All state is under one lock.
// The destructor cancels the lookups still running and waits for their workers; it may run on any
// thread but the worker's.
#include "cd/AccurateRip.h"
#include "cd/CtdbLookup.h"
#include "cd/DatabaseLookup.h"
#include "cd/RipLog.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cd {

struct RipSessionOptions {
    std::string outputFolder;
    int readOffset = 0; // samples
    bool testAndCopy = false;
    bool accurateRip = true;
    std::string accurateRipServer = "http://www.accuraterip.com";
    std::chrono::milliseconds lookupTimeout = std::chrono::seconds(20);
    platform::HttpProxy proxy; // the user's proxy setting, for every database lookup
    bool ctdb = false;         // the CTDB check of the whole disc (the settings turn it on)
    std::string ctdbServer = "http://db.cuetools.net";
    int sectorRetries = 20; // re-read budget of one damaged sector
    std::chrono::milliseconds sectorTime = std::chrono::seconds(30); // and its time limit
    bool fastFirst = false; // read once, re-rip securely what no database verifies
};

// What the databases say of a track read once.
struct FastPassCheck {
    bool verified = false;
    std::string text; // "verified by AccurateRip (confidence 8)", "AccurateRip: mismatch"
};

struct RipDisc {
    std::string drive;
    std::vector<RipLogTocEntry> toc; // every track, data tracks marked
    std::uint32_t leadOut = 0;       // LSN
    std::uint32_t cddbId = 0;
};

class RipSession {
public:
    explicit RipSession(RipSessionOptions options);
    ~RipSession();
    RipSession(const RipSession&) = delete;
    RipSession& operator=(const RipSession&) = delete;

    const RipSessionOptions& Options() const { return options_; }
    // Fast first is on and there is a database to verify a track against.
    bool FastFirst() const { return options_.fastFirst && (options_.accurateRip || options_.ctdb); }

    // Called by the rip thread before each track. The first call (and any call with a
    // different disc) records the layout and starts the AccurateRip lookup.
    void SetDisc(const RipDisc& disc);
    // Whether track `number` is the first or last audio track of the disc.
    bool IsFirstAudioTrack(int number) const;
    bool IsLastAudioTrack(int number) const;
    // The samples of track `number` (`trackSamples` long) that stay out of the CTDB disc
    // checksum.
    CtdbRange CtdbRangeOf(int number, std::uint64_t trackSamples) const;
    // A track's results (the AccurateRip fields are filled in here); a track ripped
    // again replaces its earlier results. Rewrites the log.
    void TrackDone(RipLogTrack track);
    // Track `number` is being read: until TrackDone (or TrackStopped) the log ends by
    // saying so instead of giving a verdict.
    void TrackStarted(int number);
    void TrackStopped(int number);

    std::string LogPath() const;
    std::vector<RipLogTrack> Tracks() const;
    ArDiscIds DiscIds() const;
    // The CTDB check of the disc as the log shows it.
    RipLogCtdb Ctdb() const;
    // Waits until every lookup has an answer (or there is none to wait for).
    bool WaitForLookup(std::chrono::milliseconds timeout) const;
    // Whether the sums of a whole track read once (`track`, not yet reported) are
    // verified: its AccurateRip checksums match the database, or a CTDB entry lists its
    // share of the disc checksum among its track checksums. A lookup still pending
    // verifies nothing.
    FastPassCheck CheckFastPass(const RipLogTrack& track) const;

private:
    enum class LookupState { Off, Pending, Failed, NotFound, Loaded };

    void OnLookupDone(const DatabaseLookup::Result& result);
    void OnCtdbDone(const CtdbLookup::Result& result);
    RipLogCtdb JudgeDisc() const;
    std::vector<int> AudioTrackNumbers() const;
    std::uint64_t AudioStartOf(int number) const; // samples into the disc's audio
    void Judge(RipLogTrack& track) const;
    int CtdbTrackConfidence(const RipLogTrack& track) const;
    std::string CtdbTrackText(int confidence) const;
    void WriteLog();
    std::string LogPathLocked() const;
    int AudioIndexOf(int number) const;

    const RipSessionOptions options_;
    mutable std::mutex mutex_;
    mutable std::condition_variable lookupEnded_;
    std::optional<RipDisc> disc_;
    ArDiscIds ids_;
    LookupState lookup_ = LookupState::Off;
    std::string lookupError_;
    std::vector<ArChunk> chunks_;
    std::vector<RipLogTrack> tracks_;
    LookupState ctdbLookup_ = LookupState::Off;
    std::string ctdbError_;
    std::vector<CtdbEntry> ctdbEntries_;
    int ripping_ = 0;                        // the track being read, 0 for none
    std::unique_ptr<CtdbLookup> ctdbWorker_; // the workers last: they go first
    std::unique_ptr<DatabaseLookup> lookupWorker_;
};

} // namespace cd
