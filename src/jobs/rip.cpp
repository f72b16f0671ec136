#include "jobs/rip.h"

#include <QCoreApplication>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
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
#include "audio/ACS_Vorbis.h"
#include "audio/ACS_Wave.h"
#include "cd/ripthread.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/OutputLines.h"
#include "jobs/WMAEncodeThread.h"
#include "platform/Dialogs.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"
#include "tags/id3.h"

namespace jobs {

const std::array<int, 33> WmaSizeRatio = {
    7315,  8770,  10949, 7316,   8772,   10954,  14581,  17471,  21790,  28963,  43174,
    28963, 43134, 28999, 34720,  43214,  68873,  43134,  62208,  68264,  68264,  84458,
    67963, 84150, 84150, 110460, 131113, 133765, 165296, 113717, 167692, 220395, 261485};

namespace {

using settings::TProcessInfo;
using Clock = std::chrono::steady_clock;

using settings::TOutputFormat;
using settings::TStepMaker;
constexpr int kDefaultWmaPreset = 8;
constexpr std::int64_t kSmallWmaInput = 2000000;
// How long a stopped pipeline sink may take to close its files.
constexpr auto kSinkStopTimeout = std::chrono::seconds(10);

const QString kCaption = QStringLiteral("Vellorine");
constexpr auto kDisplayInterval = std::chrono::milliseconds(40);

std::string WithExtension(const std::string& path, const char* ext) {
    return std::filesystem::path(path).replace_extension(ext).string();
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void DeleteUnlessInUse(const std::string& path) {
    if (Exists(path) && !settings::IsFileInUse(path)) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
}

// A title becomes a file name in the output folder; one that names another folder (or
// none) must not be written anywhere.
bool IsUsableTitle(const std::string& title) {
    return !title.empty() && title != "." && title != ".." &&
           title.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// A WAV the rip thread created but could not finish: shorter than its header, or still
// carrying the header's zero data size. A complete file of the same name from an earlier
// run is never taken for one.
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
    setObjectName(QStringLiteral("RipForm"));
    CreateLayout();
    CreateComponents();
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
    switch (JobKind) {
    case jkExtract:
        StartRip(0);
        break;
    case jkWavToMp3:
    case jkWavToOgg:
        ResampleCheck(0);
        break;
    case jkMp3ToWav:
        SetPhase("Decoding", 0);
        SetGroupCaption("Decoding MP3 to WAV");
        StartMp3(InputPath(0), OutputPath(0), false);
        break;
    case jkRecordedToMp3:
        SetPhase("Encoding", 0);
        SetGroupCaption("Encoding WAV to MP3");
        StartMp3(InputPath(0), OutputPath(0), true);
        break;
    case jkWavToWma:
        SetPhase("Encoding", 0);
        SetGroupCaption("Encoding WAV to WMA");
        StartWma(InputPath(0), OutputPath(0));
        break;
    default:
        FinishJob();
        QTimer::singleShot(0, this, [this] { done(QDialog::Rejected); });
        break;
    }
}

TRipForm::~TRipForm() {
    FinishJob();
    {
        std::lock_guard lock(sendMutex_);
        sendAbandoned_ = true;
    }
    sendDone_.notify_all();
    // The sinks end their workers here; then nothing can post to this window any more.
    VorbisOut1.reset();
    WaveOut1.reset();
    RateConverter1.reset();
    WaveIn1.reset();
    for (TEncoderProcess* wrapper : {static_cast<TEncoderProcess*>(Mp3Process.get()),
                                     static_cast<TEncoderProcess*>(WmaProcess.get())}) {
        if (wrapper != nullptr && wrapper->NotifyWindow == this) {
            wrapper->NotifyWindow = nullptr;
        }
    }
    // Records still queued for this window are freed by their handlers, which do nothing
    // else once the job has ended.
    QCoreApplication::sendPostedEvents(this, platform::MessageEvent::Type());
}

void TRipForm::CreateLayout() {
    setFont(QFont(QStringLiteral("Verdana"), 9));
    setFixedSize(273, 117);
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
    VorbisOut1 = std::make_unique<audio::TVorbisOut>();
    VorbisOut1->SetInput(WaveIn1.get());
    VorbisOut1->SetFileMode(audio::foRewrite);
    VorbisOut1->SetSerial(0);
    VorbisOut1->OnProgress = [this](audio::TACSOutput*) { VorbisOut1Progress(); };
    VorbisOut1->OnDone = [this](audio::TACSOutput*) { VorbisOut1Done(); };
    VorbisOut1->OnThreadException = [this](audio::TACSOutput*, const std::exception& e) {
        PostToSelf(settings::PI_OGG_DONE, JobStatusWriterFailed, e.what());
    };
}

// ---- names ----------------------------------------------------------------------------

int TRipForm::ItemCount() const {
    return itemCount_;
}

std::string TRipForm::Folder() const {
    return settings::IncludeBackslash(settings::Settings.CommonOptions.OutputFolder);
}

std::string TRipForm::Title(int i) const {
    return Items ? Items->at(i).mid(2).toStdString() : std::string();
}

int TRipForm::Track(int i) const {
    return Items ? Items->at(i).left(2).toInt() : 0;
}

std::string TRipForm::WavPath(int i) const {
    return Folder() + Title(i) + ".wav";
}

std::string TRipForm::InputPath(int i) const {
    return Items ? Items->at(i).toStdString() : std::string();
}

std::string TRipForm::OutputPath(int i) const {
    const std::string input = InputPath(i);
    const std::string name = std::filesystem::path(input).filename().string();
    switch (JobKind) {
    case jkWavToMp3:
        return WithExtension(Folder() + name, ".mp3");
    case jkMp3ToWav:
        return WithExtension(Folder() + name, ".wav");
    case jkRecordedToMp3:
        return WithExtension(input, ".mp3");
    case jkWavToOgg:
        return WithExtension(Folder() + name, ".ogg");
    case jkWavToWma:
        return WithExtension(Folder() + name, ".wma");
    default:
        return WavPath(i);
    }
}

std::string TRipForm::TempResamplePath() const {
    return Folder() + (JobKind == jkWavToOgg ? "MyReTemp.wav" : "MyMP3ReTemp.wav");
}

void TRipForm::SetPhase(const QString& phase, int i) {
    const QString name = Q(JobKind == jkExtract ? Title(i) : InputPath(i));
    setWindowTitle(phase + "(" + Q(settings::TwoDigits(i + 1)) + "/" +
                   Q(settings::TwoDigits(ItemCount())) + "): " + name);
}

void TRipForm::SetGroupCaption(const QString& caption) {
    GroupBox1->setTitle(caption);
}

void TRipForm::ShowError(const QString& text) {
    platform::TheDialogs().MessageBox(this, text, kCaption, platform::MbIcon::Error,
                                      platform::MbButtons::Ok);
}

bool TRipForm::OggMayRun() const {
    return JobKind == jkWavToOgg ||
           (JobKind == jkExtract &&
            settings::Settings.CommonOptions.OutputFormat == TOutputFormat::ofOgg);
}

// ---- step starters --------------------------------------------------------------------

void TRipForm::StartRip(int i) {
    SetPhase("Extracting", i);
    Label3->setText(QStringLiteral("Initializing..."));
    Label3->show();
    SetGroupCaption("Extracting");
    RipThread.reset();
    const std::string title = Title(i);
    if (!IsUsableTitle(title)) {
        PostToSelf(settings::PI_TRACK_EXTRACTED, cd::RipStatusFileFailed);
        return;
    }
    RipThread =
        std::make_unique<cd::TCDRipThread>(Track(i), title, settings::Settings.CommonOptions);
    RipThread->CDHandle = CDHandle;
    RipThread->NotifyWindow = this;
    if (!RipSession_) {
        RipSession_ = cd::SecureSessionFromSettings(); // null unless secure mode is on
    }
    RipThread->Session = RipSession_;
    RipThread->Resume();
}

bool TRipForm::RefusesOwnInput(const std::string& input, const std::string& output,
                               std::int32_t endCode) {
    std::error_code ec;
    if (!std::filesystem::equivalent(input, output, ec)) {
        return false;
    }
    ShowError(Q(output) + " is the file being converted; it cannot also be its output.");
    PostToSelf(endCode, 0);
    return true;
}

void TRipForm::PrepareEncoder(TEncoderProcess& process, const std::string& input,
                              const std::string& output, bool encode) {
    process.Active = true;
    process.NotifyWindow = this;
    process.InputFile = input;
    process.OutputFile = output;
    process.EncodeMode = encode;
    process.JobKind = static_cast<std::uint8_t>(JobKind);
    encodingOutput_ = output;
}

void TRipForm::StartMp3(const std::string& input, const std::string& output, bool encode) {
    if (RefusesOwnInput(input, output, settings::PI_MP3_ENDED)) {
        return;
    }
    PrepareEncoder(*Mp3Process, input, output, encode);
    Mp3Process->Start();
}

void TRipForm::StartWma(const std::string& input, const std::string& output) {
    if (RefusesOwnInput(input, output, settings::PI_WMA_ENDED)) {
        return;
    }
    PrepareEncoder(*WmaProcess, input, output, true);
    // The clock is set before the start: a step that ends at once (the question declined,
    // no encoder) is handled inside Start and turns the timer off again.
    WmaStart = Clock::now();
    displayTimer_->stop(); // the last step's progress is over
    FlatGauge1->setValue(0);
    if (JobKind == jkWavToWma && EncodeIndex_ > 0) {
        Label2->clear();
    }
    WmaInputSize = settings::FileSizeOf(input);
    Timer1->start();
    WmaProcess->Start();
}

void TRipForm::StartOgg(const std::string& input, const std::string& output) {
    if (RefusesOwnInput(input, output, settings::PI_OGG_DONE)) {
        return;
    }
    WaveIn1->SetFileName(input);
    VorbisOut1->SetFileName(output);
    ApplyVorbisSettings();
    encodingOutput_ = output;
    OutputStart = Clock::now().time_since_epoch().count();
    VorbisOut1->Run();
}

void TRipForm::ApplyVorbisSettings() {
    const settings::TOggOptions& o = settings::Settings.OggOptions;
    auto rate = [](int position) {
        return static_cast<audio::TVorbisBitRate>(std::clamp(position, 0, int(audio::br499)));
    };
    if (o.IsUseCompress) {
        VorbisOut1->SetCompression(static_cast<float>(o.CompressPosition - 10) / 100.0f);
        VorbisOut1->SetDesiredNominalBitrate(audio::brAutoSelect);
        VorbisOut1->SetDesiredMaximumBitrate(audio::brAutoSelect);
        VorbisOut1->SetMinimumBitrate(audio::brAutoSelect);
    } else {
        VorbisOut1->SetDesiredNominalBitrate(rate(o.NomalBitRate));
        VorbisOut1->SetDesiredMaximumBitrate(rate(o.MaxBitRate));
        VorbisOut1->SetMinimumBitrate(rate(o.MinBitRate));
        VorbisOut1->SetCompression(0.2f);
    }
}

void TRipForm::ResampleCheck(int i) {
    const std::string input = InputPath(i);
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
        PostToSelf(mp3 ? settings::PI_MP3_ENDED : settings::PI_OGG_DONE, 0);
        return;
    }
    if (WaveIn1->SampleRate() >= 44100) {
        SetPhase("Encoding", i);
        SetGroupCaption(i == 0 ? (mp3 ? "Encoding WAV to MP3" : "Encoding WAV to OGG")
                               : "Encoding");
        if (mp3) {
            StartMp3(input, OutputPath(i), true);
        } else {
            StartOgg(input, OutputPath(i));
        }
        return;
    }
    WaveOut1->SetFileName(TempResamplePath());
    OutputStart = Clock::now().time_since_epoch().count();
    SetGroupCaption("Resampling WAV");
    SetPhase("Resampling", i);
    WaveOut1->Run();
}

// ---- messages -------------------------------------------------------------------------

bool TRipForm::event(QEvent* e) {
    return DispatchMessageEvent(e) || QDialog::event(e);
}

std::intptr_t TRipForm::HandleMessage(unsigned msg, std::intptr_t /*wParam*/,
                                      std::intptr_t lParam) {
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
        OnMp3Ended(*info);
        break;
    case settings::PI_OGG_DONE:
        OnOggDone(*info);
        break;
    case settings::PI_RESAMPLE_DONE:
        OnResampleDone(*info);
        break;
    case settings::PI_WMA_ENDED:
        OnWmaEnded(*info);
        break;
    default:
        OnProgress(*info);
        break;
    }
    return 0;
}

void TRipForm::OnProgress(const TProcessInfo& info) {
    if (Timer1->isActive()) {
        Timer1->stop();
    }
    ProgressSeen = true;
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

void TRipForm::OnTrackExtracted(TProcessInfo& info) {
    const int t = RipIndex_;
    const std::string wav = WavPath(t);
    if (info.Status == cd::RipStatusReadFailed) {
        ShowError(QStringLiteral("Error while reading CD information!"));
    } else if (info.Status == cd::RipStatusFileFailed) {
        if (IsUsableTitle(Title(t)) && IsUnfinishedRip(wav)) {
            // Created but not completely written: nothing half-written stays behind.
            RemovePartialOutput(wav);
            ShowError(Q(wav) + " could not be written completely (is the disk full?).");
        } else {
            ShowError(Q(settings::Settings.CommonOptions.OutputFolder) + "/" + Q(Title(t)) +
                      ".wav" +
                      " is not a valid file name.Please rename the Title in the CD tracks list.");
        }
    } else if (info.Status == cd::RipStatusNormalizeFailed) {
        ShowError(Q(wav) + " could not be normalized; it is kept as it was extracted.");
    } else if (info.Status == cd::RipStatusUncorrectable && RipSession_) {
        platform::TheDialogs().MessageBox(
            this,
            Q(wav) + " has frames that could not be read reliably; see " +
                Q(RipSession_->LogPath()) + ".",
            kCaption, platform::MbIcon::Warning, platform::MbButtons::Ok);
    }
    RipIndex_ += 1;
    // A track with unreliable frames is complete and goes on to its encode step.
    const bool failed = info.Status != cd::RipStatusOk &&
                        info.Status != cd::RipStatusNormalizeFailed &&
                        info.Status != cd::RipStatusUncorrectable;
    const settings::TOutputFormatRow* row =
        settings::FormatRow(settings::Settings.CommonOptions.OutputFormat);
    if (row != nullptr && row->Step != TStepMaker::smNone) {
        if (row->Step == TStepMaker::smWmaHelper) {
            RipThread.reset();
        }
        if (failed) {
            // The track's encode step is skipped: its end event comes at once.
            PostToSelf(row->EndCode, 4);
            ProgressSeen = true;
            return;
        }
        SetPhase("Encoding", t);
        SetGroupCaption("Encoding");
        const std::string output = WithExtension(wav, row->Extension);
        if (row->Step == TStepMaker::smLame) {
            StartMp3(wav, output, true);
        } else if (row->Step == TStepMaker::smVorbis) {
            StartOgg(wav, output);
        } else {
            StartWma(wav, output);
        }
        return;
    }
    // WAV output: the extraction was the whole step.
    if (RipIndex_ == ItemCount()) {
        FinishAndClose();
    } else {
        StartRip(RipIndex_);
    }
}

void TRipForm::OnMp3Ended(const TProcessInfo& info) {
    const bool failedExit = info.Status == EncodeStatusEnded && Mp3Process->LastExitCode != 0;
    if (info.Status == EncodeStatusInUse && !ProgressSeen) {
        ShowError(Items->at(EncodeIndex_) + "maybe be used,operate fail!");
    } else if (info.Status == EncodeStatusEnded && (!ProgressSeen || failedExit)) {
        if (failedExit) {
            RemovePartialOutput(encodingOutput_);
        }
        ShowError(QStringLiteral("Create MP3 file error!\nPlease check the output and lame "
                                 "options or run application again."));
    }
    if (JobKind == jkExtract && info.Status == EncodeStatusEnded && ProgressSeen && !failedExit &&
        settings::Settings.ID3.Use) {
        WriteId3Tag(RipIndex_ - 1);
    }
    if (EndEncodeStep(EncodeIndex_, info.Status == EncodeStatusEnded && !failedExit)) {
        NextAfterEncode();
    }
}

void TRipForm::OnWmaEnded(const TProcessInfo& info) {
    Timer1->stop();
    const bool failedExit = info.Status == EncodeStatusEnded && WmaProcess->LastExitCode != 0;
    if (info.Status == EncodeStatusInUse && !ProgressSeen) {
        ShowError(Items->at(EncodeIndex_) + "maybe be used,operate fail!");
    } else if (info.Status == EncodeStatusErrorLine) {
        RemovePartialOutput(encodingOutput_);
        ShowError(Q(info.Elapsed));
    } else if (failedExit) {
        RemovePartialOutput(encodingOutput_);
        ShowError(Q(encodingOutput_) + ": the WMA encoder ended without finishing the file.");
    }
    if (EndEncodeStep(EncodeIndex_, info.Status == EncodeStatusEnded && !failedExit)) {
        NextAfterEncode();
    }
}

bool TRipForm::EndEncodeStep(int& index, bool ended) {
    NoteEncoded(index, ended);
    ProgressSeen = false;
    index += 1;
    if (index == ItemCount()) {
        FinishAndClose();
        return false;
    }
    return true;
}

void TRipForm::FinishAndClose() {
    FinishJob();
    // Later, not now: this may run inside an encoder's sent hand-over, which must return
    // before the window goes.
    QTimer::singleShot(0, this, [this] { done(QDialog::Accepted); });
}

void TRipForm::NoteEncoded(int i, bool ended) {
    if (ended && settings::FileSizeOf(encodingOutput_) > 0 && i < ItemCount()) {
        encoded_[static_cast<std::size_t>(i)] = true;
    }
    encodingOutput_.clear();
}

void TRipForm::NextAfterEncode() {
    const int i = EncodeIndex_;
    switch (JobKind) {
    case jkExtract:
        StartRip(RipIndex_);
        break;
    case jkWavToMp3:
        ResampleCheck(i);
        break;
    case jkMp3ToWav:
        SetPhase("Decoding", i);
        SetGroupCaption("Decoding");
        StartMp3(InputPath(i), OutputPath(i), false);
        break;
    case jkRecordedToMp3:
        SetPhase("Encoding", i);
        SetGroupCaption("Encoding");
        StartMp3(InputPath(i), OutputPath(i), true);
        break;
    case jkWavToWma:
        SetPhase("Encoding", i);
        SetGroupCaption("Encoding");
        StartWma(InputPath(i), OutputPath(i));
        break;
    default:
        break;
    }
}

void TRipForm::OnOggDone(const TProcessInfo& info) {
    if (info.Status == JobStatusWriterFailed) {
        RemovePartialOutput(encodingOutput_);
        ShowError(Q(encodingOutput_) + ": " + Q(info.Elapsed));
    }
    if (EndEncodeStep(OggIndex_, info.Status == 0)) {
        NextAfterOgg();
    }
}

void TRipForm::NextAfterOgg() {
    if (JobKind == jkExtract) {
        StartRip(RipIndex_);
    } else if (JobKind == jkWavToOgg) {
        ResampleCheck(OggIndex_);
    }
}

void TRipForm::OnResampleDone(const TProcessInfo& info) {
    const bool mp3 = JobKind == jkWavToMp3;
    if (info.Status == JobStatusWriterFailed) {
        RemovePartialOutput(TempResamplePath());
        ShowError(Q(InputPath(mp3 ? EncodeIndex_ : OggIndex_)) + ": " + Q(info.Elapsed));
        TProcessInfo ended;
        ended.Code = mp3 ? settings::PI_MP3_ENDED : settings::PI_OGG_DONE;
        ProgressSeen = true; // the failure has been shown; the end shows nothing more
        if (mp3) {
            OnMp3Ended(ended);
        } else {
            OnOggDone(ended);
        }
        return;
    }
    const int i = mp3 ? EncodeIndex_ : OggIndex_;
    SetPhase("Encoding", i);
    SetGroupCaption("Encoding");
    if (mp3) {
        StartMp3(TempResamplePath(), OutputPath(i), true);
    } else {
        StartOgg(TempResamplePath(), OutputPath(i));
    }
}

// ---- the tag --------------------------------------------------------------------------

void TRipForm::WriteId3Tag(int t) {
    const settings::TDiscInfo& disc = settings::DiscInfo;
    tags::Tid3tag tag;
    tag.SetTitle(Title(t));
    tag.SetArtist(disc.Artist);
    tag.SetAlbum(disc.Album);
    tag.SetYear(disc.Year);
    tag.Genre = tags::GenreIndexToCode(disc.Genre);
    tag.SetComment(disc.Comment);
    tag.SetTrack(static_cast<std::uint8_t>(std::clamp(Track(t), 0, 255)));
    const std::uint16_t result = tag.WriteTag(WithExtension(WavPath(t), ".mp3"));
    if (result > 255) {
        platform::TheDialogs().MessageBox(
            this, QStringLiteral("Error #%1! Could not save Tag!").arg(result), kCaption,
            platform::MbIcon::None, platform::MbButtons::Ok);
    }
}

// ---- the WMA estimate -----------------------------------------------------------------

void TRipForm::Timer1Timer() {
    const std::chrono::duration<double> span = Clock::now() - WmaStart;
    const long long elapsed = RoundHalfEven(span.count());
    Label1->setText(Q(settings::MinSecText(elapsed)));
    if (!WmaProcess || !WmaProcess->Active) {
        return;
    }
    Label3->hide();
    const std::int64_t current = settings::FileSizeOf(WmaProcess->OutputFile);
    const auto estimate =
        WmaEstimate(elapsed, WmaInputSize, settings::Settings.WMAOptions.BitRate, current);
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
                          std::string estimated) {
    settings::PostProcessInfo(
        this, settings::NewProcessInfo(code, status, std::move(elapsed), std::move(estimated)));
}

void TRipForm::PostOutputProgress(audio::TACSOutput& sink) {
    const std::int32_t code = sink.Progress();
    const Clock::time_point start{Clock::duration{OutputStart.load()}};
    TimeTexts times = ProgressTimeTexts(SecondsSince(start), code);
    PostToSelf(code, 0, std::move(times.Elapsed), std::move(times.Estimated));
}

void TRipForm::WaveOut1Progress() {
    PostOutputProgress(*WaveOut1);
}

void TRipForm::VorbisOut1Progress() {
    PostOutputProgress(*VorbisOut1);
}

void TRipForm::VorbisOut1Done() {
    PostToSelf(settings::PI_OGG_DONE, 0);
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

void TRipForm::RemovePartialOutput(const std::string& path) {
    if (!path.empty()) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
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

void TRipForm::FinishJob() {
    if (!Items) {
        return;
    }
    if (RipThread) {
        RipThread->StopFlag = true;
        RipThread.reset();
    }
    const settings::TCommonOptions& common = settings::Settings.CommonOptions;
    const settings::TOutputFormatRow* row = settings::FormatRow(common.OutputFormat);
    if (JobKind == jkExtract && RipIndex_ == ItemCount() && row != nullptr &&
        row->Step != TStepMaker::smNone && !common.IsKeepWav) {
        for (int i = 0; i < ItemCount(); ++i) {
            // A track whose encode did not finish keeps its WAV: it is all there is of it.
            if (encoded_[static_cast<std::size_t>(i)]) {
                DeleteUnlessInUse(WavPath(i));
            }
        }
    }
    Items.reset();
    Timer1->stop();
    displayTimer_->stop();
    // A child still running is killed; what it wrote so far is not a finished file.
    for (TEncoderProcess* wrapper : {static_cast<TEncoderProcess*>(Mp3Process.get()),
                                     static_cast<TEncoderProcess*>(WmaProcess.get())}) {
        if (wrapper != nullptr && wrapper->Active) {
            const bool running = wrapper->ChildPid() != 0;
            wrapper->StopProcess(0);
            if (running) {
                RemovePartialOutput(wrapper->OutputFile);
            }
        }
    }
    {
        std::lock_guard lock(sendMutex_);
        sendAbandoned_ = true;
    }
    sendDone_.notify_all();
    const bool oggRunning = OggMayRun() && VorbisOut1->Busy();
    StopSink(*VorbisOut1);
    if (oggRunning) {
        RemovePartialOutput(VorbisOut1->FileName());
    }
    StopSink(*WaveOut1);
    if (JobKind == jkWavToOgg || JobKind == jkWavToMp3) {
        DeleteUnlessInUse(TempResamplePath());
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
