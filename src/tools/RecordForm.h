#pragma once
// The recorder window ("Record"): records from the default source into a WAV document,
// plays it, inserts further recordings at the track bar's position, undoes the changes since
// the last save, saves (optionally followed by an MP3 export through the job window).
//
// Contract (GUI thread only; the window is modal, created by the main window's Record
// command, shown with platform::TheDialogs().ExecModal and destroyed by it):
// - The wave-audio device of MediaPlayer1 never works on the user's document itself: a new
//   recording goes into the scratch file "MyNoName.wav", a named document is copied to the
//   work file "MyTemp.wav" (both in the program folder) and copied back on Save, through a
//   temporary file and a rename, so a failed save leaves the document as it was.
// - The device reports the end of a recording that failed on its own (full disk, sound server
//   gone) through MediaPlayer1's notification; the window then ends the recording as Stop
//   would and tells the user, and the sound recorded up to then stays in the file.
// - The scratch and work files are reserved: neither opens as a document nor is accepted as
//   a save target (the user is told why).
// - Closing asks to save a modified document (Cancel does not keep the window open), closes
//   the device and deletes the work file; the scratch file stays. When a named document's
//   new sound was not saved (Cancel, or the save failed), the work file is moved to
//   "<document> (unsaved).wav" in the program folder instead, and the user is told.
// - RecordOptions/SaveMp3 of the settings record is read when the window is created and
//   written back when it closes; an MP3 export sets CommonOptions/OutputFormat to MP3.
#include <QDialog>
#include <QString>
#include <chrono>

#include "platform/Dialogs.h"
#include "tools/MediaPlayer.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSlider;
class QTimer;

namespace tools {

// "1.5 Sec" below a minute (three significant digits), else "1Hour2 Min3 Sec" leaving out
// the parts that are 0.
QString DurationText(int64_t ms);
// "hh:mm:ss.t" of a recording's running time.
QString RecordTimeText(int64_t ms);

class TfrmRecord : public QDialog {
    Q_OBJECT
public:
    TfrmRecord(QWidget* owner, int cdHandle);
    ~TfrmRecord() override;

    const QString& CurrentFile() const { return CurrentFile_; }
    const QString& WorkFile() const { return WorkFile_; }
    QString ScratchFile() const;
    bool Modified() const { return Modified_; }
    bool Mp3Exported() const { return Mp3Exported_; }
    int RecordMsPart() const { return RecordMsPart_; }
    // The recording time last shown, to the millisecond.
    int64_t RecordElapsedMs() const { return RecordElapsedMs_; }

    // Designed components (public so tests reach the real controls).
    QLabel* lbState = nullptr;
    TMediaPlayer* MediaPlayer1 = nullptr;
    QSlider* TrackBar1 = nullptr;
    QLabel* lbPosition = nullptr;
    QLabel* lbLength = nullptr;
    QLabel* panRecordTime = nullptr;
    QPushButton* btnStart = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* miNew = nullptr;
    QAction* miOpen = nullptr;
    QAction* miSave = nullptr;
    QAction* miSaveAs = nullptr;
    QAction* miUndo = nullptr;
    QAction* miRecordOptionSet = nullptr;
    QAction* miSaveMp3 = nullptr;
    QAction* pmExit = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* TimerRecord = nullptr;

    // However the window closes (Exit, the close box, Escape), FormClose runs first.
    void done(int result) override;

private:
    void CreateControls();
    void CreateMenu();
    void FormCreate();
    void FormClose();
    void MediaPlayer1Click(TMPBtnType button, bool& doDefault);
    void MediaPlayer1Notify(platform::MciNotify result);
    void PlayClick();
    void StopClick();
    void RecordClick(bool& doDefault);
    void EndRecording();
    void PressStop();
    void miNewClick();
    void miOpenClick();
    void actSaveExecute();
    void actSaveAsExecute();
    void actUndoExecute();
    void UpdateActions();
    void miRecordOptionSetClick();
    void Timer1Timer();
    void TimerRecordTimer();
    void TrackBar1Change();

    bool OpenDocument(const QString& path);
    bool SaveIfModified(bool ask);
    bool SaveNewRecording();
    void ExportMp3();
    void RunMp3Job();
    bool ReopenDevice(const QString& path);
    void ShowLength();
    void SetCaption(const QString& name);
    bool IsScratch() const { return CurrentFile_ == ScratchFile(); }
    // The scratch and work files are the recorder's own: never a document nor a save target.
    bool IsReserved(const QString& path) const;
    // Tells the user and answers true when path is one of them.
    bool RefuseReservedTarget(const QString& path);
    // Moves the work file's unsaved sound to a free name and tells the user where it is.
    void KeepUnsavedWork();
    platform::FileDialogRequest SaveRequest() const;
    bool CheckWavName(const QString& name);

    int cdHandle_;
    QString CurrentFile_;
    QString WorkFile_;
    bool Modified_ = false;
    bool Mp3Exported_ = false;
    int64_t PlayElapsedMs_ = 0;
    std::chrono::steady_clock::time_point RecordStart_;
    int RecordMsPart_ = 0;
    int64_t RecordElapsedMs_ = 0;
    bool closing_ = false;
};

} // namespace tools
