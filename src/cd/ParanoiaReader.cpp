#include "cd/ParanoiaReader.h"

#include "cd/FaultySectors.h"

#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cd {

namespace {

thread_local ParanoiaReader* current = nullptr;

class CurrentReader {
public:
    explicit CurrentReader(ParanoiaReader* reader) : previous_(current) { current = reader; }
    ~CurrentReader() { current = previous_; }
    CurrentReader(const CurrentReader&) = delete;
    CurrentReader& operator=(const CurrentReader&) = delete;

private:
    ParanoiaReader* previous_;
};

constexpr std::int64_t BytesPerSample = 4;
// Paranoia reads this many sectors a pass to get past a drive's cache; one read that far
// away makes the drive read the sector again rather than answer from its cache.
constexpr std::int64_t DriveCacheSectors = 1200;
constexpr int ImagePassSectors = 150;
using Clock = std::chrono::steady_clock;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Events after which paranoia had to read a sector again or put its data right.
bool MeansReread(int mode) {
    switch (mode) {
    case PARANOIA_CB_FIXUP_EDGE:
    case PARANOIA_CB_FIXUP_ATOM:
    case PARANOIA_CB_SCRATCH:
    case PARANOIA_CB_REPAIR:
    case PARANOIA_CB_SKIP:
    case PARANOIA_CB_DRIFT:
    case PARANOIA_CB_FIXUP_DROPPED:
    case PARANOIA_CB_FIXUP_DUPED:
    case PARANOIA_CB_READERR:
        return true;
    default:
        return false;
    }
}

} // namespace

std::unique_ptr<ParanoiaReader> ParanoiaReader::Open(HCDROM handle, std::string& error) {
    std::unique_ptr<ParanoiaReader> reader(new ParanoiaReader());
    TDriveSpec spec;
    if (!DriveOfHandle(handle, spec)) {
        error = "the drive handle is not open";
        return nullptr;
    }
    reader->cdio_ = OpenCdioOfHandle(handle);
    if (!reader->cdio_) {
        error = "the drive could not be opened";
        return nullptr;
    }
    CdIo_t* cdio = reader->cdio_.get();
    const track_t first = cdio_get_first_track_num(cdio);
    const lsn_t base =
        first == CDIO_INVALID_TRACK ? CDIO_INVALID_LSN : cdio_get_track_lsn(cdio, first);
    const lsn_t leadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (base == CDIO_INVALID_LSN || leadOut == CDIO_INVALID_LSN) {
        error = "the table of contents is unreadable";
        return nullptr;
    }
    reader->discBase_ = base;
    reader->audioEnd_ = leadOut;
    reader->drive_ = cdio_cddap_identify_cdio(cdio, CDDA_MESSAGE_FORGETIT, nullptr);
    if (reader->drive_ == nullptr || cdio_cddap_open(reader->drive_) != 0) {
        error = "the drive does not read audio through paranoia";
        return nullptr;
    }
    reader->driveRead_ = reader->drive_->read_audio;
    reader->drive_->read_audio = HookedRead;
    if (spec.isImage) {
        reader->twoReads_ = true;
        reader->block_.resize(VerifyBlockSectors * CDFrameBytes);
        reader->second_.resize(VerifyBlockSectors * CDFrameBytes);
        reader->faults_ = FaultySectors::FromEnvironment();
    }
    // An image drive sets paranoia up only for a block whose two reads disagree.
    if (!spec.isImage && !reader->StartParanoia()) {
        error = "paranoia could not be set up";
        return nullptr;
    }
    return reader;
}

ParanoiaReader::~ParanoiaReader() {
    if (paranoia_ != nullptr) {
        cdio_paranoia_free(paranoia_);
    }
    if (drive_ != nullptr) {
        cdio_cddap_close_no_free_cdio(drive_);
    }
    CloseCdio(cdio_);
}

void ParanoiaReader::Begin(std::int64_t firstFrame, std::uint32_t frames, int offsetSamples) {
    audioStart_ = firstFrame < 0 ? 0 : discBase_;
    nextSample_ = (discBase_ + firstFrame) * SamplesPerFrame + offsetSamples;
    const std::int64_t lastSample = nextSample_ + std::int64_t{frames} * SamplesPerFrame - 1;
    spanFirst_ = FloorDiv(nextSample_, SamplesPerFrame);
    spanLast_ = FloorDiv(lastSample, SamplesPerFrame);
    bufferValid_ = false; // every span reads the disc afresh (test and copy relies on it)
    blockCount_ = 0;
    reread_.clear();
    uncorrectable_.clear();
    pendingSkips_.clear();
    agreeFrom_ = agreeUntil_ = 0;
    paranoiaNext_ = -1;
    onceLast_ = -1;
}

