#include "jobs/JobRunner.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "audio/ACS_Converters.h"
#include "audio/ACS_Wave.h"
#include "cd/RipSession.h"
#include "cd/ripthread.h"
#include "jobs/EncodeStep.h"
#include "jobs/GainTags.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/OutputLines.h"
#include "jobs/RipExtras.h"
#include "jobs/WMAEncodeThread.h"
#include "jobs/WmaStep.h"
#include "jobs/WriteCause.h"
#include "platform/FileRelease.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"

namespace jobs {

const std::array<int, 33> WmaSizeRatio = {
    7315,  8770,  10949, 7316,   8772,   10954,  14581,  17471,  21790,  28963,  43174,
    28963, 43134, 28999, 34720,  43214,  68873,  43134,  62208,  68264,  68264,  84458,
    67963, 84150, 84150, 110460, 131113, 133765, 165296, 113717, 167692, 220395, 261485};

namespace {

using platform::TProcessInfo;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultWmaPreset = 8;
constexpr std::int64_t kSmallWmaInput = 2000000;
// How long a stopped pipeline sink may take to close its files.
constexpr auto kSinkStopTimeout = std::chrono::seconds(10);
// The status of an end event whose item's extraction failed (no step ran).
constexpr std::int32_t kExtractionFailed = 4;

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void Remove(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// The end of a job removes every track's WAV at once: the freeing of their cached data
// would keep the GUI thread busy for tens of milliseconds, so it happens elsewhere.
void DeleteUnlessInUse(const std::string& path) {
    if (Exists(path) && !settings::IsFileInUse(path)) {
        platform::RemoveFreeingLater(path);
    }
}

// A WAV the rip thread created but could not finish: shorter than its header, or still
// carrying the header's zero data size. A complete file is never taken for one.
bool IsUnfinishedRip(const std::string& path) {
    const std::int64_t size = settings::FileSizeOf(path);
    if (size < 0) {
        return false;
    }
    if (size < static_cast<std::int64_t>(cd::WavHeaderSize)) {
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    std::array<char, cd::WavHeaderSize> header{};
    if (!in.read(header.data(), header.size())) {
        return false;
    }
    return std::all_of(header.begin() + 40, header.end(), [](char c) { return c == 0; });
}

long long RoundHalfEven(double v) {
    return static_cast<long long>(std::nearbyint(v));
}

// The system's reason on a line of its own below the text, when there is one.
std::string WithCause(const std::string& text, const std::string& cause) {
    return cause.empty() ? text : text + "\n" + cause;
}

// Keeps an ended step until control is back in the event loop that ended it: a WMA step's
// end arrives inside its own hand-over, which must return before the step goes. Deferred
// deletion is not run by the nested loops of message boxes, which is what is needed here.
class TStepHolder : public QObject {
public:
    TStepHolder(std::unique_ptr<TEncodeStep> step, QObject* parent)
        : QObject(parent), step_(std::move(step)) {}

private:
    std::unique_ptr<TEncodeStep> step_;
};

// Told nothing: what the runner's destructor reports goes nowhere, since its observer may
// be half gone.
class TSilentObserver : public TJobObserver {
public:
    void PhaseChanged(const std::string&, int) override {}
    void StageChanged(const std::string&) override {}
    void ExtractionStarting(int) override {}
    void Progressed(std::int32_t, const std::string&, const std::string&) override {}
    void WmaStarting(bool) override {}
    void WmaTicked(const TWmaClock&) override {}
    void StepAdded(std::intptr_t, int) override {}
    void StepProgressed(std::intptr_t, int) override {}
    void StepRemoved(std::intptr_t) override {}
    void TrackExtracted(int, std::int32_t) override {}
    void ItemEnded(int, bool) override {}
    void Notify(const std::string&, TNoticeKind) override {}
    void Ended(bool) override {}
};

TSilentObserver& Silent() {
    static TSilentObserver silent;
    return silent;
}

} // namespace

std::optional<long long> WmaEstimate(long long elapsed, std::int64_t inputSize, int preset,
                                     std::int64_t currentOutput) {
    long long estimate = 2;
    if (inputSize >= kSmallWmaInput) {
        if (preset < 0 || preset >= static_cast<int>(WmaSizeRatio.size())) {
            preset = kDefaultWmaPreset;
        }
        const double ratio = WmaSizeRatio[static_cast<std::size_t>(preset)];
        long long expected = RoundHalfEven(static_cast<double>(inputSize) * 1000.0 / ratio);
        expected = std::max<long long>(expected, currentOutput);
        if (currentOutput <= 0) {
            return std::nullopt; // the encoder has not written anything yet
        }
        estimate =
            static_cast<long long>(static_cast<double>(elapsed) * static_cast<double>(expected) /
                                   static_cast<double>(currentOutput));
    }
    if (elapsed >= estimate) {
        estimate = elapsed + 1;
    }
    return estimate;
}

// ---- creation -------------------------------------------------------------------------

TJobRunner::TJobRunner(std::unique_ptr<TJobPlan> plan, int cdHandle, TJobObserver& observer)
    : plan_(std::move(plan)), observer_(&observer), JobKind(plan_->Kind()), CDHandle(cdHandle),
      itemCount_(plan_->ItemCount()), encoded_(static_cast<std::size_t>(itemCount_), false) {
    progressSeen_.assign(encoded_.size(), false);
    // Only a rip has something to do while its tracks encode.
    if (plan_->EncodesAfterExtraction()) {
        encoders_ = std::clamp(plan_->Settings().Encoders, 1, kMaxEncoders);
    }
    CreateComponents();
    // The program's own wrappers stay available to those that drive them directly; a job's
    // steps each have their own.
    if (!Mp3Process) {
        Mp3Process = std::make_unique<TMp3EncodeProcess>();
    }
    if (!WmaProcess) {
        WmaProcess = std::make_unique<TWMAEncodeProcess>();
    }
}

TJobRunner::~TJobRunner() {
    observer_ = &Silent();
    FinishJob();
    {
        std::lock_guard lock(sendMutex_);
        sendAbandoned_ = true;
    }
    sendDone_.notify_all();
    // The steps and sinks end their workers here; then nothing can post to this runner.
    for (const QPointer<QObject>& holder : holders_) {
        delete holder.data();
    }
    WaveOut1.reset();
    RateConverter1.reset();
    WaveIn1.reset();
    // Records still queued for this runner are freed by their handlers, which do nothing
    // else once the job has ended.
    QCoreApplication::sendPostedEvents(this, platform::MessageEvent::Type());
}

void TJobRunner::CreateComponents() {
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TJobRunner::Timer1Timer);
    WaveIn1 = std::make_unique<audio::TWaveIn>();
    WaveIn1->SetStartSample(0);
    WaveIn1->SetEndSample(-1);
    WaveIn1->SetLoop(false);
    RateConverter1 = std::make_unique<audio::TRateConverter>();
    RateConverter1->SetInput(WaveIn1.get());
    RateConverter1->SetOutSampleRate(44100);
    RateConverter1->SetFilterWindow(audio::fwBlackman);
    RateConverter1->SetKernelWidth(30);
    WaveOut1 = std::make_unique<audio::TWaveOut>();
    WaveOut1->SetInput(RateConverter1.get());
    WaveOut1->SetWavType(audio::wtPCM);
    WaveOut1->SetBlockSize(512);
    WaveOut1->SetFileMode(audio::foRewrite);
    WaveOut1->OnProgress = [this](audio::TACSOutput*) { WaveOut1Progress(); };
    WaveOut1->OnDone = [this](audio::TACSOutput*) { WaveOut1Done(); };
    WaveOut1->OnThreadException = [this](audio::TACSOutput*, const std::exception& e) {
        PostToSelf(settings::PI_RESAMPLE_DONE, JobStatusWriterFailed, e.what());
    };
}

void TJobRunner::Start() {
    if (itemCount_ == 0) {
        FinishAndTell(true);
        return;
    }
    // The user chose a cover: say that the files go without it rather than leave it out.
    if (const std::string& why = plan_->Settings().Tag.Cover.Error; !why.empty()) {
        observer_->Notify("The files are tagged without a cover: " + why + ".",
                          TNoticeKind::Warning);
        if (!running_) {
            return; // stopped while the box was open
        }
    }
    StartFirstStep();
}

void TJobRunner::StartFirstStep() {
    switch (JobKind) {
    case jkExtract:
        if (plan_->SingleFileFallsBackToWav()) {
            observer_->Notify("A rip to one file is written as WAV or FLAC; this one is WAV.",
                              TNoticeKind::Warning);
            if (!running_) {
                return; // stopped while the box was open
            }
        }
        StartRip(0);
        break;
    case jkWavToMp3:
    case jkWavToOgg:
        nextItem_ = 1;
        ResampleCheck(0);
        break;
    case jkMp3ToWav:
        nextItem_ = 1;
        SetPhase("Decoding", 0);
        SetStage("Decoding MP3 to WAV");
        StartEncode(0, plan_->Input(0));
        break;
    case jkRecordedToMp3:
        nextItem_ = 1;
        SetPhase("Encoding", 0);
        SetStage("Encoding WAV to MP3");
        StartEncode(0, plan_->Input(0));
        break;
    case jkWavToWma:
        nextItem_ = 1;
        SetPhase("Encoding", 0);
        SetStage("Encoding WAV to WMA");
        StartEncode(0, plan_->Input(0));
        break;
    case jkWavToFlac:
    case jkWavToOpus:
        nextItem_ = 1;
        SetPhase("Encoding", 0);
        SetStage(JobKind == jkWavToFlac ? "Encoding WAV to FLAC" : "Encoding WAV to Opus");
        StartEncode(0, plan_->Input(0));
        break;
    case jkFlacToWav:
        nextItem_ = 1;
        SetPhase("Decoding", 0);
        SetStage("Decoding FLAC to WAV");
        StartEncode(0, plan_->Input(0));
        break;
    default:
        FinishAndTell(false);
        break;
    }
}

// ---- what the observer is told ----------------------------------------------------------

int TJobRunner::RunningEncodes() const {
    return static_cast<int>(std::count_if(steps_.begin(), steps_.end(),
                                          [](const auto& s) { return s.second.step != nullptr; }));
}

void TJobRunner::SetPhase(const std::string& phase, int i) {
    observer_->PhaseChanged(phase, i);
}

void TJobRunner::SetStage(const std::string& stage) {
    observer_->StageChanged(stage);
}

void TJobRunner::ShowError(const std::string& text) {
    observer_->Notify(text, TNoticeKind::Error);
}

// ---- step starters --------------------------------------------------------------------

void TJobRunner::StartRip(int i) {
    SetPhase("Extracting", i);
    observer_->ExtractionStarting(i);
    SetStage("Extracting");
    RipThread.reset();
    ripping_ = true;
    firstStepItem_ = i;
    if (!plan_->UsableTitle(i)) {
        PostToSelf(settings::PI_TRACK_EXTRACTED, cd::RipStatusFileFailed);
        return;
    }
    RipThread =
        std::make_unique<cd::TCDRipThread>(plan_->Track(i), plan_->Title(i), plan_->RipOptions(i));
    RipThread->CDHandle = CDHandle;
    RipThread->NotifyWindow = this;
    if (!RipSession_) {
        RipSession_ = cd::SecureSessionFromSettings(); // null unless secure mode is on
    }
    RipThread->Session = RipSession_;
    // Measured only when the track's file gets a tag to carry the values.
    if (plan_->Settings().ReplayGain && plan_->EncodesAfterExtraction() &&
        plan_->EncodeRequest(i, plan_->Wav(i)).WriteTags) {
        meters_.resize(encoded_.size());
        meters_[static_cast<std::size_t>(i)] = std::make_shared<audio::TLoudnessMeter>();
        RipThread->Loudness = meters_[static_cast<std::size_t>(i)];
    }
    RipThread->Resume();
}

bool TJobRunner::RefusesOwnInput(int i, const std::string& input) {
    std::error_code ec;
    const std::string output = plan_->Output(i);
    if (!std::filesystem::equivalent(input, output, ec)) {
        return false;
    }
    ShowError(output + " is the file being converted; it cannot also be its output.");
    SkipEncode(i, 0);
    return true;
}

std::intptr_t TJobRunner::AddStep(int i, std::unique_ptr<TEncodeStep> step) {
    const std::intptr_t id = step ? step->Request().StepId : nextStepId_++;
    TRunningStep running;
    running.item = i;
    running.step = std::move(step);
    running.hasRow = Parallel() && running.step;
    steps_.emplace(id, std::move(running));
    if (Parallel() && steps_.at(id).hasRow) {
        observer_->StepAdded(id, i);
    }
    mostAtOnce_ = std::max(mostAtOnce_, RunningEncodes());
    return id;
}

void TJobRunner::SkipEncode(int i, std::int32_t status) {
    const std::intptr_t id = AddStep(i, nullptr);
    PostToSelf(plan_->EndCode(), status, {}, {}, id);
}

void TJobRunner::StartEncode(int i, const std::string& input) {
    if (RefusesOwnInput(i, input)) {
        return;
    }
    TEncodeRequest request = plan_->EncodeRequest(i, input);
    request.StepId = nextStepId_++;
    if (const audio::TLoudnessMeter* meter = Meter(i); meter != nullptr && request.WriteTags) {
        request.ExtraTags = audio::TrackGainFields(*meter, IsOpusName(request.Output));
    }
    std::unique_ptr<TEncodeStep> step = MakeEncodeStep(request, this);
    TEncodeStep& started = *step;
    const std::intptr_t id = AddStep(i, std::move(step));
    if (dynamic_cast<TWmaStep*>(&started) != nullptr) {
        // The clock is set before the start: a step that ends at once (the question
        // declined, no encoder) is handled inside Start and turns the timer off again.
        wmaStepId_ = id;
        WmaStart = Clock::now();
        observer_->WmaStarting(JobKind == jkWavToWma && EncodeIndex_ > 0);
        WmaInputSize = settings::FileSizeOf(input);
        Timer1->start();
    }
    started.Start(); // the step stays (and the job waits for Stop) when this throws
}

void TJobRunner::ResampleCheck(int i) {
    const std::string input = plan_->Input(i);
    const bool mp3 = JobKind == jkWavToMp3;
    WaveIn1->SetFileName(input);
    bool valid = false;
    try {
        valid = WaveIn1->Valid();
    } catch (const std::exception&) {
        valid = false; // a file that has gone away
    }
    if (!valid) {
        SetPhase("Encoding", i);
        ShowError(input + " is missing or is not a WAV file that can be converted.");
        SkipEncode(i, 0);
        return;
    }
    if (WaveIn1->SampleRate() >= 44100) {
        SetPhase("Encoding", i);
        SetStage(i == 0 ? (mp3 ? "Encoding WAV to MP3" : "Encoding WAV to OGG") : "Encoding");
        StartEncode(i, input);
        return;
    }
    WaveOut1->SetFileName(plan_->ResampleTemp());
    OutputStart = Clock::now().time_since_epoch().count();
    SetStage("Resampling WAV");
    SetPhase("Resampling", i);
    resampling_ = true;
    firstStepItem_ = i;
    WaveOut1->Run();
}

void TJobRunner::Pump() {
    if (!running_) {
        return;
    }
    if (JobKind != jkExtract) {
        // One item at a time, in order.
        if (!steps_.empty() || resampling_ || nextItem_ >= ItemCount()) {
            return;
        }
        const int i = nextItem_++;
        if (plan_->Resamples()) {
            ResampleCheck(i);
            return;
        }
        const bool decodes = JobKind == jkMp3ToWav || JobKind == jkFlacToWav;
        SetPhase(decodes ? "Decoding" : "Encoding", i);
        SetStage(decodes ? "Decoding" : "Encoding");
        StartEncode(i, plan_->Input(i));
        return;
    }
    while (!waiting_.empty() && static_cast<int>(steps_.size()) < encoders_ && running_) {
        const int t = waiting_.front();
        waiting_.erase(waiting_.begin());
        SetPhase("Encoding", t);
        SetStage("Encoding");
        StartEncode(t, plan_->Wav(t));
    }
    // One step at a time; with more encoders the next track is extracted while the
    // earlier ones encode, but never more than one waits for an encoder.
    const bool mayRip = Parallel() ? waiting_.empty() : steps_.empty();
    if (running_ && !ripping_ && RipIndex_ < ItemCount() && mayRip) {
        StartRip(RipIndex_);
    }
}

// ---- messages -------------------------------------------------------------------------

bool TJobRunner::event(QEvent* e) {
    return DispatchMessageEvent(e) || QObject::event(e);
}

std::intptr_t TJobRunner::HandleMessage(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
    if (msg == settings::WM_RIPERROR) {
        if (running_) {
            OnRipError(lParam);
        }
        return 0;
    }
    if (msg != settings::WM_PROGRESS) {
        return 0;
    }
    const std::unique_ptr<TProcessInfo> info = settings::AdoptProcessInfo(lParam);
    // The resampler's worker waits for this event to have been handled, whatever happens.
    struct ReleaseSender {
        TJobRunner* runner;
        bool active;
        ~ReleaseSender() {
            if (!active) {
                return;
            }
            {
                std::lock_guard lock(runner->sendMutex_);
                runner->sendPending_ = false;
            }
            runner->sendDone_.notify_all();
        }
    } release{this, info->Code == settings::PI_RESAMPLE_DONE};
    if (!running_) {
        return 0; // the job has ended: the record is only freed
    }
    switch (info->Code) {
    case settings::PI_NORMALIZE_STARTED:
        OnNormalizeStarted();
        break;
    case settings::PI_TRACK_EXTRACTED:
        OnTrackExtracted(*info);
        break;
    case settings::PI_MP3_ENDED:
    case settings::PI_OGG_DONE:
    case settings::PI_WMA_ENDED:
    case settings::PI_FLAC_DONE:
    case settings::PI_OPUS_DONE:
    case settings::PI_FLAC_DECODED:
        OnEncodeEnded(*info, wParam);
        break;
    case settings::PI_RESAMPLE_DONE:
        OnResampleDone(*info);
        break;
    default:
        OnProgress(*info, wParam);
        break;
    }
    return 0;
}

void TJobRunner::OnProgress(const TProcessInfo& info, std::intptr_t stepId) {
    // Progress of the WMA step's own means its estimate is no longer needed.
    if (Timer1->isActive() && (!Parallel() || stepId == wmaStepId_)) {
        Timer1->stop();
    }
    const auto running = steps_.find(stepId);
    const int item =
        stepId == 0 ? firstStepItem_ : (running != steps_.end() ? running->second.item : -1);
    if (item >= 0 && item < ItemCount()) {
        progressSeen_[static_cast<std::size_t>(item)] = true;
    }
    if (Parallel() && stepId != 0) {
        if (running != steps_.end() && running->second.hasRow && info.Code > 0 &&
            info.Code <= 100) {
            observer_->StepProgressed(stepId, info.Code);
        }
        return;
    }
    observer_->Progressed(info.Code, info.Elapsed, info.Estimated);
}

void TJobRunner::OnNormalizeStarted() {
    SetPhase("Normalizing", RipIndex_);
}

void TJobRunner::OnRipError(std::intptr_t which) {
    if (which == cd::RipErrorDriveSetup) {
        ShowError("CD extract failed!Please try again.");
    } else if (which == cd::RipErrorNoTrack) {
        ShowError("Error while reading TOC information!");
    }
}

void TJobRunner::SettleRipFile(int t, std::int32_t status) {
    const std::string written = plan_->RipOptions(t).WavPath;
    const std::string wav = plan_->Wav(t);
    if (status == cd::RipStatusReadFailed) {
        ShowError("Error while reading CD information!");
    } else if (status == cd::RipStatusFileFailed) {
        if (plan_->UsableTitle(t) && IsUnfinishedRip(written)) {
            // Created but not completely written: nothing half-written stays behind.
            Remove(written);
            ShowError(WithCause(wav + " could not be written completely (is the disk full?).",
                                ErrorText(ripFileError_)));
            return;
        }
        ShowError(WithCause(plan_->Settings().OutputFolder + "/" + plan_->Title(t) + ".wav" +
                                " is not a valid file name.Please rename the Title in the CD "
                                "tracks list.",
                            ErrorText(ripFileError_)));
    } else if (status == cd::RipStatusNormalizeFailed) {
        ShowError(wav + " could not be normalized; it is kept as it was extracted.");
    } else if (status == cd::RipStatusUncorrectable && RipSession_) {
        observer_->Notify(wav + " has frames that could not be read reliably; see " +
                              RipSession_->LogPath() + ".",
                          TNoticeKind::Warning);
    }
    // Part of a disc is not the disc: a single file that was not read whole goes.
    const bool whole = status == cd::RipStatusOk || status == cd::RipStatusNormalizeFailed ||
                       status == cd::RipStatusUncorrectable;
    if (plan_->WholeDisc() && !whole) {
        Remove(written);
        return;
    }
    // What the rip kept (all of it, or what it could read) takes its name.
    if (written != wav && Exists(written)) {
        std::error_code ec;
        std::filesystem::rename(written, wav, ec);
    }
}

void TJobRunner::OnTrackExtracted(const TProcessInfo& info) {
    const int t = RipIndex_;
    ripping_ = false;
    ripFileError_ = RipThread ? RipThread->FileError.load() : 0;
    RipThread.reset(); // it has posted its last message
    SettleRipFile(t, info.Status);
    RipIndex_ += 1;
    observer_->TrackExtracted(t, info.Status);
    if (!running_) {
        return; // stopped while the observer was told
    }
    if (!plan_->EncodesAfterExtraction()) {
        // WAV output: the extraction was the whole step.
        observer_->ItemEnded(t, Exists(plan_->Wav(t)));
        if (RipIndex_ == ItemCount()) {
            FinishAndTell(true);
        } else {
            Pump();
        }
        return;
    }
    // A track with unreliable frames is complete and goes on to its encode step.
    const bool failed = info.Status != cd::RipStatusOk &&
                        info.Status != cd::RipStatusNormalizeFailed &&
                        info.Status != cd::RipStatusUncorrectable;
    if (failed) {
        // The track's encode step is skipped: its end event comes at once.
        progressSeen_[static_cast<std::size_t>(t)] = true;
        if (Meter(t) != nullptr) {
            meters_[static_cast<std::size_t>(t)].reset(); // not the track's audio
        }
        SkipEncode(t, kExtractionFailed);
    } else {
        waiting_.push_back(t);
    }
    Pump();
}

bool TJobRunner::ReportEnd(const TProcessInfo& info, const TRunningStep& running,
                           bool progressSeen) {
    const int exitCode = running.step ? running.step->ExitCode() : 0;
    const bool failedExit = info.Status == EncodeStatusEnded && exitCode != 0;
    const std::string output = plan_->Output(running.item);
    const std::string& item = plan_->Item(running.item);
    switch (info.Code) {
    case settings::PI_MP3_ENDED:
        if (info.Status == EncodeStatusInUse && !progressSeen) {
            ShowError(item + "maybe be used,operate fail!");
        } else if (info.Status == EncodeStatusEnded && (!progressSeen || failedExit)) {
            // lame does not say why; the output's folder can.
            ShowError(WithCause("Create MP3 file error!\nPlease check the output and lame "
                                "options or run application again.",
                                WriteCause(TJobPlan::PartialName(output, running.item))));
        }
        break;
    case settings::PI_WMA_ENDED:
        if (info.Status == EncodeStatusInUse && !progressSeen) {
            ShowError(item + "maybe be used,operate fail!");
        } else if (info.Status == EncodeStatusErrorLine) {
            ShowError(info.Elapsed);
        } else if (failedExit) {
            ShowError(output + ": the WMA encoder ended without finishing the file.");
        }
        break;
    case settings::PI_OGG_DONE:
    case settings::PI_FLAC_DONE:
    case settings::PI_OPUS_DONE:
    case settings::PI_FLAC_DECODED:
        if (info.Status == JobStatusWriterFailed) {
            ShowError(output + ": " + info.Elapsed);
        }
        break;
    default:
        break;
    }
    return running.step != nullptr && running.step->Succeeded(info, progressSeen);
}

void TJobRunner::OnEncodeEnded(const TProcessInfo& info, std::intptr_t stepId) {
    const auto found = steps_.find(stepId);
    if (found == steps_.end()) {
        return; // a stopped step's last word
    }
    TRunningStep running = std::move(found->second);
    steps_.erase(found);
    if (stepId == wmaStepId_) {
        Timer1->stop();
    }
    const bool seen = progressSeen_[static_cast<std::size_t>(running.item)];
    const bool succeeded = ReportEnd(info, running, seen);
    TFinishResult result;
    if (running.step) {
        result = running.step->Finish(succeeded);
    }
    if (result.TagResult > 255) {
        observer_->Notify("Error #" + std::to_string(result.TagResult) + "! Could not save Tag!",
                          TNoticeKind::Plain);
    }
    // The full-length tag failed: the item has no output. A cover that could not be saved
    // beside the files costs nothing else.
    if (!result.TagError.empty()) {
        const std::string output = running.step ? running.step->Request().Output : std::string();
        ShowError(WithCause("Could not save the tags of " + output + ".", result.TagError));
    }
    if (!result.CoverError.empty()) {
        ShowError(WithCause("Could not save the cover beside the files.", result.CoverError));
    }
    if (running.hasRow) {
        observer_->StepRemoved(stepId);
    }
    EndItem(std::move(running), result.Produced, info.Code);
}

void TJobRunner::EndItem(TRunningStep running, bool produced, std::int32_t code) {
    const auto item = static_cast<std::size_t>(running.item);
    encoded_[item] = produced;
    progressSeen_[item] = false;
    Retire(std::move(running.step));
    observer_->ItemEnded(running.item, produced);
    if (!running_) {
        return; // stopped while the observer was told
    }
    int& index = code == settings::PI_OGG_DONE ? OggIndex_ : EncodeIndex_;
    index += 1;
    if (index == ItemCount()) {
        FinishAndTell(true);
        return;
    }
    Pump();
}

void TJobRunner::OnResampleDone(const TProcessInfo& info) {
    resampling_ = false;
    const int i = firstStepItem_;
    if (info.Status == JobStatusWriterFailed) {
        Remove(plan_->ResampleTemp());
        ShowError(plan_->Input(i) + ": " + info.Elapsed);
        TRunningStep failed;
        failed.item = i;
        EndItem(std::move(failed), false, plan_->EndCode());
        return;
    }
    SetPhase("Encoding", i);
    SetStage("Encoding");
    StartEncode(i, plan_->ResampleTemp());
}

// ---- the WMA estimate -----------------------------------------------------------------

void TJobRunner::Timer1Timer() {
    const std::chrono::duration<double> span = Clock::now() - WmaStart;
    const long long elapsed = RoundHalfEven(span.count());
    TWmaClock clock;
    clock.Elapsed = settings::MinSecText(elapsed);
    const auto found = steps_.find(wmaStepId_);
    const auto* wma =
        found != steps_.end() ? dynamic_cast<const TWmaStep*>(found->second.step.get()) : nullptr;
    clock.Active = wma != nullptr && wma->Active();
    if (clock.Active) {
        const std::int64_t current = settings::FileSizeOf(wma->Writing());
        const auto estimate =
            WmaEstimate(elapsed, WmaInputSize, plan_->Settings().WmaPreset, current);
        if (estimate) {
            clock.Estimated = settings::MinSecText(*estimate);
            clock.Percent = static_cast<int>(RoundHalfEven(static_cast<double>(elapsed) * 100.0 /
                                                           static_cast<double>(*estimate)));
        }
    }
    observer_->WmaTicked(clock);
}

// ---- pipeline events (worker threads) -------------------------------------------------

void TJobRunner::PostToSelf(std::int32_t code, std::int32_t status, std::string elapsed,
                            std::string estimated, std::intptr_t stepId) {
    settings::PostProcessInfo(
        this, settings::NewProcessInfo(code, status, std::move(elapsed), std::move(estimated)),
        stepId);
}

void TJobRunner::WaveOut1Progress() {
    const std::int32_t code = WaveOut1->Progress();
    const Clock::time_point start{Clock::duration{OutputStart.load()}};
    TimeTexts times = ProgressTimeTexts(SecondsSince(start), code);
    PostToSelf(code, 0, std::move(times.Elapsed), std::move(times.Estimated));
}

void TJobRunner::WaveOut1Done() {
    std::unique_lock lock(sendMutex_);
    if (sendAbandoned_) {
        return;
    }
    sendPending_ = true;
    PostToSelf(settings::PI_RESAMPLE_DONE, 0);
    sendDone_.wait(lock, [this] { return !sendPending_ || sendAbandoned_; });
}

// ---- the end --------------------------------------------------------------------------

void TJobRunner::Retire(std::unique_ptr<TEncodeStep> step) {
    if (step) {
        auto* holder = new TStepHolder(std::move(step), this);
        holder->deleteLater();
        holders_.erase(std::remove(holders_.begin(), holders_.end(), nullptr), holders_.end());
        holders_.emplace_back(holder);
    }
}

void TJobRunner::StopSink(audio::TACSOutput& sink) {
    if (!sink.Busy()) {
        return;
    }
    if (sink.Status() == audio::osPaused) {
        sink.Resume();
    }
    sink.Stop();
    const auto deadline = Clock::now() + kSinkStopTimeout;
    while (sink.Busy() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

const audio::TLoudnessMeter* TJobRunner::Meter(int i) const {
    const auto at = static_cast<std::size_t>(i);
    return at < meters_.size() ? meters_[at].get() : nullptr;
}

void TJobRunner::WriteAlbumGain() {
    std::vector<TGainItem> files;
    std::vector<const audio::TLoudnessMeter*> album;
    for (int i = 0; i < ItemCount(); ++i) {
        const audio::TLoudnessMeter* meter = Meter(i);
        if (meter == nullptr) {
            continue;
        }
        album.push_back(meter);
        const std::string output = plan_->Output(i);
        if (encoded_[static_cast<std::size_t>(i)] && plan_->EncodeRequest(i, output).WriteTags) {
            files.push_back({output, TJobPlan::PartialName(output, i), meter});
        }
    }
    const std::string error = jobs::WriteAlbumGain(files, album);
    if (!error.empty()) {
        observer_->Notify("The album's ReplayGain could not be written: " + error,
                          TNoticeKind::Warning);
    }
}

void TJobRunner::FinishAndTell(bool completed) {
    if (completed && !meters_.empty()) {
        WriteAlbumGain(); // only over a whole rip: part of an album is not the album
    }
    FinishJob();
    observer_->Ended(completed);
}

void TJobRunner::Stop() {
    // A single file's WAV waiting for its encode is the disc without its sheet: it goes too.
    const bool dropWav = running_ && plan_->WholeDisc() && plan_->EncodesAfterExtraction() &&
                         RipIndex_ > 0 && !encoded_.empty() && !encoded_[0];
    FinishJob();
    if (dropWav) {
        Remove(plan_->Wav(0));
    }
}

void TJobRunner::FinishJob() {
    if (!running_) {
        return;
    }
    if (RipThread) {
        RipThread->StopFlag = true;
        RipThread.reset();
    }
    if (ripping_ && plan_->UsableTitle(firstStepItem_)) {
        const std::string written = plan_->RipOptions(firstStepItem_).WavPath;
        const std::string wav = plan_->Wav(firstStepItem_);
        if (discardStopped_ || plan_->WholeDisc()) {
            // What was read of the track is not the track; part of a disc is not the disc.
            Remove(written);
        } else if (written != wav && Exists(written)) {
            // A stopped extraction keeps what it read, as a complete WAV under its name.
            std::error_code ec;
            std::filesystem::rename(written, wav, ec);
        }
    }
    ripping_ = false;
    running_ = false;
    Timer1->stop();
    // A step still running is stopped; what it wrote so far is not a finished file.
    for (auto& [id, running] : steps_) {
        if (running.step) {
            running.step->Stop();
        }
        if (running.hasRow) {
            observer_->StepRemoved(id);
        }
        Retire(std::move(running.step));
    }
    steps_.clear();
    waiting_.clear();
    {
        std::lock_guard lock(sendMutex_);
        sendAbandoned_ = true;
    }
    sendDone_.notify_all();
    StopSink(*WaveOut1);
    // Before the clean-up: the playlist's lengths come from the extracted WAVs. The job may
    // be closing with the program, so a failure is noted on stderr rather than in a box.
    const std::string extras = WriteRipExtras(*plan_, RipIndex_, encoded_, CDHandle);
    if (!extras.empty()) {
        std::fprintf(stderr, "vellorine: %s\n", extras.c_str());
    }
    for (const std::string& file : plan_->CleanUp(RipIndex_, encoded_)) {
        DeleteUnlessInUse(file);
    }
}

} // namespace jobs
