#include "cd/RipSession.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace cd {

namespace {

bool SameLayout(const RipDisc& a, const RipDisc& b) {
    if (a.leadOut != b.leadOut || a.cddbId != b.cddbId || a.toc.size() != b.toc.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.toc.size(); ++i) {
        if (a.toc[i].start != b.toc[i].start || a.toc[i].data != b.toc[i].data) {
            return false;
        }
    }
    return true;
}

} // namespace

ArDiscIds ArDiscIdsOf(const RipDisc& disc) {
    std::vector<std::uint32_t> starts;
    std::uint32_t leadOut = disc.leadOut;
    for (std::size_t i = 0; i < disc.toc.size(); ++i) {
        const RipLogTocEntry& e = disc.toc[i];
        if (!e.data) {
            starts.push_back(e.start);
        } else if (i + 1 == disc.toc.size() && i > 0 && e.start > ArDataTrackGap) {
            leadOut = e.start - ArDataTrackGap; // audio session ends before the data
        }
    }
    return ComputeArDiscIds(starts, leadOut, disc.cddbId);
}

RipSession::RipSession(RipSessionOptions options) : options_(std::move(options)) {}

RipSession::~RipSession() {
    std::unique_ptr<AccurateRipLookup> worker;
    {
        std::lock_guard lock(mutex_);
        worker = std::move(lookupWorker_);
    }
    worker.reset(); // joins; its answer may still take the lock meanwhile
    // The job ended first: the log says so rather than waiting for ever.
    std::lock_guard lock(mutex_);
    if (lookup_ == LookupState::Pending) {
        lookup_ = LookupState::Failed;
        lookupError_ = "the job ended before the database answered";
        for (RipLogTrack& t : tracks_) {
            Judge(t);
        }
        if (!tracks_.empty()) {
            WriteLog();
        }
    }
}

