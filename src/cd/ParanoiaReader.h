#pragma once
// Secure reads through libcdio-paranoia: overlapping reads verified against each other,
// jitter corrected, damaged sectors re-read until they agree (or a retry limit is
// reached), and the drive's read offset applied to the sample. The reader counts, per
// span, the frames that needed re-reads or repairs and the frames that could not be
// corrected: after paranoia gives up on a sector, every frame it delivers from there on
// is compared with a fresh read until one agrees, and each that does not is counted.
//
// Disc images have no jitter and no drive cache that would answer a second read from
// the first, so there a block of sectors read twice with equal bytes is verified as it
// is; only a block whose two reads disagree or fail goes through paranoia, and each
// sector that differed counts as re-read. Physical drives go through paranoia throughout.
//
// A damaged sector can keep paranoia re-reading for ever (it cannot verify anything
// within its overlap of the sector). Each sector therefore has a budget: paranoia's
// passes over the disc beyond the two that any verification takes, and a time limit.
// When paranoia spends it, the sectors within its reach are read one at a time, twice
// each; those that fail or differ are damaged, and every sector up to the last damaged
// one is read by itself until two reads agree (within the same budget). A sector that
// never agrees is uncorrectable: it keeps the bytes of its last good read, or silence.
//
// Threads: a reader is used by one thread at a time (the drive worker of the rip thread);
// RequestStop may come from any thread. Paranoia's callback carries no user pointer, so
// the reader at work is found through a thread-local pointer set for the length of each
// Read. Every drive read goes through the reader's own hook, which is where a stop or a
// spent budget ends paranoia's loop (it gives up at once on a "no medium" error).
// Ownership: the reader opens and closes its own libcdio handle on the drive behind the
// akrip32 handle it was given; that handle must stay open while the reader lives.
#include "cd/akrip32.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct cdrom_drive_s;
struct cdrom_paranoia_s;

namespace cd {

class FaultySectors;

class ParanoiaReader {
public:
    struct Counts {
        std::uint32_t reread = 0;        // frames read again or repaired (incl. the next)
        std::uint32_t uncorrectable = 0; // frames whose data could not be verified
    };
    struct Budget {
        int retries = 20; // paranoia's passes beyond the first two; agreement reads beyond two
        std::chrono::milliseconds time = std::chrono::seconds(30);
    };
    static constexpr int SamplesPerFrame = 588;
    static constexpr std::int64_t VerifyBlockSectors = 32; // image drives: sectors per double read
    // How far beyond a sector damage can keep paranoia from verifying it: its largest
    // overlap (32 sectors) with a drive's batch of sectors and the jitter on top.
    static constexpr std::int64_t ProbeSectors = 96;

    // Null (and a reason in `error`) when the drive cannot be opened for paranoia.
    static std::unique_ptr<ParanoiaReader> Open(HCDROM handle, std::string& error);
    ~ParanoiaReader();
    ParanoiaReader(const ParanoiaReader&) = delete;
    ParanoiaReader& operator=(const ParanoiaReader&) = delete;

