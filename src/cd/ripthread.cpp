#include "cd/ripthread.h"

#include "cd/DiscToc.h"

#include "bytes/LittleEndian.h"
#include "bytes/WavHeader.h"
#include "settings/ProcessInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace cd {

namespace {

constexpr std::uint32_t FramesPerSecond = 75;
constexpr std::uint8_t DataTrackBit = 0x04;
constexpr std::int64_t LeadInFrames = 150;

long long RoundHalfEven(double v) {
    return static_cast<long long>(std::nearbyint(v));
}

std::int64_t FrameOf(const TTOCEntry& e) {
    return e.addr[1] * 4500LL + e.addr[2] * 75LL + e.addr[3];
}

// Frames of the audio of track `index`, whose TOC length is `tocFrames`. On an enhanced
// CD the data session follows the last audio track, and the TOC puts its start 11 400
// frames (the lead-out and lead-in between the sessions) after the end of the audio;
// the disc ids end the audio there too. An image without that gap keeps its length.
std::int64_t SecureAudioFrames(const TTOC& toc, std::size_t index, std::int64_t tocFrames) {
    const bool nextIsLastAndData = static_cast<int>(index) + 2 == toc.lastTrack &&
                                   (toc.tracks[index].adr & DataTrackBit) == 0 &&
                                   (toc.tracks[index + 1].adr & DataTrackBit) != 0;
    const std::int64_t cut = tocFrames - std::int64_t{ArDataTrackGap};
    return nextIsLastAndData && cut > 0 ? cut : tocFrames;
}

bool IsAudio(const TTOC& toc, std::size_t index) {
    return (toc.tracks[index].adr & DataTrackBit) == 0;
}

// The log's words for a span that is not a track, with its frames counted as the rip counts
// them (from track 1's INDEX 01).
std::string SpanNote(TRipSpan kind, std::int32_t start, std::uint32_t length) {
    const std::string frames = "frames " + std::to_string(start) + " to " +
                               std::to_string(std::int64_t{start} + length - 1) +
                               " from track 1's start";
    return (kind == TRipSpan::WholeDisc ? "the whole disc in one file, "
                                        : "the audio before track 1, ") +
           frames + "; the databases hold sums of whole tracks, so this file was not verified";
}

} // namespace

std::optional<FrameSpan> SpanOf(const TTOC& toc, int trackNumber, TRipSpan kind, bool secure) {
    // Entries beyond the TOC's tracks hold nothing; track 1's entry is the base of all frames.
    if (toc.firstTrack < 1 || toc.lastTrack < toc.firstTrack || toc.lastTrack > 99) {
        return std::nullopt;
    }
    const std::int64_t base = FrameOf(toc.tracks[0]);
    const auto startOf = [&](std::size_t i) { return FrameOf(toc.tracks[i]) - base; };
    const auto framesOf = [&](std::size_t i) { return startOf(i + 1) - startOf(i); };
    const std::int64_t hidden = base - LeadInFrames; // sectors before track 1's INDEX 01
    switch (kind) {
    case TRipSpan::Track: {
        if (trackNumber < toc.firstTrack || trackNumber > toc.lastTrack) {
            return std::nullopt;
        }
        const auto index = static_cast<std::size_t>(trackNumber - 1);
        const std::int64_t frames = framesOf(index);
        return FrameSpan{startOf(index), secure ? SecureAudioFrames(toc, index, frames) : frames};
    }
    case TRipSpan::HiddenTrack:
        if (toc.firstTrack != 1 || hidden <= 0 || !IsAudio(toc, 0)) {
            return std::nullopt;
        }
        return FrameSpan{-hidden, hidden};
    case TRipSpan::WholeDisc: {
        const auto first = static_cast<std::size_t>(toc.firstTrack - 1);
        const auto last = static_cast<std::size_t>(toc.lastTrack - 1);
        std::optional<std::size_t> a;
        std::optional<std::size_t> b;
        for (std::size_t i = first; i <= last; ++i) {
            if (IsAudio(toc, i)) {
                a = a.value_or(i);
                b = i;
            }
        }
        if (!a) {
            return std::nullopt;
        }
        const std::int64_t start = *a == 0 ? -std::max<std::int64_t>(hidden, 0) : startOf(*a);
        const std::int64_t end = startOf(*b) + SecureAudioFrames(toc, *b, framesOf(*b));
        return FrameSpan{start, end - start};
    }
    }
    return std::nullopt;
}