void RipSession::SetDisc(const RipDisc& disc) {
    std::unique_ptr<AccurateRipLookup> previous;
    {
        std::lock_guard lock(mutex_);
        if (disc_ && SameLayout(*disc_, disc)) {
            return;
        }
        disc_ = disc;
        ids_ = ArDiscIdsOf(disc);
        tracks_.clear();
        chunks_.clear();
        lookupError_.clear();
        previous = std::move(lookupWorker_);
        lookup_ = LookupState::Off;
    }
    previous.reset();
    if (!options_.accurateRip || ids_.trackCount == 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    lookup_ = LookupState::Pending;
    lookupWorker_ = std::make_unique<AccurateRipLookup>(
        ArDatabaseUrl(options_.accurateRipServer, ids_),
        [this](const AccurateRipLookup::Result& r) { OnLookupDone(r); }, options_.lookupTimeout);
}

int RipSession::AudioIndexOf(int number) const {
    if (!disc_) {
        return -1;
    }
    int index = 0;
    for (const RipLogTocEntry& e : disc_->toc) {
        if (e.data) {
            continue;
        }
        if (e.number == number) {
            return index;
        }
        ++index;
    }
    return -1;
}

bool RipSession::IsFirstAudioTrack(int number) const {
    std::lock_guard lock(mutex_);
    return AudioIndexOf(number) == 0;
}

bool RipSession::IsLastAudioTrack(int number) const {
    std::lock_guard lock(mutex_);
    const int index = AudioIndexOf(number);
    return index >= 0 && index == ids_.trackCount - 1;
}

void RipSession::Judge(RipLogTrack& t) const {
    t.arConfidence = 0;
    t.arReason.clear();
    if (!options_.accurateRip) {
        t.ar = ArVerdict::Off;
    } else if (t.partial || !t.arV1 || !t.arV2) {
        t.ar = ArVerdict::Partial;
    } else if (lookup_ == LookupState::Pending) {
        t.ar = ArVerdict::Pending;
    } else if (lookup_ == LookupState::NotFound) {
        t.ar = ArVerdict::NotInDatabase;
    } else if (lookup_ != LookupState::Loaded) {
        t.ar = ArVerdict::NotVerified;
        t.arReason = lookupError_.empty() ? "no database answer" : lookupError_;
    } else {
        const ArMatch m = MatchArTrack(chunks_, AudioIndexOf(t.number), *t.arV1, *t.arV2);
        t.ar = m.confidence > 0 ? ArVerdict::Match : ArVerdict::Mismatch;
        t.arConfidence = m.confidence;
    }
}

void RipSession::TrackStarted(int number) {
    std::lock_guard lock(mutex_);
    ripping_ = number;
    if (!tracks_.empty()) {
        WriteLog(); // a log of earlier tracks no longer has the last word
    }
}

void RipSession::TrackStopped(int number) {
    std::lock_guard lock(mutex_);
    if (ripping_ == number) {
        ripping_ = 0;
        if (!tracks_.empty()) {
            WriteLog();
        }
    }
}

void RipSession::TrackDone(RipLogTrack track) {
    std::lock_guard lock(mutex_);
    if (ripping_ == track.number) {
        ripping_ = 0;
    }
    Judge(track);
    const auto same = [&](const RipLogTrack& t) { return t.number == track.number; };
    tracks_.erase(std::remove_if(tracks_.begin(), tracks_.end(), same), tracks_.end());
    tracks_.push_back(std::move(track));
    std::sort(tracks_.begin(), tracks_.end(),
              [](const RipLogTrack& a, const RipLogTrack& b) { return a.number < b.number; });
    WriteLog();
}

void RipSession::OnLookupDone(const AccurateRipLookup::Result& result) {
    std::lock_guard lock(mutex_);
    using Kind = AccurateRipLookup::Result::Kind;
    if (result.kind == Kind::NotFound) {
        lookup_ = LookupState::NotFound;
    } else if (result.kind == Kind::Failed) {
        lookup_ = LookupState::Failed;
        lookupError_ = "no answer from the database: " + result.error;
    } else {
        const auto parsed = ParseArDatabase(result.body);
        chunks_ = parsed ? ChunksForDisc(*parsed, ids_) : std::vector<ArChunk>{};
        if (chunks_.empty()) {
            lookup_ = LookupState::Failed;
            lookupError_ = "the database's answer could not be read";
        } else {
            lookup_ = LookupState::Loaded;
        }
    }
    for (RipLogTrack& t : tracks_) {
        Judge(t);
    }
    if (!tracks_.empty()) {
        WriteLog();
    }
    lookupEnded_.notify_all();
}

std::string RipSession::LogPath() const {
    std::lock_guard lock(mutex_);
    return LogPathLocked();
}

// Named by the disc, so rips of several discs into one folder keep their own logs.
std::string RipSession::LogPathLocked() const {
    char name[32];
    std::snprintf(name, sizeof name, "rip-%08X.log", disc_ ? disc_->cddbId : 0U);
    return options_.outputFolder + "/" + name;
}

std::vector<RipLogTrack> RipSession::Tracks() const {
    std::lock_guard lock(mutex_);
    return tracks_;
}

ArDiscIds RipSession::DiscIds() const {
    std::lock_guard lock(mutex_);
    return ids_;
}

bool RipSession::WaitForLookup(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return lookupEnded_.wait_for(lock, timeout, [this] { return lookup_ != LookupState::Pending; });
}

void RipSession::WriteLog() {
    if (!disc_) {
        return;
    }
    RipLogData data;
    data.program = std::string("Vellorine ") + VELLORINE_VERSION;
    data.drive = disc_->drive;
    data.testAndCopy = options_.testAndCopy;
    data.readOffset = options_.readOffset;
    data.toc = disc_->toc;
    data.leadOut = disc_->leadOut;
    data.cddbId = disc_->cddbId;
    if (options_.accurateRip) {
        data.accurateRipFile = ArDatabasePath(ids_);
    }
    data.tracks = tracks_;
    data.ripping = ripping_;
    const std::string path = LogPathLocked();
    if (!WriteTextAtomically(path, FormatRipLog(data))) {
        std::fprintf(stderr, "rip log: could not write %s\n", path.c_str());
    }
}

} // namespace cd
