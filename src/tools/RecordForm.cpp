#include "tools/RecordForm.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "jobs/rip.h"
#include "platform/ProgramFolder.h"
#include "platform/Shell.h"
#include "settings/Global.h"
#include "tools/NewRecordFileForm.h"

namespace tools {

namespace {

namespace fs = std::filesystem;
using platform::MbButtons;
using platform::MbIcon;
using platform::MbResult;
using platform::WaveAudioMode;

constexpr int kTrackMax = 400;
const QString kIdle = "-----------";
const QString kSoundFilter = "Sound file(*.wav)|*.wav|All files(*.*)|*.*";
const QString kNoName = "NoName";
const QString kSaveFailed = "Error when saving WAV file,please check if the file is being uesd.";

QString TwoDigitText(int64_t n) {
    return n < 10 ? QString("0%1").arg(n) : QString::number(n);
}

std::string Path(const QString& path) {
    return path.toStdString();
}

bool Exists(const QString& path) {
    std::error_code ec;
    return fs::exists(Path(path), ec);
}

void RemoveIfExists(const QString& path) {
    std::error_code ec;
    fs::remove(Path(path), ec);
}

// Copies a file over another through a temporary file beside the target and one rename,
// so the target is either the old file or the whole copy.
bool CopyReplacing(const QString& from, const QString& to) {
    const std::string temp = Path(to) + ".saving";
    std::error_code ec;
    fs::copy_file(Path(from), temp, fs::copy_options::overwrite_existing, ec);
    if (!ec) {
        fs::rename(temp, Path(to), ec);
    }
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

// Moves a file; across file systems by a copy and a removal.
bool MoveFile(const QString& from, const QString& to) {
    std::error_code ec;
    fs::rename(Path(from), Path(to), ec);
    if (ec == std::errc::cross_device_link) {
        if (!CopyReplacing(from, to)) {
            return false;
        }
        fs::remove(Path(from), ec);
        return true;
    }
    return !ec;
}

bool EndsWithWav(const QString& name) {
    return name.endsWith(".wav", Qt::CaseInsensitive);
}

// Whether two names lead to one file, however they are spelled (dot segments, links).
bool SameFile(const QString& a, const QString& b) {
    std::error_code ec;
    if (fs::equivalent(Path(a), Path(b), ec)) {
        return true;
    }
    return fs::weakly_canonical(Path(a), ec) == fs::weakly_canonical(Path(b), ec);
}

// A name for sound that could not be saved to its document: beside the recorder's own
// files, after the document, never replacing a file.
QString FreeKeptName(const QString& document) {
    const QString folder = QString::fromStdString(platform::ProgramFolder());
    const QString base = QFileInfo(document).completeBaseName();
    for (int n = 1;; ++n) {
        const QString suffix = n == 1 ? " (unsaved).wav" : QString(" (unsaved %1).wav").arg(n);
        const QString name = folder + base + suffix;
        if (!Exists(name)) {
            return name;
        }
    }
}

} // namespace

QString DurationText(int64_t ms) {
    if (ms < 60000) {
        return QString::number(static_cast<double>(ms) / 1000.0, 'g', 3) + " Sec";
    }
    const int64_t seconds = ms / 1000;
    QString text;
    if (seconds / 3600 != 0) {
        text += QString::number(seconds / 3600) + "Hour";
    }
    if (seconds / 60 % 60 != 0) {
        text += QString::number(seconds / 60 % 60) + " Min";
    }
    if (seconds % 60 != 0) {
        text += QString::number(seconds % 60) + " Sec";
    }
    return text;
}

QString RecordTimeText(int64_t ms) {
    const int64_t seconds = ms / 1000;
    return TwoDigitText(seconds / 3600) + ":" + TwoDigitText(seconds / 60 % 60) + ":" +
           TwoDigitText(seconds % 60) + "." + QString::number(ms % 1000 / 100);
}

TfrmRecord::TfrmRecord(QWidget* owner, int cdHandle) : QDialog(owner), cdHandle_(cdHandle) {
    setObjectName("frmRecord");
    CreateControls();
    CreateMenu();
    FormCreate();
}

TfrmRecord::~TfrmRecord() {
    if (!closing_) {
        FormClose();
    }
}

QString TfrmRecord::ScratchFile() const {
    return QString::fromStdString(platform::ProgramFolder()) + "MyNoName.wav";
}

void TfrmRecord::CreateControls() {
    setWindowTitle("Record");
    setMinimumWidth(340);
    auto* group = new QGroupBox("Record", this);
    auto* grid = new QGridLayout(group);
    lbState = new QLabel(kIdle, group);
    lbState->setObjectName("lbState");
    MediaPlayer1 = new TMediaPlayer(group);
    MediaPlayer1->setObjectName("MediaPlayer1");
    MediaPlayer1->setToolTip("The buttons are Play,Stop,Next, Previous, Step, Back, "
                             "StartRecording, and Eject.");
    MediaPlayer1->SetVisibleButtons({TMPBtnType::btPlay, TMPBtnType::btStop, TMPBtnType::btNext,
                                     TMPBtnType::btPrev, TMPBtnType::btStep, TMPBtnType::btBack,
                                     TMPBtnType::btRecord});
    MediaPlayer1->SetEnabledButtons({});
    MediaPlayer1->Notify = true;
    MediaPlayer1->OnClick = [this](TMPBtnType button, bool& doDefault) {
        MediaPlayer1Click(button, doDefault);
    };
    MediaPlayer1->OnNotify = [this](platform::MciNotify result) { MediaPlayer1Notify(result); };
    TrackBar1 = new QSlider(Qt::Horizontal, group);
    TrackBar1->setObjectName("TrackBar1");
    TrackBar1->setRange(0, kTrackMax);
    TrackBar1->setTickInterval(40);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    connect(TrackBar1, &QSlider::valueChanged, this, &TfrmRecord::TrackBar1Change);
    lbPosition = new QLabel(group);
    lbPosition->setObjectName("lbPosition");
    lbLength = new QLabel("0.00Sec", group);
    lbLength->setObjectName("lbLength");
    panRecordTime = new QLabel("00:00:00.0", group);
    panRecordTime->setObjectName("panRecordTime");
    panRecordTime->setToolTip("The time length of current recording");
    panRecordTime->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panRecordTime->setAlignment(Qt::AlignCenter);
    grid->addWidget(lbState, 0, 0, 1, 4);
    grid->addWidget(MediaPlayer1, 1, 0, 1, 4);
    grid->addWidget(TrackBar1, 2, 0, 1, 4);
    grid->addWidget(new QLabel("Position", group), 3, 0);
    grid->addWidget(lbPosition, 3, 1);
    grid->addWidget(new QLabel("Length", group), 3, 2);
    grid->addWidget(lbLength, 3, 3);
    grid->addWidget(panRecordTime, 4, 0, 1, 4);

    btnStart = new QPushButton("Start", this);
    btnStart->setObjectName("btnStart");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(btnStart, 0, Qt::AlignLeft);

    Timer1 = new QTimer(this);
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TfrmRecord::Timer1Timer);
    TimerRecord = new QTimer(this);
    TimerRecord->setInterval(100);
    connect(TimerRecord, &QTimer::timeout, this, &TfrmRecord::TimerRecordTimer);
}

void TfrmRecord::CreateMenu() {
    PopupMenu1 = new QMenu(this);
    auto add = [this](const char* name, const QString& caption, auto handler) {
        QAction* action = PopupMenu1->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    miNew = add("miNew", "&New...", &TfrmRecord::miNewClick);
    miOpen = add("miOpen", "&Open...", &TfrmRecord::miOpenClick);
    miSave = add("miSave", "&Save", &TfrmRecord::actSaveExecute);
    miSaveAs = add("miSaveAs", "Save &As...", &TfrmRecord::actSaveAsExecute);
    miUndo = add("miUndo", "&Undo", &TfrmRecord::actUndoExecute);
    PopupMenu1->addSeparator();
    miRecordOptionSet =
        add("miRecordOptionSet", "&Recording Control...", &TfrmRecord::miRecordOptionSetClick);
    miSaveMp3 = PopupMenu1->addAction("&MP3 format");
    miSaveMp3->setObjectName("miSaveMp3");
    miSaveMp3->setCheckable(true);
    PopupMenu1->addSeparator();
    pmExit = add("pmExit", "&Exit", &QWidget::close);
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmRecord::UpdateActions);
    btnStart->setMenu(PopupMenu1);
}

void TfrmRecord::FormCreate() {
    miSaveMp3->setChecked(settings::Settings.RecordOptions.SaveMp3);
    CurrentFile_.clear();
    WorkFile_ = QString::fromStdString(platform::ProgramFolder()) + "MyTemp.wav";
    UpdateActions();
}

void TfrmRecord::done(int result) {
    if (!closing_) {
        FormClose();
    }
    QDialog::done(result);
}

void TfrmRecord::FormClose() {
    closing_ = true;
    settings::Settings.RecordOptions.SaveMp3 = miSaveMp3->isChecked();
    Timer1->stop();
    SaveIfModified(true); // the answer cannot keep the window open
    MediaPlayer1->Close();
    // Cancel or a failed save leaves a named document's new sound only in the work file,
    // which the next document opened would replace.
    if (Modified_ && !IsScratch() && Exists(WorkFile_)) {
        KeepUnsavedWork();
    } else {
        RemoveIfExists(WorkFile_);
    }
}

void TfrmRecord::KeepUnsavedWork() {
    const QString kept = FreeKeptName(CurrentFile_);
    if (MoveFile(WorkFile_, kept)) {
        platform::InfoBox(this, "The recording was not saved to " + CurrentFile_ +
                                    ".\r\nIt is kept in " + kept + ".");
    } else {
        platform::ErrorBox(this, "The recording was not saved to " + CurrentFile_ +
                                     ".\r\nIt is left in " + WorkFile_ +
                                     "; copy it elsewhere before recording again.");
    }
}

bool TfrmRecord::IsReserved(const QString& path) const {
    return SameFile(path, ScratchFile()) || SameFile(path, WorkFile_);
}

bool TfrmRecord::RefuseReservedTarget(const QString& path) {
    if (!IsReserved(path)) {
        return false;
    }
    platform::InfoBox(this, path + " is the recorder's own working file.\r\n"
                                   "Please save the sound under another name.");
    return true;
}

// ---- media-player buttons -------------------------------------------------------------

void TfrmRecord::MediaPlayer1Click(TMPBtnType button, bool& doDefault) {
    switch (button) {
    case TMPBtnType::btPlay:
        PlayClick();
        break;
    case TMPBtnType::btStop:
        StopClick();
        break;
    case TMPBtnType::btNext:
        TrackBar1->setValue(kTrackMax);
        MediaPlayer1->SetEnabledButtons(
            {TMPBtnType::btPlay, TMPBtnType::btPrev, TMPBtnType::btRecord});
        break;
    case TMPBtnType::btPrev:
        TrackBar1->setValue(0);
        MediaPlayer1->SetEnabledButtons(
            {TMPBtnType::btPlay, TMPBtnType::btNext, TMPBtnType::btRecord});
        break;
    case TMPBtnType::btRecord:
        RecordClick(doDefault);
        break;
    default:
        break;
    }
    UpdateActions();
}

void TfrmRecord::PlayClick() {
    if (TrackBar1->value() == kTrackMax) {
        TrackBar1->setValue(0);
    }
    if (!Timer1->isActive()) {
        const int64_t start = MediaPlayer1->Length() * TrackBar1->value() / kTrackMax;
        MediaPlayer1->StartPos = start;
        PlayElapsedMs_ = start;
    }
    lbState->setText("Playing...");
    Timer1->start();
    MediaPlayer1->SetEnabledButtons(
        {TMPBtnType::btPause, TMPBtnType::btStop, TMPBtnType::btNext, TMPBtnType::btPrev});
}

void TfrmRecord::StopClick() {
    TrackBar1->setValue(0);
    Timer1->stop();
    if (TimerRecord->isActive()) {
        // The device records on while the window waits, so a recording ends close to a
        // whole second of the time shown.
        if (RecordMsPart_ > 100) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000 - RecordMsPart_));
        }
        TimerRecordTimer();
        TimerRecord->stop();
    }
    lbState->setText(kIdle);
    if (MediaPlayer1->Mode() == WaveAudioMode::Recording) {
        EndRecording();
    }
    MediaPlayer1->SetEnabledButtons(
        {TMPBtnType::btPlay, TMPBtnType::btNext, TMPBtnType::btPrev, TMPBtnType::btRecord});
}