namespace {

inline std::int16_t Scaled(std::int16_t sample, float gain) {
    // The product of a 16-bit integer and a float is exact in double, so the rounding
    // sees the true halfway cases. Adding and taking away 1.5 * 2^52 leaves the value
    // rounded to an integer, halves to even, without a call into the maths library.
    constexpr double RoundingShift = 6755399441055744.0;
    const double product = static_cast<double>(sample) * static_cast<double>(gain);
    const double clamped = std::clamp(product, -32768.0, 32767.0);
    const double rounded = (clamped + RoundingShift) - RoundingShift;
    return static_cast<std::int16_t>(rounded);
}

// Scales the 16-bit little-endian samples of a block in place; an odd last byte
// (never produced by the rip) is left as it is.
void ScaleBlock(std::uint8_t* data, std::size_t size, float gain) {
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        bytes::PutLeI16(data + i, Scaled(bytes::GetLeI16(data + i), gain));
    }
}

// A failure here is left to the file's open, which reports it as the rip's file error.
void MakeFolders(const TRipOptions& options) {
    if (options.MakeFoldersUnder.empty()) {
        return;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(options.MakeFoldersUnder, ec)) {
        std::filesystem::create_directories(std::filesystem::path(options.WavPath).parent_path(),
                                            ec);
    }
}

} // namespace

std::array<std::uint8_t, WavHeaderSize> WavHeaderBytes(std::uint32_t dataSize) {
    return bytes::PcmWavHeader(bytes::WaveFormatRecord::Pcm(2, 44100, 16), dataSize);
}

bool WriteWavHeader(std::FILE* stream, std::uint32_t dataSize) {
    const auto header = WavHeaderBytes(dataSize);
    return std::fwrite(header.data(), 1, header.size(), stream) == header.size();
}

std::int16_t ScaleSample(std::int16_t sample, float gain) {
    return Scaled(sample, gain);
}

std::unique_ptr<settings::TProcessInfo> MakeProgressInfo(std::int32_t code,
                                                         long long elapsedSeconds) {
    auto info = settings::NewProcessInfo(code);
    if (code != 0) {
        info->Elapsed = settings::MinSecText(elapsedSeconds);
        info->Estimated =
            settings::MinSecText(RoundHalfEven(static_cast<double>(elapsedSeconds) * 100.0 / code));
    }
    return info;
}

// stdio takes the size of a buffer only together with the buffer itself.
BufferedFilePtr OpenBufferedFile(const std::string& path, const char* mode) {
    BufferedFilePtr file(std::fopen(path.c_str(), mode));
    if (file) {
        file.get_deleter().buffer = std::make_unique<char[]>(FileBufferBytes);
        std::setvbuf(file.get(), file.get_deleter().buffer.get(), _IOFBF, FileBufferBytes);
    }
    return file;
}

TCDRipThread::TCDRipThread(int trackNumber, std::string title, TRipOptions options)
    : platform::TThread(true), TrackNumber(trackNumber), Title(std::move(title)),
      clock_([] { return std::chrono::system_clock::now(); }), options_(std::move(options)) {}

// The worker uses this object's members; it must end before they go.
TCDRipThread::~TCDRipThread() {
    WaitFor();
}

