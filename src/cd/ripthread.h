#pragma once
// TCDRipThread extracts one audio-CD track into the WAV file its owner names (16-bit
// stereo, 44 100 Hz, fixed 44-byte header), optionally runs the fixed-gain normalize
// pass over it, and reports to its NotifyWindow by posted messages:
//   WM_RIPERROR lParam 1   the drive could not be set up (nothing extracted)
//   WM_RIPERROR lParam 2   the table of contents is unreadable or lacks the track
//   WM_PROGRESS TProcessInfo with Code 0..100 and the time texts, 999 when the
//               normalize pass starts, 1000 with a RipStatus when the track is done.
// Each TProcessInfo is allocated here and owned (deleted) by the receiver.
//
// Secure mode: when the owner sets Session (one shared session per job), the track is
// read through libcdio-paranoia with the session's read offset, optionally twice (test
// and copy), checked (CRC32, peak, AccurateRip) and reported to the session, which
// keeps the rip log. The messages stay the same; a track whose frames could not all be
// read reliably ends with RipStatusUncorrectable. Without a session nothing changes.
// With the session's fast first, a whole track is first read once (offset applied, reads
// not verified) and kept when the databases verify its checksums; otherwise the secure
// passes rip it again into the same file. The progress runs from 0 to 100 for each.
//
// Threading: the owner creates the thread (suspended) on the GUI thread with its options
// (the WAV path, rip time, normalize), sets CDHandle, NotifyWindow and
// optionally Session, then Resume()s it. The worker never reads the settings record, which
// the Options window may change meanwhile. To stop early it sets StopFlag and deletes the thread;
// deleting waits for the worker to end. A stopped rip posts no completion event.
// Every call that can wait on the drive runs on a DriveWorker: once StopFlag is set, the
// rip thread waits at most StopGrace for such a call and otherwise leaves it behind, so
// deleting a stopped thread never waits for a drive stuck in a read.
#include "audio/Loudness.h"
#include "audio/MeterFeed.h"
#include "bytes/WavHeader.h"
#include "cd/DriveWorker.h"
#include "cd/ParanoiaReader.h"
#include "cd/RipOptions.h"
#include "cd/RipSession.h"
#include "cd/RipStatus.h"
#include "cd/TrackSums.h"
#include "cd/akrip32.h"
#include "platform/Messages.h"
#include "platform/Thread.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cd {

constexpr std::size_t WavHeaderSize = bytes::kPcmWavHeaderBytes;

// The rip thread's fixed PCM header for dataSize bytes of 16-bit stereo 44 100 Hz audio.
std::array<std::uint8_t, WavHeaderSize> WavHeaderBytes(std::uint32_t dataSize);
// Writes that header at the stream's current position; false on a short write.
bool WriteWavHeader(std::FILE* stream, std::uint32_t dataSize);

// A stdio file with a buffer of its own of FileBufferBytes (the rip and normalize loops
// move 2048 to 23 520 bytes a step; stdio's default is 4 KiB). The buffer goes with the
// pointer, after the file is closed.
constexpr std::size_t FileBufferBytes = std::size_t{1} << 16;
struct BufferedFileCloser {
    std::unique_ptr<char[]> buffer;
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using BufferedFilePtr = std::unique_ptr<std::FILE, BufferedFileCloser>;
BufferedFilePtr OpenBufferedFile(const std::string& path, const char* mode);

// round(sample * gain), halves to even, held within the 16-bit range.
std::int16_t ScaleSample(std::int16_t sample, float gain);

// A progress record: texts stay empty for code 0; otherwise elapsed time and the
// estimated total time round(elapsed * 100 / code), both as "MM:SS".
std::unique_ptr<settings::TProcessInfo> MakeProgressInfo(std::int32_t code,
                                                         long long elapsedSeconds);

// The session a secure rip needs, made from the settings record; null when secure mode
// is off.
std::shared_ptr<RipSession> SecureSessionFromSettings();

// Frames counted from track 1's INDEX 01, as reads count them (negative: before it).
struct FrameSpan {
    std::int64_t start = 0;
    std::int64_t length = 0;
};
// The frames a rip of that kind reads, from a TOC read with minute:second:frame addresses;
// nothing when the disc has no such span (no such track, no audio before track 1). A secure
// rip's last audio track ends before the gap to a data session, as the disc ids end it; the
// whole disc's audio always does.
std::optional<FrameSpan> SpanOf(const TTOC& toc, int trackNumber, TRipSpan kind, bool secure);

class TCDRipThread : public platform::TThread {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    static constexpr std::uint32_t FramesPerRead = 10;
    static constexpr std::uint32_t SingleReadFrames = 4 * FramesPerRead; // fast pass, a call
    static constexpr std::size_t NormalizeBlockBytes = 2048;
    // How long a stopped rip waits for a drive call before it leaves the call behind.
    static constexpr std::chrono::milliseconds StopGrace{100};