// Saves the recording into the device's file and shows its new length.
void TfrmRecord::EndRecording() {
    const bool saved = MediaPlayer1->Save();
    TrackBar1->setValue(kTrackMax);
    ShowLength();
    lbState->setText("Record over!");
    if (!saved) {
        platform::ErrorBox(this, "Error while saving sound file!\n" + MediaPlayer1->LastError());
    }
}

void TfrmRecord::RecordClick(bool& doDefault) {
    if (Exists(WorkFile_)) {
        MediaPlayer1->StartPos = MediaPlayer1->Length() * TrackBar1->value() / kTrackMax;
    }
    if (!MediaPlayer1->StartRecording()) {
        doDefault = false;
        platform::ErrorBox(this, "Could not start recording:\n" + MediaPlayer1->LastError());
        return;
    }
    // The time shown counts from when the device really records: connecting to the sound
    // server may take a while on a busy machine.
    RecordStart_ = std::chrono::steady_clock::now();
    RecordMsPart_ = 0;
    TimerRecord->start();
    lbState->setText("Recording...");
    Modified_ = true;
    MediaPlayer1->SetEnabledButtons({TMPBtnType::btStop});
}

void TfrmRecord::MediaPlayer1Notify(platform::MciNotify result) {
    if (result != platform::MciNotify::Failure || !TimerRecord->isActive()) {
        return;
    }
    // The recording ended by itself (full disk, sound server gone): end it as Stop does;
    // what was recorded is in the file.
    TimerRecord->stop();
    TrackBar1->setValue(kTrackMax);
    ShowLength();
    lbState->setText("Record over!");
    MediaPlayer1->SetEnabledButtons(
        {TMPBtnType::btPlay, TMPBtnType::btNext, TMPBtnType::btPrev, TMPBtnType::btRecord});
    UpdateActions();
    platform::ErrorBox(this, "Error while saving sound file!\n" + MediaPlayer1->LastError());
}