void TCDRipThread::Execute() {
    drive_ = std::make_unique<DriveWorker>();
    if (Loudness) {
        meterFeed_ = std::make_unique<audio::TMeterFeed>(Loudness);
    }
    ExtractTrack();
    meterFeed_.reset();
    drive_.reset(); // leaves a call that was given up on to end by itself
}

bool TCDRipThread::OnDrive(std::function<void()> call,
                           const std::shared_ptr<ParanoiaReader>& reader) {
    std::function<void()> interrupt;
    if (reader) {
        interrupt = [reader] { reader->RequestStop(); };
    }
    return drive_->Call(std::move(call), StopFlag, interrupt, StopGrace) ==
           DriveWorker::Outcome::Done;
}

void TCDRipThread::ExtractTrack() {
    struct Layout {
        bool setUp = false;
        bool tocRead = false;
        TTOC toc{};
        std::optional<RipDisc> disc; // secure rips: the disc as the log shows it
    };
    const auto layout = std::make_shared<Layout>();
    const HCDROM handle = CDHandle;
    const bool secure = Session != nullptr;
    const int trackNumber = TrackNumber;
    if (!OnDrive([layout, handle, secure, trackNumber] {
            layout->setUp = ModifyCDParms(handle, CDP_MSF_ADDRESSES, 1) != 0;
            layout->tocRead = layout->setUp && ReadTOC(handle, layout->toc) == 1;
            if (layout->tocRead && secure && trackNumber <= layout->toc.lastTrack &&
                layout->toc.lastTrack <= 99) {
                layout->disc = DescribeDisc(handle, layout->toc);
            }
        })) {
        return; // stopped while the drive was busy
    }
    if (!layout->setUp) {
        PostRipError(RipErrorDriveSetup);
        return;
    }
    const TTOC& toc = layout->toc;
    if (!layout->tocRead) {
        PostRipError(RipErrorNoTrack);
        return;
    }
    const std::optional<FrameSpan> span = SpanOf(toc, TrackNumber, options_.Span, secure);
    if (!span) {
        PostRipError(RipErrorNoTrack);
        return;
    }
    std::int64_t length = span->length;
    if (options_.EnableRipTime && options_.Span == TRipSpan::Track) {
        length = std::min<std::int64_t>(length, std::max<std::int64_t>(0, options_.RipTime) *
                                                    FramesPerSecond);
    }
    length = std::max<std::int64_t>(length, 0);
    const std::string& path = options_.WavPath;
    MakeFolders(options_);
    const auto first = static_cast<std::int32_t>(span->start);
    if (secure) {
        Session->SetDisc(*layout->disc);
        // Only a whole track has sums the databases hold.
        const bool wholeTrack = options_.Span == TRipSpan::Track && length == span->length;
        SecureRipTrack(path, first, static_cast<std::uint32_t>(length), wholeTrack);
        return;
    }
    RipTrack(path, first, static_cast<std::uint32_t>(length));
}

void TCDRipThread::RipTrack(const std::string& path, std::int32_t start, std::uint32_t length) {
    FilePtr file = OpenBufferedFile(path, "wb");
    if (!file || !WriteWavHeader(file.get(), 0)) {
        NoteFileError();
        PostDone(RipStatusFileFailed);
        return;
    }
    startTime_ = clock_();
    RestartMeasure();
    trackBuffer_ = std::make_shared<std::vector<std::uint8_t>>(TrackBufHeaderSize +
                                                               FramesPerRead * CDFrameBytes);
    std::uint64_t audioBytes = 0;
    ReadResult result = ReadResult::Ok;
    if (length == 0) {
        PostProgress(100); // nothing to read: the track is complete as it is
    }
    for (std::uint32_t done = 0; done < length;) {
        const std::uint32_t n =
            length - done >= FramesPerRead ? FramesPerRead : length % FramesPerRead;
        result = ReadFrames(start + static_cast<std::int32_t>(done), n, file.get(), audioBytes);
        done += n;
        PostProgress(static_cast<std::int32_t>(static_cast<std::uint64_t>(done) * 100 / length));
        if (result != ReadResult::Ok || StopFlag) {
            break;
        }
    }
    const std::optional<std::int32_t> status = Complete(path, std::move(file), audioBytes, result);
    if (status) {
        PostDone(*status);
    }
}

