#include "jobs/rip.h"

#include <QCoreApplication>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "audio/ACS_Converters.h"
#include "audio/ACS_Wave.h"
#include "cd/RipSession.h"
#include "cd/RipSummary.h"
#include "cd/ripthread.h"
#include "jobs/EncodeStep.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/OutputLines.h"
#include "jobs/PhaseCaption.h"
#include "jobs/RipSummaryPanel.h"
#include "jobs/WMAEncodeThread.h"
#include "jobs/WmaStep.h"
#include "jobs/WriteCause.h"
#include "platform/Dialogs.h"
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
// Progress rows of a parallel job, under the designed window.
constexpr int kDesignedHeight = 117;
constexpr int kRowHeight = 22;
// The summary of a secure rip, in place of the progress.
constexpr int kSummaryWidth = 420;
constexpr int kSummaryHeight = 260;
constexpr auto kSummaryRefresh = std::chrono::milliseconds(250);

const QString kCaption = QStringLiteral("Vellorine");
constexpr auto kDisplayInterval = std::chrono::milliseconds(40);

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

QString Q(const std::string& s) {
    return QString::fromStdString(s);
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

TRipForm::TRipForm(QWidget* owner, const QStringList& items, int cdHandle, int jobKind)
    : QDialog(owner), Items(items), JobKind(jobKind), CDHandle(cdHandle),
      itemCount_(static_cast<int>(items.size())),
      encoded_(static_cast<std::size_t>(items.size()), false) {
    progressSeen_.assign(encoded_.size(), false);
    setObjectName(QStringLiteral("RipForm"));
    std::vector<std::string> list;
    for (const QString& item : items) {
        list.push_back(item.toStdString());
    }
    plan_ = std::make_unique<TJobPlan>(static_cast<TJobKind>(jobKind), std::move(list),
                                       SnapshotSettings());
    // Only a rip has something to do while its tracks encode.
    if (plan_->EncodesAfterExtraction()) {
        encoders_ = std::clamp(plan_->Settings().Encoders, 1, kMaxEncoders);
    }
    CreateLayout();
    CreateComponents();
    // The program's own wrappers stay available to those that drive them directly; a job's
    // steps each have their own.
    if (!Mp3Process) {
        Mp3Process = std::make_unique<TMp3EncodeProcess>();
    }
    if (!WmaProcess) {
        WmaProcess = std::make_unique<TWMAEncodeProcess>();
    }
    Label1->clear();
    Label2->clear();
    FlatGauge1->setTextVisible(false);
    if (owner != nullptr) {
        const QWidget* main = owner->window();
        move(main->x() + (main->width() - width()) / 2,
             main->y() + (main->height() - height()) / 2);
    }
    if (itemCount_ == 0) {
        FinishAndClose();
        return;
    }
    StartFirstStep();
}

TRipForm::~TRipForm() {
    FinishJob();
    {
        std::lock_guard lock(sendMutex_);
        sendAbandoned_ = true;
    }
    sendDone_.notify_all();
    // The steps and sinks end their workers here; then nothing can post to this window.
    for (const QPointer<QObject>& holder : holders_) {
        delete holder.data();
    }
    WaveOut1.reset();
    RateConverter1.reset();
    WaveIn1.reset();
    // Records still queued for this window are freed by their handlers, which do nothing
    // else once the job has ended.
    QCoreApplication::sendPostedEvents(this, platform::MessageEvent::Type());
}

void TRipForm::CreateLayout() {
    setFont(QFont(QStringLiteral("Verdana"), 9));
    setFixedSize(273, kDesignedHeight);
    GroupBox1 = new QGroupBox(QStringLiteral("Extracting"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 2, 257, 78);
    FlatGauge1 = new QProgressBar(GroupBox1);
    FlatGauge1->setObjectName(QStringLiteral("FlatGauge1"));
    FlatGauge1->setRange(0, 100);
    FlatGauge1->setValue(0);
    FlatGauge1->setGeometry(10, 20, 237, 16);
    Label3 = new QLabel(QStringLiteral("Initializing..."), GroupBox1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setGeometry(10, 20, 237, 16);
    Label10 = new QLabel(QStringLiteral("Time elapsed:"), GroupBox1);
    Label10->setGeometry(10, 40, 110, 16);
    Label1 = new QLabel(GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(130, 40, 110, 16);
    Label20 = new QLabel(QStringLiteral("Time estimated:"), GroupBox1);
    Label20->setGeometry(10, 56, 110, 16);
    Label2 = new QLabel(GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(130, 56, 110, 16);
    Image1 = new QLabel(this);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_DriveCDIcon).pixmap(24, 24));
    Image1->setGeometry(16, 86, 24, 24);
    btStop = new QPushButton(QStringLiteral("Stop"), this);
    btStop->setObjectName(QStringLiteral("btStop"));
    btStop->setGeometry(186, 86, 75, 25);
    btStop->setAutoDefault(false);
    connect(btStop, &QPushButton::clicked, this, &TRipForm::btStopClick);
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TRipForm::Timer1Timer);
    displayTimer_ = new QTimer(this);
    displayTimer_->setSingleShot(true);
    displayTimer_->setInterval(kDisplayInterval);
    connect(displayTimer_, &QTimer::timeout, this, &TRipForm::ShowProgress);
}

void TRipForm::CreateComponents() {
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

void TRipForm::StartFirstStep() {
    switch (JobKind) {
    case jkExtract:
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
        SetGroupCaption("Decoding MP3 to WAV");
        StartEncode(0, plan_->Input(0));
        break;
    case jkRecordedToMp3:
        nextItem_ = 1;
        SetPhase("Encoding", 0);
        SetGroupCaption("Encoding WAV to MP3");
        StartEncode(0, plan_->Input(0));
        break;
    case jkWavToWma:
        nextItem_ = 1;
        SetPhase("Encoding", 0);
        SetGroupCaption("Encoding WAV to WMA");
        StartEncode(0, plan_->Input(0));
        break;
    case jkWavToFlac:
    case jkWavToOpus:
        nextItem_ = 1;
        SetPhase("Encoding", 0);
        SetGroupCaption(JobKind == jkWavToFlac ? "Encoding WAV to FLAC" : "Encoding WAV to Opus");
        StartEncode(0, plan_->Input(0));
        break;
    case jkFlacToWav:
        nextItem_ = 1;
        SetPhase("Decoding", 0);
        SetGroupCaption("Decoding FLAC to WAV");
        StartEncode(0, plan_->Input(0));
        break;
    default:
        FinishJob();
        QTimer::singleShot(0, this, [this] { done(QDialog::Rejected); });
        break;
    }
}

// ---- captions -------------------------------------------------------------------------

int TRipForm::ItemCount() const {
    return itemCount_;
}

int TRipForm::RunningEncodes() const {
    return static_cast<int>(std::count_if(steps_.begin(), steps_.end(),
                                          [](const auto& s) { return s.second.step != nullptr; }));
}

void TRipForm::SetPhase(const QString& phase, int i) {
    setWindowTitle(PhaseCaption(phase, i, ItemCount(), Q(plan_->CaptionName(i)), width()));
}

void TRipForm::SetGroupCaption(const QString& caption) {
    GroupBox1->setTitle(caption);
}

// The system's reason on a line of its own below the window's text, when there is one.
static QString WithCause(const QString& text, const std::string& cause) {
    return cause.empty() ? text : text + "\n" + QString::fromStdString(cause);
}

void TRipForm::ShowError(const QString& text) {
    platform::TheDialogs().MessageBox(this, text, kCaption, platform::MbIcon::Error,
                                      platform::MbButtons::Ok);
}

// ---- step starters --------------------------------------------------------------------

void TRipForm::StartRip(int i) {
    SetPhase("Extracting", i);
    Label3->setText(QStringLiteral("Initializing..."));
    Label3->show();
    SetGroupCaption("Extracting");
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
    RipThread->Resume();
}

bool TRipForm::RefusesOwnInput(int i, const std::string& input) {
    std::error_code ec;
    const std::string output = plan_->Output(i);
    if (!std::filesystem::equivalent(input, output, ec)) {
        return false;
    }
    ShowError(Q(output) + " is the file being converted; it cannot also be its output.");
    SkipEncode(i, 0);
    return true;
}

std::intptr_t TRipForm::AddStep(int i, std::unique_ptr<TEncodeStep> step) {
    const std::intptr_t id = step ? step->Request().StepId : nextStepId_++;
    TRunningStep running;
    running.item = i;
    running.step = std::move(step);
    if (Parallel() && running.step) {
        AddRow(running);
    }
    steps_.emplace(id, std::move(running));
    if (Parallel()) {
        FitRows(); // the new row takes its place under the others
    }
    mostAtOnce_ = std::max(mostAtOnce_, RunningEncodes());
    return id;
}

void TRipForm::SkipEncode(int i, std::int32_t status) {
    const std::intptr_t id = AddStep(i, nullptr);
    PostToSelf(plan_->EndCode(), status, {}, {}, id);
}

void TRipForm::StartEncode(int i, const std::string& input) {
    if (RefusesOwnInput(i, input)) {
        return;
    }
    TEncodeRequest request = plan_->EncodeRequest(i, input);
    request.StepId = nextStepId_++;
    std::unique_ptr<TEncodeStep> step = MakeEncodeStep(request, this);
    TEncodeStep& started = *step;
    const std::intptr_t id = AddStep(i, std::move(step));
    if (dynamic_cast<TWmaStep*>(&started) != nullptr) {
        // The clock is set before the start: a step that ends at once (the question
        // declined, no encoder) is handled inside Start and turns the timer off again.
        wmaStepId_ = id;
        WmaStart = Clock::now();
        displayTimer_->stop(); // the last step's progress is over
        FlatGauge1->setValue(0);
        if (JobKind == jkWavToWma && EncodeIndex_ > 0) {
            Label2->clear();
        }
        WmaInputSize = settings::FileSizeOf(input);
        Timer1->start();
    }
    started.Start(); // the step stays (and the job waits for Stop) when this throws
}

void TRipForm::ResampleCheck(int i) {
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
        ShowError(Q(input) + " is missing or is not a WAV file that can be converted.");
        SkipEncode(i, 0);
        return;
    }
    if (WaveIn1->SampleRate() >= 44100) {
        SetPhase("Encoding", i);
        SetGroupCaption(i == 0 ? (mp3 ? "Encoding WAV to MP3" : "Encoding WAV to OGG")
                               : "Encoding");
        StartEncode(i, input);
        return;
    }
    WaveOut1->SetFileName(plan_->ResampleTemp());
    OutputStart = Clock::now().time_since_epoch().count();
    SetGroupCaption("Resampling WAV");
    SetPhase("Resampling", i);
    resampling_ = true;
    firstStepItem_ = i;
    WaveOut1->Run();
}

void TRipForm::Pump() {
    if (!Items) {
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
        SetGroupCaption(decodes ? "Decoding" : "Encoding");
        StartEncode(i, plan_->Input(i));
        return;
    }
    while (!waiting_.empty() && static_cast<int>(steps_.size()) < encoders_ && Items) {
        const int t = waiting_.front();
        waiting_.erase(waiting_.begin());
        SetPhase("Encoding", t);
        SetGroupCaption("Encoding");
        StartEncode(t, plan_->Wav(t));
    }
    // One step at a time; with more encoders the next track is extracted while the
    // earlier ones encode, but never more than one waits for an encoder.
    const bool mayRip = Parallel() ? waiting_.empty() : steps_.empty();
    if (Items && !ripping_ && RipIndex_ < ItemCount() && mayRip) {
        StartRip(RipIndex_);
    }
}

// ---- messages -------------------------------------------------------------------------

bool TRipForm::event(QEvent* e) {
    return DispatchMessageEvent(e) || QDialog::event(e);
}

std::intptr_t TRipForm::HandleMessage(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
    if (msg == settings::WM_RIPERROR) {
        if (Items) {
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
        TRipForm* form;
        bool active;
        ~ReleaseSender() {
            if (!active) {
                return;
            }
            {
                std::lock_guard lock(form->sendMutex_);
                form->sendPending_ = false;
            }
            form->sendDone_.notify_all();
        }
    } release{this, info->Code == settings::PI_RESAMPLE_DONE};
    if (!Items) {
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

void TRipForm::OnProgress(const TProcessInfo& info, std::intptr_t stepId) {
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
        if (running != steps_.end() && running->second.rowGauge != nullptr && info.Code > 0 &&
            info.Code <= 100) {
            running->second.rowGauge->setValue(info.Code);
        }
        return;
    }
    shownElapsed_ = Q(info.Elapsed);
    shownEstimated_ = Q(info.Estimated);
    shownCode_ = info.Code;
    if (Clock::now() - lastDisplay_ >= kDisplayInterval) {
        ShowProgress();
    } else if (!displayTimer_->isActive()) {
        displayTimer_->start();
    }
}

void TRipForm::ShowProgress() {
    displayTimer_->stop();
    lastDisplay_ = Clock::now();
    Label1->setText(shownElapsed_);
    Label2->setText(shownEstimated_);
    if (shownCode_ > 0) {
        Label3->hide();
        FlatGauge1->setTextVisible(true);
        FlatGauge1->setValue(shownCode_);
    }
}

void TRipForm::OnNormalizeStarted() {
    SetPhase("Normalizing", RipIndex_);
}

void TRipForm::OnRipError(std::intptr_t which) {
    if (which == cd::RipErrorDriveSetup) {
        ShowError(QStringLiteral("CD extract failed!Please try again."));
    } else if (which == cd::RipErrorNoTrack) {
        ShowError(QStringLiteral("Error while reading TOC information!"));
    }
}

void TRipForm::SettleRipFile(int t, std::int32_t status) {
    const std::string written = plan_->RipOptions(t).WavPath;
    const std::string wav = plan_->Wav(t);
    if (status == cd::RipStatusReadFailed) {
        ShowError(QStringLiteral("Error while reading CD information!"));
    } else if (status == cd::RipStatusFileFailed) {
        if (plan_->UsableTitle(t) && IsUnfinishedRip(written)) {
            // Created but not completely written: nothing half-written stays behind.
            Remove(written);
            ShowError(WithCause(Q(wav) + " could not be written completely (is the disk full?).",
                                ErrorText(ripFileError_)));
            return;
        }
        ShowError(WithCause(Q(plan_->Settings().OutputFolder) + "/" + Q(plan_->Title(t)) + ".wav" +
                                " is not a valid file name.Please rename the Title in the CD "
                                "tracks list.",
                            ErrorText(ripFileError_)));
    } else if (status == cd::RipStatusNormalizeFailed) {
        ShowError(Q(wav) + " could not be normalized; it is kept as it was extracted.");
    } else if (status == cd::RipStatusUncorrectable && RipSession_) {
        platform::TheDialogs().MessageBox(
            this,
            Q(wav) + " has frames that could not be read reliably; see " +
                Q(RipSession_->LogPath()) + ".",
            kCaption, platform::MbIcon::Warning, platform::MbButtons::Ok);
    }
    // What the rip kept (all of it, or what it could read) takes its name.
    if (written != wav && Exists(written)) {
        std::error_code ec;
        std::filesystem::rename(written, wav, ec);
    }
}

void TRipForm::OnTrackExtracted(const TProcessInfo& info) {
    const int t = RipIndex_;
    ripping_ = false;
    ripFileError_ = RipThread ? RipThread->FileError.load() : 0;
    RipThread.reset(); // it has posted its last message
    SettleRipFile(t, info.Status);
    RipIndex_ += 1;
    if (!plan_->EncodesAfterExtraction()) {
        // WAV output: the extraction was the whole step.
        if (RipIndex_ == ItemCount()) {
            FinishAndClose();
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
        SkipEncode(t, kExtractionFailed);
    } else {
        waiting_.push_back(t);
    }
    Pump();
}

bool TRipForm::ReportEnd(const TProcessInfo& info, const TRunningStep& running, bool progressSeen) {
    const int exitCode = running.step ? running.step->ExitCode() : 0;
    const bool failedExit = info.Status == EncodeStatusEnded && exitCode != 0;
    const std::string output = plan_->Output(running.item);
    const QString item = Items->at(running.item);
    switch (info.Code) {
    case settings::PI_MP3_ENDED:
        if (info.Status == EncodeStatusInUse && !progressSeen) {
            ShowError(item + "maybe be used,operate fail!");
        } else if (info.Status == EncodeStatusEnded && (!progressSeen || failedExit)) {
            // lame does not say why; the output's folder can.
            ShowError(WithCause(QStringLiteral("Create MP3 file error!\nPlease check the output "
                                               "and lame options or run application again."),
                                WriteCause(TJobPlan::PartialName(output, running.item))));
        }
        break;
    case settings::PI_WMA_ENDED:
        if (info.Status == EncodeStatusInUse && !progressSeen) {
            ShowError(item + "maybe be used,operate fail!");
        } else if (info.Status == EncodeStatusErrorLine) {
            ShowError(Q(info.Elapsed));
        } else if (failedExit) {
            ShowError(Q(output) + ": the WMA encoder ended without finishing the file.");
        }
        break;
    case settings::PI_OGG_DONE:
    case settings::PI_FLAC_DONE:
    case settings::PI_OPUS_DONE:
    case settings::PI_FLAC_DECODED:
        if (info.Status == JobStatusWriterFailed) {
            ShowError(Q(output) + ": " + Q(info.Elapsed));
        }
        break;
    default:
        break;
    }
    return running.step != nullptr && running.step->Succeeded(info, progressSeen);
}

void TRipForm::OnEncodeEnded(const TProcessInfo& info, std::intptr_t stepId) {
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
        platform::TheDialogs().MessageBox(
            this, QStringLiteral("Error #%1! Could not save Tag!").arg(result.TagResult), kCaption,
            platform::MbIcon::None, platform::MbButtons::Ok);
    }
    EndItem(std::move(running), result.Produced, info.Code);
}

void TRipForm::EndItem(TRunningStep running, bool produced, std::int32_t code) {
    RemoveRow(running);
    const auto item = static_cast<std::size_t>(running.item);
    encoded_[item] = produced;
    progressSeen_[item] = false;
    Retire(std::move(running.step));
    int& index = code == settings::PI_OGG_DONE ? OggIndex_ : EncodeIndex_;
    index += 1;
    if (index == ItemCount()) {
        FinishAndClose();
        return;
    }
    Pump();
}

void TRipForm::OnResampleDone(const TProcessInfo& info) {
    resampling_ = false;
    const int i = firstStepItem_;
    if (info.Status == JobStatusWriterFailed) {
        Remove(plan_->ResampleTemp());
        ShowError(Q(plan_->Input(i)) + ": " + Q(info.Elapsed));
        TRunningStep failed;
        failed.item = i;
        EndItem(std::move(failed), false, plan_->EndCode());
        return;
    }
    SetPhase("Encoding", i);
    SetGroupCaption("Encoding");
    StartEncode(i, plan_->ResampleTemp());
}

// ---- progress rows (parallel jobs) ----------------------------------------------------

void TRipForm::AddRow(TRunningStep& running) {
    running.rowLabel = new QLabel(Q(plan_->CaptionName(running.item)), this);
    running.rowLabel->setObjectName(QStringLiteral("StepLabel"));
    running.rowGauge = new QProgressBar(this);
    running.rowGauge->setObjectName(QStringLiteral("StepGauge"));
    running.rowGauge->setRange(0, 100);
    running.rowGauge->setValue(0);
    running.rowLabel->show();
    running.rowGauge->show();
}

void TRipForm::RemoveRow(TRunningStep& running) {
    delete running.rowLabel;
    delete running.rowGauge;
    running.rowLabel = nullptr;
    running.rowGauge = nullptr;
    FitRows();
}

void TRipForm::FitRows() {
    int row = 0;
    for (const auto& [id, running] : steps_) {
        if (running.rowGauge == nullptr) {
            continue;
        }
        const int y = kDesignedHeight + row * kRowHeight;
        running.rowLabel->setGeometry(16, y, 110, 16);
        running.rowGauge->setGeometry(130, y, 135, 16);
        ++row;
    }
    setFixedSize(273, kDesignedHeight + row * kRowHeight + (row > 0 ? 4 : 0));
}

// ---- the WMA estimate -----------------------------------------------------------------

void TRipForm::Timer1Timer() {
    const std::chrono::duration<double> span = Clock::now() - WmaStart;
    const long long elapsed = RoundHalfEven(span.count());
    Label1->setText(Q(settings::MinSecText(elapsed)));
    const auto found = steps_.find(wmaStepId_);
    const auto* wma =
        found != steps_.end() ? dynamic_cast<const TWmaStep*>(found->second.step.get()) : nullptr;
    if (wma == nullptr || !wma->Active()) {
        return;
    }
    Label3->hide();
    const std::int64_t current = settings::FileSizeOf(wma->Writing());
    const auto estimate = WmaEstimate(elapsed, WmaInputSize, plan_->Settings().WmaPreset, current);
    if (!estimate) {
        return;
    }
    Label2->setText(Q(settings::MinSecText(*estimate)));
    FlatGauge1->setTextVisible(true);
    const auto percent = static_cast<int>(
        RoundHalfEven(static_cast<double>(elapsed) * 100.0 / static_cast<double>(*estimate)));
    if (percent > FlatGauge1->value()) {
        FlatGauge1->setValue(percent);
    }
}

// ---- pipeline events (worker threads) -------------------------------------------------

void TRipForm::PostToSelf(std::int32_t code, std::int32_t status, std::string elapsed,
                          std::string estimated, std::intptr_t stepId) {
    settings::PostProcessInfo(
        this, settings::NewProcessInfo(code, status, std::move(elapsed), std::move(estimated)),
        stepId);
}

void TRipForm::WaveOut1Progress() {
    const std::int32_t code = WaveOut1->Progress();
    const Clock::time_point start{Clock::duration{OutputStart.load()}};
    TimeTexts times = ProgressTimeTexts(SecondsSince(start), code);
    PostToSelf(code, 0, std::move(times.Elapsed), std::move(times.Estimated));
}

void TRipForm::WaveOut1Done() {
    std::unique_lock lock(sendMutex_);
    if (sendAbandoned_) {
        return;
    }
    sendPending_ = true;
    PostToSelf(settings::PI_RESAMPLE_DONE, 0);
    sendDone_.wait(lock, [this] { return !sendPending_ || sendAbandoned_; });
}

// ---- the end --------------------------------------------------------------------------

void TRipForm::Retire(std::unique_ptr<TEncodeStep> step) {
    if (step) {
        auto* holder = new TStepHolder(std::move(step), this);
        holder->deleteLater();
        holders_.erase(std::remove(holders_.begin(), holders_.end(), nullptr), holders_.end());
        holders_.emplace_back(holder);
    }
}

void TRipForm::StopSink(audio::TACSOutput& sink) {
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

void TRipForm::FinishAndClose() {
    FinishJob();
    if (RipSession_) {
        ShowSummary(); // the user reads how each track ended, then closes the window
        return;
    }
    // Later, not now: this may run inside an encoder's sent hand-over, which must return
    // before the window goes.
    QTimer::singleShot(0, this, [this] { done(QDialog::Accepted); });
}

void TRipForm::ShowSummary() {
    GroupBox1->hide();
    Image1->hide();
    btStop->hide();
    summary_ = new TRipSummaryPanel(this);
    connect(summary_->CloseButton(), &QPushButton::clicked, this,
            [this] { done(QDialog::Accepted); });
    setFixedSize(kSummaryWidth, kSummaryHeight);
    summary_->setGeometry(0, 0, kSummaryWidth, kSummaryHeight);
    summary_->show();
    summary_->CloseButton()->setFocus();
    summaryTimer_ = new QTimer(this);
    summaryTimer_->setInterval(kSummaryRefresh);
    connect(summaryTimer_, &QTimer::timeout, this, &TRipForm::RefreshSummary);
    summaryTimer_->start();
    RefreshSummary();
}

void TRipForm::RefreshSummary() {
    std::vector<cd::RipSummaryItem> items;
    for (int i = 0; i < itemCount_; ++i) {
        items.push_back(
            {plan_->Track(i), std::filesystem::path(plan_->Output(i)).filename().string()});
    }
    const bool answered = RipSession_->WaitForLookup(std::chrono::milliseconds(0));
    summary_->SetRows(cd::SummarizeRip(items, RipSession_->Tracks()),
                      cd::DiscResultText(RipSession_->Ctdb()));
    if (answered) {
        summaryTimer_->stop();
    }
}

void TRipForm::FinishJob() {
    if (!Items) {
        return;
    }
    if (RipThread) {
        RipThread->StopFlag = true;
        RipThread.reset();
    }
    if (ripping_ && plan_->UsableTitle(firstStepItem_)) {
        // A stopped extraction keeps what it read, as a complete WAV under its name.
        const std::string written = plan_->RipOptions(firstStepItem_).WavPath;
        const std::string wav = plan_->Wav(firstStepItem_);
        if (written != wav && Exists(written)) {
            std::error_code ec;
            std::filesystem::rename(written, wav, ec);
        }
    }
    ripping_ = false;
    Items.reset();
    Timer1->stop();
    displayTimer_->stop();
    // A step still running is stopped; what it wrote so far is not a finished file.
    for (auto& [id, running] : steps_) {
        if (running.step) {
            running.step->Stop();
        }
        RemoveRow(running);
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
    for (const std::string& file : plan_->CleanUp(RipIndex_, encoded_)) {
        DeleteUnlessInUse(file);
    }
}

void TRipForm::btStopClick() {
    FinishJob();
    close();
}

void TRipForm::done(int result) {
    FinishJob();
    QDialog::done(result);
}

} // namespace jobs