void TfrmRecord::PressStop() {
    bool doDefault = true;
    MediaPlayer1Click(TMPBtnType::btStop, doDefault);
    MediaPlayer1->Stop();
}

// ---- timers and track bar -------------------------------------------------------------

void TfrmRecord::Timer1Timer() {
    PlayElapsedMs_ += 500;
    const int64_t length = MediaPlayer1->Length();
    if (PlayElapsedMs_ < length) {
        TrackBar1->setValue(static_cast<int>(PlayElapsedMs_ * kTrackMax / length));
        return;
    }
    TrackBar1->setValue(kTrackMax);
    Timer1->stop();
    MediaPlayer1->SetEnabledButtons({TMPBtnType::btPlay, TMPBtnType::btPrev, TMPBtnType::btRecord});
    lbState->setText(kIdle);
    UpdateActions();
}

void TfrmRecord::TimerRecordTimer() {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - RecordStart_)
                             .count();
    RecordElapsedMs_ = elapsed;
    RecordMsPart_ = static_cast<int>(elapsed % 1000);
    panRecordTime->setText(RecordTimeText(elapsed));
}

void TfrmRecord::TrackBar1Change() {
    if (!MediaPlayer1->IsOpen()) {
        return;
    }
    const int64_t length = MediaPlayer1->Length();
    if (length > 0) {
        lbPosition->setText(DurationText(length * TrackBar1->value() / kTrackMax));
    }
}