std::optional<std::int32_t> TCDRipThread::Complete(const std::string& path, FilePtr file,
                                                   std::uint64_t audioBytes, ReadResult result) {
    if (result == ReadResult::ReadFailed) {
        return RipStatusReadFailed; // the partial file keeps its zero sizes
    }
    if (result == ReadResult::WriteFailed) {
        return RipStatusFileFailed;
    }
    // Stopped: the file keeps what was read, with a header that says so.
    const std::int32_t status = FinishFile(std::move(file), audioBytes);
    if (status != RipStatusOk) {
        return status;
    }
    if (StopFlag) {
        return std::nullopt;
    }
    if (options_.IsNormalize) {
        const NormalizeResult normalized = Normalize(path);
        if (normalized == NormalizeResult::Stopped) {
            return std::nullopt;
        }
        if (normalized == NormalizeResult::Failed) {
            return RipStatusNormalizeFailed;
        }
    }
    return RipStatusOk;
}

std::shared_ptr<RipSession> SecureSessionFromSettings() {
    const settings::TSecureRip& s = settings::Settings.SecureRip;
    if (!s.Enabled) {
        return nullptr;
    }
    RipSessionOptions options;
    options.outputFolder = settings::Settings.CommonOptions.OutputFolder;
    options.readOffset = s.ReadOffset;
    options.testAndCopy = s.TestAndCopy;
    options.accurateRip = s.AccurateRip;
    options.accurateRipServer = s.AccurateRipServer;
    options.proxy = settings::Settings.QueryCDDB.Proxy();
    options.ctdb = s.CTDB;
    options.ctdbServer = s.CTDBServer;
    options.sectorRetries = std::clamp(s.SectorRetries, 0, settings::TSecureRip::MaxSectorRetries);
    options.fastFirst = s.FastFirst;
    return std::make_shared<RipSession>(std::move(options));
}

// The disc as the rip log shows it: LSNs (the TOC's addresses hold the 150-frame lead-in).
RipDisc TCDRipThread::DescribeDisc(HCDROM handle, const TTOC& toc) {
    return DescribeDiscOf(handle, toc);
}

std::shared_ptr<ParanoiaReader> TCDRipThread::OpenReader(std::string& error) {
    struct Opened {
        std::shared_ptr<ParanoiaReader> reader;
        std::string error;
    };
    const auto opened = std::make_shared<Opened>();
    const HCDROM handle = CDHandle;
    const RipSessionOptions& options = Session->Options();
    const ParanoiaReader::Budget budget{options.sectorRetries, options.sectorTime};
    if (!OnDrive([opened, handle, budget] {
            opened->reader = ParanoiaReader::Open(handle, opened->error);
            if (opened->reader) {
                opened->reader->SetBudget(budget);
            }
        })) {
        return nullptr;
    }
    error = opened->error;
    return opened->reader;
}

