#include "cd/RipSession.h"

#include "cd/DiscToc.h"
#include "cd/RipStatus.h"

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

bool Failed(const RipLogTrack& t) {
    return t.status == RipStatusReadFailed || t.status == RipStatusFileFailed;
}

} // namespace

RipSession::RipSession(RipSessionOptions options) : options_(std::move(options)) {}

RipSession::~RipSession() {
    std::unique_ptr<DatabaseLookup> worker;
    std::unique_ptr<CtdbLookup> ctdbWorker;
    {
        std::lock_guard lock(mutex_);
        worker = std::move(lookupWorker_);
        ctdbWorker = std::move(ctdbWorker_);
    }
    worker.reset(); // joins; its answer may still take the lock meanwhile
    ctdbWorker.reset();
    // The job ended first: the log says so rather than waiting for ever.
    std::lock_guard lock(mutex_);
    const std::string ended = "the job ended before the database answered";
    bool changed = false;
    if (lookup_ == LookupState::Pending) {
        lookup_ = LookupState::Failed;
        lookupError_ = ended;
        for (RipLogTrack& t : tracks_) {
            Judge(t);
        }
        changed = true;
    }
    if (ctdbLookup_ == LookupState::Pending) {
        ctdbLookup_ = LookupState::Failed;
        ctdbError_ = ended;
        changed = true;
    }
    if (changed && !tracks_.empty()) {
        WriteLog();
    }
}

void RipSession::SetDisc(const RipDisc& disc) {
    std::unique_ptr<DatabaseLookup> previous;
    std::unique_ptr<CtdbLookup> previousCtdb;
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
        ctdbEntries_.clear();
        ctdbError_.clear();
        previousCtdb = std::move(ctdbWorker_);
        ctdbLookup_ = LookupState::Off;
    }
    previous.reset();
    previousCtdb.reset();
    if (ids_.trackCount == 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (options_.ctdb) {
        ctdbLookup_ = LookupState::Pending;
        ctdbWorker_ = std::make_unique<CtdbLookup>(
            options_.ctdbServer, disc.toc, disc.leadOut,
            [this](const CtdbLookup::Result& r) { OnCtdbDone(r); },
            LookupOptions{options_.lookupTimeout, options_.proxy});
    }
    if (!options_.accurateRip) {
        return;
    }
    lookup_ = LookupState::Pending;
    lookupWorker_ = std::make_unique<DatabaseLookup>(
        ArDatabaseUrl(options_.accurateRipServer, ids_),
        [this](const DatabaseLookup::Result& r) { OnLookupDone(r); },
        LookupOptions{options_.lookupTimeout, options_.proxy});
}