void TfrmRecord::ShowLength() {
    lbLength->setText(DurationText(MediaPlayer1->Length()));
}

// ---- menu -----------------------------------------------------------------------------

void TfrmRecord::UpdateActions() {
    const bool canSave = MediaPlayer1->IsEnabled(TMPBtnType::btRecord);
    miSave->setEnabled(canSave);
    miSaveAs->setEnabled(canSave);
    miUndo->setEnabled(Modified_ && lbState->text() != "Recording..." && !CurrentFile_.isEmpty() &&
                       !IsScratch());
}

void TfrmRecord::SetCaption(const QString& name) {
    setWindowTitle("Record(" + name + ")");
}

void TfrmRecord::miNewClick() {
    if (!SaveIfModified(true)) {
        return;
    }
    TfrmNewRecordFile dialog(this);
    if (platform::TheDialogs().ExecModal(&dialog) != QDialog::Accepted) {
        return;
    }
    CurrentFile_ = ScratchFile();
    MediaPlayer1->Close();
    const bool ready = platform::WriteEmptyWav(Path(CurrentFile_), dialog.Channels(),
                                               dialog.SampleRate(), dialog.Bits()) &&
                       MediaPlayer1->Open(CurrentFile_);
    if (ready) {
        MediaPlayer1->SetEnabledButtons({TMPBtnType::btRecord});
    } else {
        MediaPlayer1->SetEnabledButtons({});
        platform::TheDialogs().MessageBox(this, "Error while initializing MCI device!", "Vellorine",
                                          MbIcon::Error, MbButtons::Ok);
    }
    panRecordTime->setText("00:00:00.0");
    lbLength->setText("0.00 Sec");
    lbPosition->setText("0.00 Sec");
    SetCaption(kNoName);
    TrackBar1->setValue(0);
    Mp3Exported_ = false;
    UpdateActions();
}