void TCDRipThread::SecureRipTrack(const std::string& path, std::int32_t start, std::uint32_t length,
                                  bool wholeTrack) {
    std::string error;
    const std::shared_ptr<ParanoiaReader> reader = OpenReader(error);
    if (StopFlag) {
        return; // stopped: no completion event
    }
    FilePtr file = reader ? OpenBufferedFile(path, "wb") : nullptr;
    if (!reader) {
        std::fprintf(stderr, "secure read of track %d: %s\n", TrackNumber, error.c_str());
    }
    if (!file || !WriteWavHeader(file.get(), 0)) {
        NoteFileError();
        PostDone(reader ? RipStatusFileFailed : RipStatusReadFailed);
        return;
    }
    startTime_ = clock_();
    // Until the track is done the log gives no verdict: a rip that never gets there
    // (a crash, a kill) must not leave a log that reads as a success.
    Session->TrackStarted(TrackNumber);
    RipLogTrack record;
    record.number = TrackNumber;
    record.file = path;
    record.frames = length;
    record.partial = !wholeTrack;
    if (options_.Span != TRipSpan::Track) {
        record.span = SpanNote(options_.Span, start, length);
    }
    const SpanOfTrack span{start, length, wholeTrack};
    // Only a whole track has checksums a database can hold.
    if (wholeTrack && Session->FastFirst()) {
        switch (ReadOnceAndCheck(reader, path, file, span, record)) {
        case FastOutcome::Reported:
            return;
        case FastOutcome::Stopped:
            Session->TrackStopped(TrackNumber);
            return;
        case FastOutcome::RipSecurely:
            // The single read stays in the file until the secure rip overwrites it; the
            // file keeps its partial name meanwhile.
            file = OpenBufferedFile(path, "wb");
            if (!file || !WriteWavHeader(file.get(), 0)) {
                NoteFileError();
                record.status = RipStatusFileFailed;
                Session->TrackDone(std::move(record));
                PostDone(RipStatusFileFailed);
                return;
            }
            break;
        }
    }
    SecurePasses(reader, path, std::move(file), span, record);
}

TrackSums TCDRipThread::SumsFor(const SpanOfTrack& span) const {
    const std::uint64_t samples = std::uint64_t{span.length} * ParanoiaReader::SamplesPerFrame;
    if (!span.whole) {
        return TrackSums();
    }
    TrackSums sums(samples, Session->IsFirstAudioTrack(TrackNumber),
                   Session->IsLastAudioTrack(TrackNumber));
    if (Session->Options().ctdb) {
        sums.SumForCtdb(samples, Session->CtdbRangeOf(TrackNumber, samples));
    }
    return sums;
}

void TCDRipThread::NoteSums(const TrackSums& sums, RipLogTrack& record) {
    record.crc = sums.Crc();
    record.peak = sums.Peak();
    record.arV1.reset();
    record.arV2.reset();
    if (sums.AccurateRip()) {
        record.arV1 = sums.AccurateRip()->V1();
        record.arV2 = sums.AccurateRip()->V2();
    }
    record.ctdb = sums.Ctdb();
}

// Reads the track once, without verifying reads, and keeps it when a database verifies
// its checksums; anything else (a failed read, a mismatch, a disc the databases do not
// know, no answer) leaves the track to the secure passes.
TCDRipThread::FastOutcome
TCDRipThread::ReadOnceAndCheck(const std::shared_ptr<ParanoiaReader>& reader,
                               const std::string& path, FilePtr& file, const SpanOfTrack& span,
                               RipLogTrack& record) {
    SecurePass pass{span.start, span.length, file.get(), span.length};
    TrackSums sums = SumsFor(span);
    std::uint64_t progressDone = 0;
    std::uint64_t audioBytes = 0;
    reader->SetSingleRead(true);
    const ReadResult result = ReadSecurely(reader, pass, sums, progressDone, audioBytes);
    if (result == ReadResult::Stopped || StopFlag || drive_->Abandoned()) {
        return FastOutcome::Stopped;
    }
    reader->SetSingleRead(false);
    if (result == ReadResult::WriteFailed) {
        NoteSums(sums, record);
        Report(path, std::move(file), audioBytes, result, {}, record);
        return FastOutcome::Reported;
    }
    record.fastPass = FastPass::Reripped;
    if (result == ReadResult::ReadFailed) {
        record.fastResult = "the read failed";
        return FastOutcome::RipSecurely;
    }
    NoteSums(sums, record);
    if (!WaitForDatabases()) {
        return FastOutcome::Stopped;
    }
    const FastPassCheck check = Session->CheckFastPass(record);
    record.fastResult = check.text;
    if (!check.verified) {
        record.fastCrc = sums.Crc();
        return FastOutcome::RipSecurely;
    }
    record.fastPass = FastPass::Verified;
    Report(path, std::move(file), audioBytes, result, {}, record);
    return FastOutcome::Reported;
}