void ParanoiaReader::SetSingleRead(bool on) {
    singleRead_ = on;
    block_.resize(VerifyBlockSectors * CDFrameBytes);
    blockCount_ = 0; // nothing read in one mode is taken as read in the other
}

ParanoiaReader::Counts ParanoiaReader::SpanCounts() const {
    Counts counts;
    std::set<std::int64_t> all = reread_;
    all.insert(uncorrectable_.begin(), uncorrectable_.end());
    counts.reread = static_cast<std::uint32_t>(all.size());
    counts.uncorrectable = static_cast<std::uint32_t>(uncorrectable_.size());
    return counts;
}

bool ParanoiaReader::Read(std::uint32_t count, std::uint8_t* out) {
    CurrentReader scope(this);
    std::int64_t samples = std::int64_t{count} * SamplesPerFrame;
    while (samples > 0) {
        const std::int64_t lsn = FloorDiv(nextSample_, SamplesPerFrame);
        const std::uint8_t* sector = FetchSector(lsn);
        if (sector == nullptr) {
            return false;
        }
        const std::int64_t within = nextSample_ - lsn * SamplesPerFrame;
        const std::int64_t n = std::min(samples, SamplesPerFrame - within);
        std::memcpy(out, sector + within * BytesPerSample,
                    static_cast<std::size_t>(n * BytesPerSample));
        out += n * BytesPerSample;
        nextSample_ += n;
        samples -= n;
    }
    return true;
}

const std::uint8_t* ParanoiaReader::ReadOnce(std::uint32_t count) {
    const std::int64_t lsn = FloorDiv(nextSample_, SamplesPerFrame);
    const std::int64_t within = nextSample_ - lsn * SamplesPerFrame;
    const std::int64_t sectors = std::int64_t{count} + (within != 0 ? 1 : 0);
    const auto bytes = static_cast<std::size_t>(sectors) * CDFrameBytes;
    if (once_.size() < bytes) {
        once_.resize(bytes);
    }
    if (!singleRead_ || lsn < discBase_ || lsn + sectors > audioEnd_) {
        onceLast_ = -1;
        return Read(count, once_.data()) ? once_.data() : nullptr;
    }
    CurrentReader scope(this);
    std::int64_t kept = 0;
    if (within != 0 && onceLast_ == lsn) {
        std::memmove(once_.data(),
                     once_.data() + static_cast<std::size_t>(onceCount_ - 1) * CDFrameBytes,
                     CDFrameBytes);
        kept = 1;
    }
    onceLast_ = -1;
    if (stop_ || !ReadRaw(lsn + kept, sectors - kept,
                          once_.data() + static_cast<std::size_t>(kept) * CDFrameBytes)) {
        return nullptr;
    }
    onceLast_ = lsn + sectors - 1;
    onceCount_ = sectors;
    nextSample_ += std::int64_t{count} * SamplesPerFrame;
    return once_.data() + within * BytesPerSample;
}

const std::uint8_t* ParanoiaReader::FetchSector(std::int64_t lsn) {
    static const std::array<std::uint8_t, CDFrameBytes> silence{};
    if (lsn < audioStart_ || lsn >= audioEnd_) {
        return silence.data(); // before the span's audio or past the lead-out
    }
    if (twoReads_ || singleRead_) {
        return SectorOfBlock(lsn);
    }
    if (!bufferValid_ || bufferedSector_ != lsn) {
        bufferValid_ = ReadVerified(lsn);
        bufferedSector_ = lsn;
    }
    return bufferValid_ ? sector_.data() : nullptr;
}