void TfrmRecord::miOpenClick() {
    if (!SaveIfModified(true)) {
        return;
    }
    platform::FileDialogRequest request;
    request.title = "Please select a sound file to open";
    request.filter = kSoundFilter;
    request.initialDir = QString::fromStdString(platform::ProgramFolder());
    for (;;) {
        const QStringList chosen = platform::TheDialogs().OpenFiles(this, request);
        if (chosen.isEmpty()) {
            return;
        }
        QString path = chosen.front();
        if (QFileInfo(path).suffix().isEmpty() && !Exists(path)) {
            path += ".wav"; // the dialog's default extension
        }
        if (path == CurrentFile_) {
            return;
        }
        if (Exists(path) && IsReserved(path)) {
            // The recorder writes these files itself: as a document, its own work would
            // replace the sound in them.
            platform::TheDialogs().MessageBox(
                this,
                path + " is the recorder's own working file and cannot be opened.\r\n"
                       "Copy it under another name to open it.",
                "Vellorine", MbIcon::Warning, MbButtons::Ok);
            continue;
        }
        if (Exists(path)) {
            CurrentFile_ = path;
            SetCaption(path);
            TrackBar1->setValue(0);
            Mp3Exported_ = false;
            OpenDocument(path);
            UpdateActions();
            return;
        }
        platform::TheDialogs().MessageBox(this,
                                          "Please check the filename correct or not\r\n"
                                          "Could not be found" +
                                              QString(QChar(0xFF01)) + "\r\n" + path,
                                          "Vellorine", MbIcon::Warning, MbButtons::Ok);
    }
}

bool TfrmRecord::OpenDocument(const QString& path) {
    CurrentFile_ = path;
    const bool copied = CopyReplacing(path, WorkFile_);
    MediaPlayer1->Close();
    if (!copied || !MediaPlayer1->Open(WorkFile_)) {
        MediaPlayer1->SetEnabledButtons({});
        const QString reason = copied ? MediaPlayer1->LastError() : "Cannot read " + path;
        platform::ErrorBox(this, "Error while initializing MCI device!\n" + reason);
        SetCaption(path);
        return false;
    }
    MediaPlayer1->SetEnabledButtons({TMPBtnType::btPlay, TMPBtnType::btNext, TMPBtnType::btRecord});
    ShowLength();
    SetCaption(path);
    return true;
}

bool TfrmRecord::ReopenDevice(const QString& path) {
    return MediaPlayer1->Open(path);
}

bool TfrmRecord::SaveIfModified(bool ask) {
    if (CurrentFile_.isEmpty()) {
        return true;
    }
    if (MediaPlayer1->IsEnabled(TMPBtnType::btStop)) {
        PressStop();
    }
    if (!Modified_ && (!IsScratch() || ask)) {
        return true;
    }
    if (Modified_ && ask) {
        const QString name = IsScratch() ? kNoName : CurrentFile_;
        const MbResult answer = platform::TheDialogs().MessageBox(
            this, name + " has been modified,Save it?", "Vellorine", MbIcon::Information,
            MbButtons::YesNoCancel, MbResult::Yes);
        if (answer == MbResult::Cancel) {
            return false;
        }
        if (answer == MbResult::No) {
            Modified_ = false;
            return true;
        }
    }
    if (!IsScratch()) {
        if (settings::IsFileInUse(Path(CurrentFile_)) || !CopyReplacing(WorkFile_, CurrentFile_)) {
            platform::ErrorBox(this, kSaveFailed);
            return false;
        }
        ExportMp3();
        Modified_ = false;
        return true;
    }
    return SaveNewRecording();
}

platform::FileDialogRequest TfrmRecord::SaveRequest() const {
    platform::FileDialogRequest request;
    request.title = "Save the sound file";
    request.filter = kSoundFilter;
    request.initialDir = QString::fromStdString(platform::ProgramFolder());
    return request;
}

bool TfrmRecord::CheckWavName(const QString& name) {
    if (EndsWithWav(name)) {
        return true;
    }
    platform::InfoBox(this, "The save file should be WAV!");
    return false;
}