// The lookups started with the disc; a stop ends the wait at once.
bool TCDRipThread::WaitForDatabases() {
    constexpr std::chrono::milliseconds Slice{20};
    while (!Session->WaitForLookup(Slice)) {
        if (StopFlag) {
            return false;
        }
    }
    return !StopFlag;
}

// The test pass (when asked for) and the copy pass, then the report.
void TCDRipThread::SecurePasses(const std::shared_ptr<ParanoiaReader>& reader,
                                const std::string& path, FilePtr file, const SpanOfTrack& span,
                                RipLogTrack& record) {
    const RipSessionOptions& options = Session->Options();
    SecurePass pass{span.start, span.length, nullptr,
                    std::uint64_t{span.length} * (options.testAndCopy ? 2U : 1U)};
    std::uint64_t progressDone = 0;
    std::uint64_t audioBytes = 0;
    if (span.length == 0) {
        PostProgress(100);
    }
    ReadResult result = ReadResult::Ok;
    ParanoiaReader::Counts counts;
    if (options.testAndCopy) {
        TrackSums test;
        std::uint64_t none = 0;
        result = ReadSecurely(reader, pass, test, progressDone, none);
        record.testCrc = test.Crc();
        if (!drive_->Abandoned()) { // else the worker may still be using the reader
            counts = reader->SpanCounts();
        }
    }
    TrackSums sums = SumsFor(span);
    if (result == ReadResult::Ok && !StopFlag) {
        pass.out = file.get();
        result = ReadSecurely(reader, pass, sums, progressDone, audioBytes);
        if (!drive_->Abandoned()) {
            const ParanoiaReader::Counts copy = reader->SpanCounts();
            counts.reread = std::max(counts.reread, copy.reread);
            counts.uncorrectable = std::max(counts.uncorrectable, copy.uncorrectable);
        }
    }
    NoteSums(sums, record);
    Report(path, std::move(file), audioBytes, result, counts, record);
}

// Closes (and normalizes) the file, gives the session the track's results and posts
// the completion event; a stopped rip reports nothing.
void TCDRipThread::Report(const std::string& path, FilePtr file, std::uint64_t audioBytes,
                          ReadResult result, ParanoiaReader::Counts counts, RipLogTrack& record) {
    record.rereadFrames = counts.reread;
    record.uncorrectableFrames = counts.uncorrectable;
    std::optional<std::int32_t> status = Complete(path, std::move(file), audioBytes, result);
    if (!status) {
        Session->TrackStopped(TrackNumber); // stopped: no completion event, nothing for the log
        return;
    }
    record.normalized = options_.IsNormalize && *status == RipStatusOk;
    const bool unreliable =
        counts.uncorrectable > 0 || (record.testCrc && *record.testCrc != record.crc);
    if (unreliable && (*status == RipStatusOk || *status == RipStatusNormalizeFailed)) {
        status = RipStatusUncorrectable;
    }
    record.status = *status;
    Session->TrackDone(std::move(record));
    PostDone(*status);
}