    // Starts a span of `frames` frames from `firstFrame` (counted from the first track's
    // start, as ReadCDAudioLBA counts), shifted by `offsetSamples`: output sample k is
    // disc sample first * 588 + k + offsetSamples. Samples outside the disc's audio
    // read as silence. A span from a negative frame reads the audio before the first track
    // (from the disc's first sector); other spans see silence there, as they always did.
    // Resets the counts.
    void Begin(std::int64_t firstFrame, std::uint32_t frames, int offsetSamples);
    // The next `count` frames of the span into `out` (count * 2352 bytes); false when
    // paranoia delivers nothing (the drive went away).
    bool Read(std::uint32_t count, std::uint8_t* out);
    Counts SpanCounts() const;
    void SetBudget(Budget budget) { budget_ = budget; }
    // A single read of each block of sectors, offset applied but nothing verified: a read
    // that fails ends the span (Read returns false). For a pass whose result is checked
    // against the databases afterwards; a later Begin keeps the mode until it is turned off.
    void SetSingleRead(bool on);
    bool SingleRead() const { return singleRead_; }
    // In single-read mode: the next `count` frames, read straight into a buffer of the
    // reader's and handed out from there, valid until the next call (no copy: a sector that
    // straddles two calls is kept from the first). Null when the read fails. Outside that
    // mode, or at the disc's edges, it reads as Read does.
    const std::uint8_t* ReadOnce(std::uint32_t count);
    // Makes a Read in progress (on another thread) return false soon, and every later
    // one at once; Stopped() then tells a stop from a failed read.
    void RequestStop() { stop_ = true; }
    bool Stopped() const { return stop_; }

private:
    ParanoiaReader() = default;
    const std::uint8_t* FetchSector(std::int64_t lsn); // null when the read failed
    bool StartParanoia();
    bool ReadVerified(std::int64_t lsn);
    bool ReadThroughParanoia(std::int64_t lsn);
    void Probe(std::int64_t lsn);
    bool ReadByAgreement(std::int64_t lsn);
    bool ReadOne(std::int64_t lsn, std::uint8_t* out);
    void FlushDriveCache(std::int64_t lsn);
    bool WithinBudget(std::int64_t lsn, long sectors, bool hasBuffer);
    const std::uint8_t* SectorOfBlock(std::int64_t lsn);
    bool LoadBlock(std::int64_t lsn);
    bool ReadRaw(std::int64_t lsn, std::int64_t count, std::uint8_t* out);
    void NoteDisagreement(std::int64_t lsn, std::int64_t count);
    void CheckAfterSkip(std::int64_t lsn);
    bool InSpan(std::int64_t lsn) const { return lsn >= spanFirst_ && lsn <= spanLast_; }

    static void Callback(long position, int mode);
    static long HookedRead(cdrom_drive_s* drive, void* buffer, std::int32_t lsn, long sectors);

    CdioPtr cdio_;
    cdrom_drive_s* drive_ = nullptr;
    cdrom_paranoia_s* paranoia_ = nullptr;
    long (*driveRead_)(cdrom_drive_s*, void*, std::int32_t, long) = nullptr;
    std::shared_ptr<FaultySectors> faults_;

    std::int64_t discBase_ = 0;   // LSN of the first track
    std::int64_t audioEnd_ = 0;   // LSN of the lead-out
    std::int64_t audioStart_ = 0; // the span's first readable LSN (0 or discBase_)
    std::int64_t nextSample_ = 0;
    std::int64_t bufferedSector_ = -1;
    std::int64_t paranoiaNext_ = -1;
    bool bufferValid_ = false;
    std::array<std::uint8_t, CDFrameBytes> sector_{};
    std::array<std::uint8_t, CDFrameBytes> check_{};

    Budget budget_;
    std::atomic<bool> stop_{false};
    // The budget of the sector paranoia is working on (only while it does).
    bool budgetActive_ = false;
    bool budgetSpent_ = false;
    int passes_ = 0;
    std::int64_t lastReadEnd_ = -1;
    std::chrono::steady_clock::time_point deadline_{};
    // Sectors read by agreement instead of paranoia: up to the last damage found.
    std::int64_t agreeFrom_ = 0;
    std::int64_t agreeUntil_ = 0;

    bool twoReads_ = false; // image drive: blocks verified by two equal reads
    bool singleRead_ = false;
    std::vector<std::uint8_t> block_;
    std::vector<std::uint8_t> second_;
    std::int64_t blockFirst_ = 0;
    std::int64_t blockCount_ = 0;    // verified sectors held in block_
    std::vector<std::uint8_t> once_; // ReadOnce's sectors
    std::int64_t onceLast_ = -1;     // the last sector in once_, -1 when none counts
    std::int64_t onceCount_ = 0;

    std::int64_t spanFirst_ = 0;
    std::int64_t spanLast_ = -1;
    std::set<std::int64_t> reread_;
    std::set<std::int64_t> uncorrectable_;
    std::set<std::int64_t> pendingSkips_;
};

} // namespace cd