bool TfrmRecord::SaveNewRecording() {
    const QString chosen = platform::TheDialogs().SaveFile(this, SaveRequest());
    if (chosen.isEmpty() || !CheckWavName(chosen) || RefuseReservedTarget(chosen)) {
        return false;
    }
    if (Exists(chosen)) {
        if (!platform::YesNoBox(this, chosen + " has existed,overite it?")) {
            return false;
        }
        std::error_code ec;
        if (settings::IsFileInUse(Path(chosen)) || !fs::remove(Path(chosen), ec)) {
            platform::ErrorBox(this,
                               "Error when deleting file, please check if the file is being uesd.");
            return false;
        }
    }
    MediaPlayer1->Close();
    RemoveIfExists(WorkFile_);
    if (!MoveFile(CurrentFile_, chosen)) {
        ReopenDevice(CurrentFile_);
        platform::ErrorBox(this, kSaveFailed);
        return false;
    }
    OpenDocument(chosen);
    ExportMp3();
    Modified_ = false;
    return true;
}

void TfrmRecord::actSaveExecute() {
    SaveIfModified(false);
    UpdateActions();
}

void TfrmRecord::actSaveAsExecute() {
    const QString chosen = platform::TheDialogs().SaveFile(this, SaveRequest());
    if (chosen.isEmpty() || !CheckWavName(chosen) || RefuseReservedTarget(chosen)) {
        return;
    }
    if (Exists(chosen)) {
        if (!platform::YesNoBox(this, chosen + " has existed,overite it?")) {
            return;
        }
        if (settings::IsFileInUse(Path(chosen))) {
            platform::ErrorBox(this, kSaveFailed);
            return;
        }
    }
    const QString deviceFile = IsScratch() ? CurrentFile_ : WorkFile_;
    MediaPlayer1->Close();
    const bool saved =
        IsScratch() ? MoveFile(CurrentFile_, chosen) : CopyReplacing(WorkFile_, chosen);
    if (!saved) {
        ReopenDevice(deviceFile);
        platform::ErrorBox(this, kSaveFailed);
        return;
    }
    // The MP3 goes beside the new name, and one already there is asked about again.
    if (chosen != CurrentFile_) {
        Mp3Exported_ = false;
    }
    CurrentFile_ = chosen;
    ExportMp3();
    OpenDocument(chosen);
    UpdateActions();
}

void TfrmRecord::actUndoExecute() {
    if (!platform::YesNoBox(this, "Discard the modification since last save file.")) {
        return;
    }
    MediaPlayer1->Close();
    if (!CopyReplacing(CurrentFile_, WorkFile_) || !MediaPlayer1->Open(WorkFile_)) {
        ReopenDevice(WorkFile_);
        platform::ErrorBox(this,
                           "Error while initializing MCI device!\n" + MediaPlayer1->LastError());
        return;
    }
    MediaPlayer1->SetEnabledButtons({TMPBtnType::btPlay, TMPBtnType::btNext, TMPBtnType::btRecord});
    ShowLength();
    lbPosition->setText(lbLength->text());
    UpdateActions();
}

void TfrmRecord::miRecordOptionSetClick() {
    if (!platform::OpenVolumeControl(true)) {
        platform::InfoBox(this, platform::VolumeControlMissingText());
    }
}

// ---- MP3 export -----------------------------------------------------------------------

void TfrmRecord::ExportMp3() {
    if (!miSaveMp3->isChecked() || CurrentFile_.isEmpty()) {
        return;
    }
    if (cdHandle_ == 0) {
        platform::InfoBox(this, "Please access CD devices rightly above all!");
        // Closes once the handler that saved has finished, as a modal window does.
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    const QString mp3 =
        QFileInfo(CurrentFile_).path() + "/" + QFileInfo(CurrentFile_).completeBaseName() + ".mp3";
    if (Exists(mp3)) {
        if (!Mp3Exported_ && !platform::YesNoBox(this, mp3 + " has existed,overite it?")) {
            return;
        }
        if (settings::IsFileInUse(Path(mp3))) {
            platform::ErrorBox(this, mp3 + " maybe be used!");
            return;
        }
    }
    Mp3Exported_ = true;
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofMp3;
    RunMp3Job();
}

// The job window converts the saved WAV file to an MP3 file beside it (job kind 4).
void TfrmRecord::RunMp3Job() {
    jobs::TRipForm form(this, QStringList{CurrentFile_}, cdHandle_, jobs::jkRecordedToMp3);
    platform::TheDialogs().ExecModal(&form);
}

} // namespace tools