// One pass over the track, ten frames a read as the plain rip does, with one progress
// record per read; the test pass only checks, the copy pass also writes.
TCDRipThread::ReadResult TCDRipThread::ReadSecurely(const std::shared_ptr<ParanoiaReader>& reader,
                                                    const SecurePass& pass, TrackSums& sums,
                                                    std::uint64_t& progressDone,
                                                    std::uint64_t& written) {
    const auto block =
        std::make_shared<std::vector<std::uint8_t>>(std::size_t{FramesPerRead} * CDFrameBytes);
    reader->Begin(pass.start, pass.length, Session->Options().readOffset);
    const bool once = reader->SingleRead();
    if (pass.out != nullptr) {
        RestartMeasure(); // only the pass that writes the file is measured
    }
    // Each drive call is a hand-over to the drive worker and back; the single reads take
    // more frames a call (they need no block of their own), the progress stays per ten.
    const std::uint32_t perCall = once ? SingleReadFrames : FramesPerRead;
    for (std::uint32_t done = 0; done < pass.length;) {
        const std::uint32_t n = std::min(pass.length - done, perCall);
        const std::size_t bytes = std::size_t{n} * CDFrameBytes;
        // A single read is handed over where the reader put it, without a copy.
        const auto read = std::make_shared<const std::uint8_t*>(nullptr);
        if (!OnDrive(
                [reader, block, read, n, once] {
                    *read = once                             ? reader->ReadOnce(n)
                            : reader->Read(n, block->data()) ? block->data()
                                                             : nullptr;
                },
                reader)) {
            return ReadResult::Stopped;
        }
        const std::uint8_t* data = *read;
        if (data == nullptr) {
            return reader->Stopped() ? ReadResult::Stopped : ReadResult::ReadFailed;
        }
        sums.Add(std::span<const std::uint8_t>(data, bytes));
        if (pass.out != nullptr) {
            if (std::fwrite(data, 1, bytes, pass.out) != bytes) {
                NoteFileError();
                return ReadResult::WriteFailed;
            }
            Measure(data, bytes);
            written += bytes;
        }
        done += n;
        for (std::uint32_t posted = 0; posted < n; posted += FramesPerRead) {
            progressDone += std::min(n - posted, FramesPerRead);
            PostProgress(static_cast<std::int32_t>(progressDone * 100 / pass.progressTotal));
        }
        if (StopFlag) {
            break;
        }
    }
    return ReadResult::Ok;
}

TCDRipThread::ReadResult TCDRipThread::ReadFrames(std::int32_t first, std::uint32_t count,
                                                  std::FILE* out, std::uint64_t& written) {
    const std::shared_ptr<std::vector<std::uint8_t>> storage = trackBuffer_;
    const auto read = std::make_shared<bool>(false);
    const HCDROM handle = CDHandle;
    if (!OnDrive([storage, read, handle, first, count] {
            std::fill(storage->begin(), storage->begin() + TrackBufHeaderSize, 0);
            auto* buffer = new (storage->data()) TTrackBuf{};
            buffer->startFrame = first;
            buffer->numFrames = count;
            buffer->maxLen = count * CDFrameBytes;
            *read = ReadCDAudioLBA(handle, *buffer) == 1;
        })) {
        return ReadResult::Stopped;
    }
    if (!*read) {
        return ReadResult::ReadFailed;
    }
    const auto* buffer = std::launder(reinterpret_cast<const TTrackBuf*>(storage->data()));
    const std::uint8_t* audio = storage->data() + TrackBufHeaderSize + buffer->startOffset;
    const std::size_t len = std::min<std::size_t>(buffer->len, buffer->maxLen);
    if (std::fwrite(audio, 1, len, out) != len) {
        NoteFileError();
        return ReadResult::WriteFailed;
    }
    Measure(audio, len);
    written += len;
    return ReadResult::Ok;
}

// Rewrites the header with the real size and closes the file.
std::int32_t TCDRipThread::FinishFile(FilePtr file, std::uint64_t audioBytes) {
    const bool headerOk = std::fseek(file.get(), 0, SEEK_SET) == 0 &&
                          WriteWavHeader(file.get(), static_cast<std::uint32_t>(audioBytes));
    const bool closed = std::fclose(file.release()) == 0;
    if (!headerOk || !closed) {
        NoteFileError();
    }
    return headerOk && closed ? RipStatusOk : RipStatusFileFailed;
}