bool ParanoiaReader::StartParanoia() {
    if (paranoia_ == nullptr) {
        paranoia_ = cdio_paranoia_init(drive_);
        if (paranoia_ != nullptr) {
            cdio_paranoia_modeset(paranoia_, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
            if (twoReads_) {
                // An image has no drive cache for long passes to get past, and a pass
                // over a damaged block need not read far beyond paranoia's overlap.
                cdio_paranoia_cachemodel_size(paranoia_, ImagePassSectors);
            }
        }
    }
    return paranoia_ != nullptr;
}

// False only when the drive went away or the reader was stopped.
bool ParanoiaReader::ReadVerified(std::int64_t lsn) {
    if (stop_) {
        return false;
    }
    if (lsn >= agreeFrom_ && lsn < agreeUntil_) {
        return ReadByAgreement(lsn);
    }
    if (!StartParanoia()) {
        return false;
    }
    if (ReadThroughParanoia(lsn)) {
        return true;
    }
    if (stop_ || !budgetSpent_) {
        return false;
    }
    if (InSpan(lsn)) {
        reread_.insert(lsn);
    }
    Probe(lsn);
    return ReadByAgreement(lsn);
}

bool ParanoiaReader::ReadThroughParanoia(std::int64_t lsn) {
    if (paranoiaNext_ != lsn) {
        // A seek also keeps paranoia's reads from starting before `lsn`, so damage the
        // reader has already passed never blocks it again.
        cdio_paranoia_seek(paranoia_, static_cast<std::int32_t>(lsn), SEEK_SET);
        paranoiaNext_ = lsn;
    }
    budgetActive_ = true;
    budgetSpent_ = false;
    passes_ = 0;
    lastReadEnd_ = -1;
    deadline_ = Clock::now() + budget_.time;
    const std::int16_t* data = cdio_paranoia_read_limited(
        paranoia_, [](long p, paranoia_cb_mode_t m) { Callback(p, m); }, budget_.retries);
    budgetActive_ = false;
    if (data == nullptr) {
        paranoiaNext_ = -1;
        return false;
    }
    ++paranoiaNext_;
    std::memcpy(sector_.data(), data, CDFrameBytes);
    CheckAfterSkip(lsn);
    return true;
}

// Paranoia gave up at `lsn`: each sector within its reach is read by itself twice, and
// every sector up to the last one that failed or differed is read by agreement.
void ParanoiaReader::Probe(std::int64_t lsn) {
    const auto deadline = Clock::now() + budget_.time;
    const std::int64_t end = std::min(lsn + ProbeSectors, audioEnd_);
    std::int64_t lastDamaged = lsn;
    for (std::int64_t s = lsn; s < end && !stop_ && Clock::now() < deadline; ++s) {
        const bool first = ReadOne(s, sector_.data());
        const bool second = first && ReadOne(s, check_.data());
        if (!first || !second || std::memcmp(sector_.data(), check_.data(), CDFrameBytes) != 0) {
            lastDamaged = s;
        }
    }
    agreeFrom_ = lsn;
    agreeUntil_ = lastDamaged + 1;
}

// Reads the sector by itself until two reads agree, within the budget. A sector that
// never agrees is uncorrectable and keeps its last good read (silence when none was).
// False only when stopped.
bool ParanoiaReader::ReadByAgreement(std::int64_t lsn) {
    const auto deadline = Clock::now() + budget_.time;
    const int maxReads = budget_.retries + 2;
    bool haveGood = false;
    for (int reads = 0; reads < maxReads && Clock::now() < deadline; ++reads) {
        if (reads > 0 && !twoReads_) {
            FlushDriveCache(lsn);
        }
        if (stop_) {
            return false;
        }
        if (!ReadOne(lsn, sector_.data())) {
            continue;
        }
        if (haveGood && std::memcmp(sector_.data(), check_.data(), CDFrameBytes) == 0) {
            if (reads > 1 && InSpan(lsn)) {
                reread_.insert(lsn); // it took more than the two reads of a clean sector
            }
            return true;
        }
        check_ = sector_;
        haveGood = true;
    }
    if (stop_) {
        return false;
    }
    if (haveGood) {
        sector_ = check_;
    } else {
        sector_.fill(0);
    }
    if (InSpan(lsn)) {
        reread_.insert(lsn);
        uncorrectable_.insert(lsn);
    }
    return true;
}

bool ParanoiaReader::ReadOne(std::int64_t lsn, std::uint8_t* out) {
    return (drive_->read_audio)(drive_, out, static_cast<std::int32_t>(lsn), 1) == 1;
}

void ParanoiaReader::FlushDriveCache(std::int64_t lsn) {
    const std::int64_t far =
        lsn + DriveCacheSectors < audioEnd_ ? lsn + DriveCacheSectors : lsn - DriveCacheSectors;
    if (far >= discBase_) {
        // No buffer, as paranoia's own flush: the drive reads, nothing is copied.
        (drive_->read_audio)(drive_, nullptr, static_cast<std::int32_t>(far), 1);
    }
}

const std::uint8_t* ParanoiaReader::SectorOfBlock(std::int64_t lsn) {
    if ((lsn < blockFirst_ || lsn >= blockFirst_ + blockCount_) && !LoadBlock(lsn)) {
        return nullptr;
    }
    return block_.data() + static_cast<std::size_t>(lsn - blockFirst_) * CDFrameBytes;
}

// Reads the block from `lsn` twice; equal bytes are taken as they are, anything else is
// settled sector by sector through paranoia.
bool ParanoiaReader::LoadBlock(std::int64_t lsn) {
    const std::int64_t count = std::min(VerifyBlockSectors, audioEnd_ - lsn);
    const auto bytes = static_cast<std::size_t>(count) * CDFrameBytes;
    blockCount_ = 0;
    blockFirst_ = lsn;
    if (singleRead_) {
        // Damage just past the span must not fail a read of the span.
        const std::int64_t within = InSpan(lsn) ? std::min(count, spanLast_ + 1 - lsn) : count;
        if (stop_ || !ReadRaw(lsn, within, block_.data())) {
            return false;
        }
        blockCount_ = within;
        return true;
    }
    const bool first = ReadRaw(lsn, count, block_.data());
    const bool second = ReadRaw(lsn, count, second_.data());
    if (first && second && std::memcmp(block_.data(), second_.data(), bytes) == 0) {
        blockCount_ = count;
        return true;
    }
    if (first && second) {
        NoteDisagreement(lsn, count);
    }
    for (std::int64_t i = 0; i < count; ++i) {
        if (!ReadVerified(lsn + i)) {
            return false;
        }
        std::memcpy(block_.data() + static_cast<std::size_t>(i) * CDFrameBytes, sector_.data(),
                    CDFrameBytes);
    }
    // What follows the block is verified by its own two reads.
    pendingSkips_.clear();
    blockCount_ = count;
    return true;
}

// The drive read hands over at most its own batch size a call.
bool ParanoiaReader::ReadRaw(std::int64_t lsn, std::int64_t count, std::uint8_t* out) {
    while (count > 0) {
        const long got = (drive_->read_audio)(drive_, out, static_cast<std::int32_t>(lsn), count);
        if (got <= 0 || got > count) {
            return false;
        }
        lsn += got;
        count -= got;
        out += static_cast<std::size_t>(got) * CDFrameBytes;
    }
    return true;
}

void ParanoiaReader::NoteDisagreement(std::int64_t lsn, std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i) * CDFrameBytes;
        if (std::memcmp(block_.data() + at, second_.data() + at, CDFrameBytes) != 0 &&
            InSpan(lsn + i)) {
            reread_.insert(lsn + i);
        }
    }
}

