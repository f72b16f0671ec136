#pragma once
// One secure rip of a disc: the settings it runs with, the disc's layout, each track's
// results as the rip thread reports them, and the AccurateRip lookup. Every change
// rewrites the rip log (<output folder>/rip-<CDDB id>.log), so the log is complete at
// any moment and nothing has to happen when the job ends.
//
// Threads: the job window creates the session and hands a shared pointer to every rip
// thread of the job; the rip thread calls SetDisc and TrackDone; the lookup's worker
// delivers the database answer. All state is under one lock. The destructor cancels a
// lookup still running and waits for its worker; it may run on any thread but the
// worker's.
#include "cd/AccurateRip.h"
#include "cd/AccurateRipLookup.h"
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
    int sectorRetries = 20; // re-read budget of one damaged sector
    std::chrono::milliseconds sectorTime = std::chrono::seconds(30); // and its time limit
};

struct RipDisc {
    std::string drive;
    std::vector<RipLogTocEntry> toc; // every track, data tracks marked
    std::uint32_t leadOut = 0;       // LSN
    std::uint32_t cddbId = 0;
};

// The disc's AccurateRip ids: the audio tracks, the audio ending before a data session.
ArDiscIds ArDiscIdsOf(const RipDisc& disc);

class RipSession {
public:
    explicit RipSession(RipSessionOptions options);
    ~RipSession();
    RipSession(const RipSession&) = delete;
    RipSession& operator=(const RipSession&) = delete;

    const RipSessionOptions& Options() const { return options_; }

    // Called by the rip thread before each track. The first call (and any call with a
    // different disc) records the layout and starts the AccurateRip lookup.
    void SetDisc(const RipDisc& disc);
    // Whether track `number` is the first or last audio track of the disc.
    bool IsFirstAudioTrack(int number) const;
    bool IsLastAudioTrack(int number) const;
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
    // Waits until the lookup has an answer (or there is none to wait for).
    bool WaitForLookup(std::chrono::milliseconds timeout) const;

private:
    enum class LookupState { Off, Pending, Failed, NotFound, Loaded };

    void OnLookupDone(const AccurateRipLookup::Result& result);
    void Judge(RipLogTrack& track) const;
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
    int ripping_ = 0;                                 // the track being read, 0 for none
    std::unique_ptr<AccurateRipLookup> lookupWorker_; // last: goes first
};

} // namespace cd