TCDRipThread::NormalizeResult TCDRipThread::Normalize(const std::string& path) {
    PostEvent(settings::PI_NORMALIZE_STARTED, 0);
    const std::string tempPath = std::filesystem::path(path).replace_extension(".nor").string();
    const float gain = static_cast<float>(options_.NormalizePercent) / 100.0f;
    NormalizeResult result = NormalizeResult::Failed;
    bool tempCreated = false;
    {
        FilePtr in = OpenBufferedFile(path, "rb");
        FilePtr out = in ? OpenBufferedFile(tempPath, "wb") : nullptr;
        tempCreated = out != nullptr;
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        if (in && out && !ec) {
            startTime_ = clock_();
            RestartMeasure(); // the scaled audio is what the file keeps
            const bool copied = ScaleFile(in.get(), out.get(), size, gain);
            const bool closed = std::fclose(out.release()) == 0;
            if (StopFlag) {
                result = NormalizeResult::Stopped;
            } else if (copied && closed) {
                result = NormalizeResult::Done;
            }
        }
    }
    std::error_code ec;
    if (result == NormalizeResult::Done) {
        // rename replaces the WAV in one step, so there is never a moment without it.
        std::filesystem::rename(tempPath, path, ec);
        if (!ec) {
            return result;
        }
        result = NormalizeResult::Failed;
    }
    if (tempCreated) {
        std::filesystem::remove(tempPath, ec);
    }
    // The file keeps its unscaled audio; a measure of part of the scaled one would tag wrong
    // gains, so the track gets none.
    RestartMeasure();
    return result;
}

// Copies the header, then scales every block; false on any read or write error.
// Stops early (returning false) when StopFlag is set.
bool TCDRipThread::ScaleFile(std::FILE* in, std::FILE* out, std::uint64_t fileSize, float gain) {
    std::array<std::uint8_t, NormalizeBlockBytes> block{};
    const std::size_t headerBytes = std::fread(block.data(), 1, WavHeaderSize, in);
    if (headerBytes != WavHeaderSize ||
        std::fwrite(block.data(), 1, headerBytes, out) != headerBytes) {
        return false;
    }
    std::uint64_t processed = WavHeaderSize;
    for (;;) {
        PostProgress(
            static_cast<std::int32_t>(processed * 100 / std::max<std::uint64_t>(fileSize, 1)));
        if (StopFlag) {
            return false;
        }
        const std::size_t got = std::fread(block.data(), 1, block.size(), in);
        if (got == 0) {
            return std::ferror(in) == 0;
        }
        ScaleBlock(block.data(), got, gain);
        if (std::fwrite(block.data(), 1, got, out) != got) {
            return false;
        }
        Measure(block.data(), got);
        processed += got;
    }
}

void TCDRipThread::Measure(const std::uint8_t* pcm, std::size_t bytes) {
    if (meterFeed_) {
        meterFeed_->Add(std::span<const std::uint8_t>(pcm, bytes));
    }
}

void TCDRipThread::RestartMeasure() {
    if (meterFeed_) {
        meterFeed_->Restart();
    }
}

long long TCDRipThread::ElapsedSeconds() const {
    const std::chrono::duration<double> span = clock_() - startTime_;
    return RoundHalfEven(span.count());
}

void TCDRipThread::PostProgress(std::int32_t code) {
    settings::PostProcessInfo(NotifyWindow,
                              MakeProgressInfo(code, code != 0 ? ElapsedSeconds() : 0));
}

void TCDRipThread::PostDone(std::int32_t status) {
    if (meterFeed_) {
        meterFeed_->Drain(); // the owner reads the meter once it hears the track is done
    }
    PostEvent(settings::PI_TRACK_EXTRACTED, status);
}

void TCDRipThread::PostEvent(std::int32_t code, std::int32_t status) {
    settings::PostProcessInfo(NotifyWindow, settings::NewProcessInfo(code, status));
}

void TCDRipThread::PostRipError(std::intptr_t which) {
    platform::PostMessage(NotifyWindow, settings::WM_RIPERROR, 0, which);
}

} // namespace cd