    // Created suspended; the owner sets CDHandle and NotifyWindow, then resumes it.
    TCDRipThread(int trackNumber, std::string title, TRipOptions options);
    ~TCDRipThread() override;

    const int TrackNumber; // 1-based
    const std::string Title;
    HCDROM CDHandle = 0;
    platform::HWND NotifyWindow = nullptr;
    std::atomic<bool> StopFlag{false};
    std::shared_ptr<RipSession> Session; // set before Resume for a secure rip
    // Set before Resume to measure the track's loudness from the PCM as it is written (after
    // the normalize pass when there is one); the owner reads it after the completion event.
    std::shared_ptr<audio::TLoudnessMeter> Loudness;
    // The errno of the open, write or close that ended the rip with RipStatusFileFailed
    // (0 when none did): the job window shows the system's reason beside its own text.
    std::atomic<int> FileError{0};

    // The wall clock used for the time texts; set before Resume (tests step it).
    void SetClock(Clock clock) { clock_ = std::move(clock); }

    // The disc as the rip log shows it, from the TOC read with MSF addresses.
    static RipDisc DescribeDisc(HCDROM handle, const TTOC& toc);

protected:
    void Execute() override;

private:
    using FilePtr = BufferedFilePtr;
    void NoteFileError() { FileError = errno; }
    void Measure(const std::uint8_t* pcm, std::size_t bytes);
    void RestartMeasure();
    enum class ReadResult { Ok, ReadFailed, WriteFailed, Stopped };
    enum class NormalizeResult { Done, Stopped, Failed };

    // Runs a drive call on the drive worker; false when the rip was stopped first. The
    // call must own what it touches (see DriveWorker). A stop asks `reader` to hurry.
    bool OnDrive(std::function<void()> call, const std::shared_ptr<ParanoiaReader>& reader = {});
    void ExtractTrack();
    void RipTrack(const std::string& path, std::int32_t start, std::uint32_t length);
    ReadResult ReadFrames(std::int32_t first, std::uint32_t count, std::FILE* out,
                          std::uint64_t& written);
    // The status that ends the rip, after closing (and normalizing) the file; nothing
    // when the rip was stopped.
    std::optional<std::int32_t> Complete(const std::string& path, FilePtr file,
                                         std::uint64_t audioBytes, ReadResult result);

    struct SecurePass {
        std::int32_t start = 0;
        std::uint32_t length = 0;
        std::FILE* out = nullptr; // null for the test pass
        std::uint64_t progressTotal = 0;
    };
    struct SpanOfTrack {
        std::int32_t start = 0;
        std::uint32_t length = 0;
        bool whole = false; // not cut by the rip-time limit
    };
    enum class FastOutcome { Reported, RipSecurely, Stopped };
    void SecureRipTrack(const std::string& path, std::int32_t start, std::uint32_t length,
                        bool wholeTrack);
    FastOutcome ReadOnceAndCheck(const std::shared_ptr<ParanoiaReader>& reader,
                                 const std::string& path, FilePtr& file, const SpanOfTrack& span,
                                 RipLogTrack& record);
    bool WaitForDatabases();
    void SecurePasses(const std::shared_ptr<ParanoiaReader>& reader, const std::string& path,
                      FilePtr file, const SpanOfTrack& span, RipLogTrack& record);
    void Report(const std::string& path, FilePtr file, std::uint64_t audioBytes, ReadResult result,
                ParanoiaReader::Counts counts, RipLogTrack& record);
    TrackSums SumsFor(const SpanOfTrack& span) const;
    static void NoteSums(const TrackSums& sums, RipLogTrack& record);
    std::shared_ptr<ParanoiaReader> OpenReader(std::string& error);
    ReadResult ReadSecurely(const std::shared_ptr<ParanoiaReader>& reader, const SecurePass& pass,
                            TrackSums& sums, std::uint64_t& progressDone, std::uint64_t& written);
    std::int32_t FinishFile(FilePtr file, std::uint64_t audioBytes);
    NormalizeResult Normalize(const std::string& path);
    bool ScaleFile(std::FILE* in, std::FILE* out, std::uint64_t fileSize, float gain);

    long long ElapsedSeconds() const;
    void PostProgress(std::int32_t code);
    void PostDone(std::int32_t status);
    void PostEvent(std::int32_t code, std::int32_t status);
    void PostRipError(std::intptr_t which);

    Clock clock_;
    std::chrono::system_clock::time_point startTime_{};
    const TRipOptions options_;
    // Shared with the drive worker: a read left behind may still fill it.
    std::shared_ptr<std::vector<std::uint8_t>> trackBuffer_;
    std::unique_ptr<DriveWorker> drive_;           // for the length of Execute
    std::unique_ptr<audio::TMeterFeed> meterFeed_; // measures Loudness beside the rip
};

} // namespace cd