int RipSession::AudioIndexOf(int number) const {
    return disc_ ? AudioIndexIn(*disc_, number) : -1;
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

std::vector<int> RipSession::AudioTrackNumbers() const {
    std::vector<int> numbers;
    if (disc_) {
        for (const RipLogTocEntry& e : disc_->toc) {
            if (!e.data) {
                numbers.push_back(e.number);
            }
        }
    }
    return numbers;
}

std::uint64_t RipSession::AudioStartOf(int number) const {
    const std::uint32_t first = FirstAudioLsnOf(*disc_);
    for (const RipLogTocEntry& e : disc_->toc) {
        if (!e.data && e.number == number) {
            return std::uint64_t{e.start - std::min(e.start, first)} * CdFrameSamples;
        }
    }
    return 0;
}

CtdbRange RipSession::CtdbRangeOf(int number, std::uint64_t trackSamples) const {
    std::lock_guard lock(mutex_);
    return disc_ ? CtdbRangeIn(*disc_, number, trackSamples) : CtdbRange{};
}

RipLogCtdb RipSession::JudgeDisc() const {
    RipLogCtdb c;
    if (!options_.ctdb) {
        return c;
    }
    std::vector<CtdbPart> parts;
    for (const int number : AudioTrackNumbers()) {
        const auto t = std::find_if(tracks_.begin(), tracks_.end(),
                                    [&](const RipLogTrack& r) { return r.number == number; });
        if (t == tracks_.end() || t->partial || !t->ctdb || Failed(*t)) {
            break;
        }
        parts.push_back(*t->ctdb);
    }
    const bool complete = !parts.empty() && parts.size() == AudioTrackNumbers().size();
    if (complete) {
        c.crc = CtdbCrc::DiscCrc(parts);
    }
    if (ctdbLookup_ == LookupState::Pending) {
        c.verdict = CtdbVerdict::Pending;
    } else if (ctdbLookup_ == LookupState::NotFound) {
        c.verdict = CtdbVerdict::NotInDatabase;
    } else if (ctdbLookup_ != LookupState::Loaded) {
        c.verdict = CtdbVerdict::NotVerified;
        c.reason = ctdbError_.empty() ? "no database answer" : ctdbError_;
    } else if (!complete) {
        c.verdict = CtdbVerdict::Incomplete;
    } else {
        const CtdbMatch m = CtdbLookup::Match(ctdbEntries_, *c.crc);
        c.verdict = m.confidence > 0 ? CtdbVerdict::Match : CtdbVerdict::Mismatch;
        c.confidence = m.confidence;
        c.total = m.total;
    }
    return c;
}

RipLogCtdb RipSession::Ctdb() const {
    std::lock_guard lock(mutex_);
    return JudgeDisc();
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

// Entries that list a checksum for every audio track and hold this track's share.
int RipSession::CtdbTrackConfidence(const RipLogTrack& t) const {
    const int index = AudioIndexOf(t.number);
    if (ctdbLookup_ != LookupState::Loaded || !t.ctdb || t.partial || index < 0) {
        return 0;
    }
    int confidence = 0;
    for (const CtdbEntry& e : ctdbEntries_) {
        if (static_cast<int>(e.trackCrcs.size()) == ids_.trackCount &&
            e.trackCrcs[static_cast<std::size_t>(index)] == t.ctdb->crc) {
            confidence += e.confidence;
        }
    }
    return confidence;
}

std::string RipSession::CtdbTrackText(int confidence) const {
    switch (ctdbLookup_) {
    case LookupState::Loaded:
        return confidence > 0 ? "verified by CTDB (confidence " + std::to_string(confidence) + ")"
                              : "CTDB: no entry holds the track";
    case LookupState::NotFound:
        return "CTDB: not in database";
    case LookupState::Pending:
        return "CTDB: no answer yet";
    default:
        return "CTDB: not verified (" + (ctdbError_.empty() ? "no database answer" : ctdbError_) +
               ")";
    }
}

FastPassCheck RipSession::CheckFastPass(const RipLogTrack& track) const {
    std::lock_guard lock(mutex_);
    FastPassCheck check;
    std::string said;
    if (options_.accurateRip) {
        RipLogTrack judged = track;
        Judge(judged);
        if (judged.ar == ArVerdict::Match) {
            check.verified = true;
            check.text =
                "verified by AccurateRip (confidence " + std::to_string(judged.arConfidence) + ")";
            return check;
        }
        said = "AccurateRip: " + ArVerdictText(judged);
    }
    if (options_.ctdb) {
        const int confidence = CtdbTrackConfidence(track);
        check.verified = confidence > 0;
        const std::string text = CtdbTrackText(confidence);
        check.text = check.verified ? text : said + (said.empty() ? "" : "; ") + text;
        return check;
    }
    check.text = said;
    return check;
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

void RipSession::OnLookupDone(const DatabaseLookup::Result& result) {
    std::lock_guard lock(mutex_);
    using Kind = DatabaseLookup::Result::Kind;
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

void RipSession::OnCtdbDone(const CtdbLookup::Result& result) {
    std::lock_guard lock(mutex_);
    using Kind = CtdbLookup::Result::Kind;
    if (result.kind == Kind::NotFound) {
        ctdbLookup_ = LookupState::NotFound;
    } else if (result.kind == Kind::Failed) {
        ctdbLookup_ = LookupState::Failed;
        ctdbError_ = result.error;
    } else {
        ctdbLookup_ = LookupState::Loaded;
        ctdbEntries_ = result.entries;
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
    return lookupEnded_.wait_for(lock, timeout, [this] {
        return lookup_ != LookupState::Pending && ctdbLookup_ != LookupState::Pending;
    });
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
    data.ctdb = JudgeDisc();
    data.ripping = ripping_;
    data.fastFirst = FastFirst();
    const std::string path = LogPathLocked();
    if (!WriteTextAtomically(path, FormatRipLog(data))) {
        std::fprintf(stderr, "rip log: could not write %s\n", path.c_str());
    }
}

} // namespace cd