// Once paranoia has skipped a sector it could not verify, the frames it delivers from
// there on may hold anything it had; each is compared with a fresh read until one agrees.
void ParanoiaReader::CheckAfterSkip(std::int64_t lsn) {
    if (pendingSkips_.empty() || *pendingSkips_.begin() > lsn) {
        return;
    }
    const long got =
        driveRead_ == nullptr
            ? -1
            : (drive_->read_audio)(drive_, check_.data(), static_cast<std::int32_t>(lsn), 1);
    if (got == 1 && std::memcmp(check_.data(), sector_.data(), CDFrameBytes) == 0) {
        pendingSkips_.erase(pendingSkips_.begin(), pendingSkips_.upper_bound(lsn));
        return;
    }
    if (InSpan(lsn)) {
        uncorrectable_.insert(lsn);
    }
}

void ParanoiaReader::Callback(long position, int mode) {
    ParanoiaReader* reader = current;
    if (reader == nullptr || !MeansReread(mode)) {
        return;
    }
    const std::int64_t lsn = FloorDiv(position, CD_FRAMEWORDS);
    if (mode == PARANOIA_CB_SKIP) {
        reader->pendingSkips_.insert(lsn);
    }
    if (reader->InSpan(lsn)) {
        reader->reread_.insert(lsn);
    }
}

// Paranoia gives up a read at once, whatever its retries, when a read fails for want of a
// medium; a stop or a spent budget says exactly that. Any other failure must not leave
// that error number behind by chance.
long ParanoiaReader::HookedRead(cdrom_drive_s* drive, void* buffer, std::int32_t lsn,
                                long sectors) {
    ParanoiaReader* reader = current;
    if (reader == nullptr) {
        errno = EIO;
        return -1;
    }
    if (reader->stop_ ||
        (reader->budgetActive_ && !reader->WithinBudget(lsn, sectors, buffer != nullptr))) {
        errno = ENOMEDIUM;
        return -1;
    }
    errno = 0;
    long got = reader->driveRead_(drive, buffer, lsn, sectors);
    // A null buffer is paranoia's cache flush: nothing to damage, but a failing sector
    // fails it as well.
    if (got > 0 && reader->faults_ &&
        !reader->faults_->Apply(lsn, got, static_cast<std::uint8_t*>(buffer))) {
        got = -1;
        errno = 0;
    }
    if (got < 0 && errno == 0) {
        errno = EIO;
    }
    return got;
}

// A pass is a run of contiguous reads; a verified sector takes two, damage takes more.
bool ParanoiaReader::WithinBudget(std::int64_t lsn, long sectors, bool hasBuffer) {
    if (hasBuffer) {
        if (lsn != lastReadEnd_) {
            ++passes_;
        }
        lastReadEnd_ = lsn + sectors;
    }
    if (passes_ > budget_.retries + 2 || Clock::now() >= deadline_) {
        budgetSpent_ = true;
    }
    return !budgetSpent_;
}

} // namespace cd
