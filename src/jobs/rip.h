#pragma once
// The conversion job window: a small modal dialog that runs a list of extractions and
// conversions one step at a time and shows the phase, a progress bar, the elapsed time and
// the estimated total time.
//
// It does no audio work itself. It starts the workers one after the other (the rip thread,
// the lame and WM8EUTIL wrappers Mp3Process and WmaProcess, and its own pipeline
// components WaveIn1 -> RateConverter1 -> WaveOut1 for resampling and WaveIn1 -> VorbisOut1
// for OGG) and reacts to the WM_PROGRESS and WM_RIPERROR messages they send back: every
// finished step posts an event and the handler of that event starts the next step.
//
// Threads and ownership:
// - Everything here runs on the GUI thread, except the four pipeline event handlers, which
//   run on the sinks' worker threads and only build a record and post it. WaveOut1Done
//   waits until the resample-done event has been handled (or the job has ended).
// - Every TProcessInfo received is deleted here, also after the job has ended: records
//   still queued when the window goes are drained and freed by its destructor.
// - The window owns the rip thread and its pipeline components; the two encoder wrappers
//   are the program's (made here only when nobody has made them yet).
// - The caller shows the window with platform::TheDialogs().ExecModal and destroys it.
//
// Each item ends exactly once; after Stop or the end of the job no event starts anything.
#include <QDialog>
#include <QStringList>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Messages.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace audio {
class TRateConverter;
class TVorbisOut;
class TWaveIn;
class TWaveOut;
class TACSOutput;
} // namespace audio

namespace cd {
class RipSession;
class TCDRipThread;
} // namespace cd

namespace settings {
struct TProcessInfo;
}

namespace jobs {

class TEncoderProcess;

// What a job does with its items.
enum TJobKind : int {
    jkExtract = 1,       // CD tracks ("03" + title) to WAV, then MP3, OGG or WMA
    jkWavToMp3 = 2,      // WAV files, resampled to 44 100 Hz when slower
    jkMp3ToWav = 3,      // MP3 files decoded by lame
    jkRecordedToMp3 = 4, // the recorder's WAV, encoded beside itself
    jkWavToOgg = 5,      // WAV files, resampled to 44 100 Hz when slower
    jkWavToWma = 6       // WAV files through WM8EUTIL
};

// Status of an end event when one of the window's own pipeline components failed (the
// record's Elapsed carries the reason).
constexpr std::int32_t JobStatusWriterFailed = 7;

// Input bytes per 1000 output bytes of WM8EUTIL, by position of the WMA preset.
extern const std::array<int, 33> WmaSizeRatio;

// The estimated total seconds of a WMA encode after elapsed seconds, from the input size,
// the preset's size ratio and the output written so far. nullopt when nothing can be said
// yet (the encoder has written nothing).
std::optional<long long> WmaEstimate(long long elapsed, std::int64_t inputSize, int preset,
                                     std::int64_t currentOutput);

class TRipForm : public QDialog, public platform::MessageReceiver {
    Q_OBJECT
public:
    TRipForm(QWidget* owner, const QStringList& items, int cdHandle, int jobKind);
    ~TRipForm() override;

    std::intptr_t HandleMessage(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) override;

    // The stop button's handler: ends the job and closes the window.
    void btStopClick();
    // Once a second while a WMA encode runs: elapsed time and the size-based estimate.
    void Timer1Timer();

    int RipIndex() const { return RipIndex_; }
    int EncodeIndex() const { return EncodeIndex_; }
    int OggIndex() const { return OggIndex_; }
    bool JobFinished() const { return !Items.has_value(); }

protected:
    bool event(QEvent* e) override;
    // Closing by any means (Stop, the close button, Escape, the end of the job) ends the job.
    void done(int result) override;

private:
    void CreateComponents();
    void CreateLayout();

    // Step starters; i is the 0-based item.
    void StartRip(int i);
    // Hands the step's files and this window to an encoder wrapper before its Start.
    void PrepareEncoder(TEncoderProcess& process, const std::string& input,
                        const std::string& output, bool encode);
    void StartMp3(const std::string& input, const std::string& output, bool encode);
    void StartWma(const std::string& input, const std::string& output);
    void StartOgg(const std::string& input, const std::string& output);
    // Kinds 2 and 5: encode directly, or resample into the kind's temporary file first.
    void ResampleCheck(int i);
    void ApplyVorbisSettings();
    // A file chosen as input whose output name is the file itself (an MP3 picked for WAV to
    // MP3 in the output folder): the item ends with a message instead of destroying it.
    bool RefusesOwnInput(const std::string& input, const std::string& output, std::int32_t endCode);

    // Event handlers of WM_PROGRESS, by code.
    void OnProgress(const settings::TProcessInfo& info);
    // Puts the last progress on the labels and the gauge.
    void ShowProgress();
    void OnNormalizeStarted();
    void OnTrackExtracted(settings::TProcessInfo& info);
    void OnMp3Ended(const settings::TProcessInfo& info);
    void OnOggDone(const settings::TProcessInfo& info);
    void OnResampleDone(const settings::TProcessInfo& info);
    void OnWmaEnded(const settings::TProcessInfo& info);
    void OnRipError(std::intptr_t which);
    // Ends the item the failed component worked on and goes on with the next one.
    void OnWriterFailed(const settings::TProcessInfo& info, std::int32_t endCode);
    // The next item's first step once an encode step has ended (kind 1: the next rip).
    void NextAfterEncode();
    // Notes whether item i's encode step produced its output, and lets go of its name.
    void NoteEncoded(int i, bool ended);
    // Ends the encode of item index: notes its output and moves index on; after the last
    // item finishes the job and closes the window. True when the job goes on.
    bool EndEncodeStep(int& index, bool ended);
    void NextAfterOgg();

    void WriteId3Tag(int t);
    void FinishJob();
    // FinishJob, then the window closes as soon as control is back in the event loop.
    void FinishAndClose();
    // Stops a running pipeline sink and waits until it has let go of its files.
    void StopSink(audio::TACSOutput& sink);
    // An encode that was stopped or failed leaves nothing that looks like a finished file.
    static void RemovePartialOutput(const std::string& path);

    // Pipeline events (worker threads).
    void WaveOut1Progress();
    void WaveOut1Done();
    void VorbisOut1Progress();
    void VorbisOut1Done();
    void PostToSelf(std::int32_t code, std::int32_t status, std::string elapsed = {},
                    std::string estimated = {});
    void PostOutputProgress(audio::TACSOutput& sink);

    int ItemCount() const;
    std::string Folder() const;
    std::string Title(int i) const;
    int Track(int i) const;
    std::string WavPath(int i) const;
    std::string InputPath(int i) const;
    // The output of item i for kinds 2 to 6.
    std::string OutputPath(int i) const;
    std::string TempResamplePath() const;
    void SetPhase(const QString& phase, int i);
    void SetGroupCaption(const QString& caption);
    void ShowError(const QString& text);
    bool OggMayRun() const;

    // Designed components.
    QGroupBox* GroupBox1 = nullptr;
    QProgressBar* FlatGauge1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label20 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image1 = nullptr;
    QPushButton* btStop = nullptr;
    QTimer* Timer1 = nullptr;
    std::unique_ptr<audio::TWaveIn> WaveIn1;
    std::unique_ptr<audio::TRateConverter> RateConverter1;
    std::unique_ptr<audio::TWaveOut> WaveOut1;
    std::unique_ptr<audio::TVorbisOut> VorbisOut1;

    // Fields.
    std::unique_ptr<cd::TCDRipThread> RipThread;
    // Secure mode: the session every rip thread of the job reports to (it keeps the log).
    std::shared_ptr<cd::RipSession> RipSession_;
    int RipIndex_ = 0;
    int EncodeIndex_ = 0;
    int OggIndex_ = 0;
    std::optional<QStringList> Items;
    int JobKind = 0;
    int CDHandle = 0;
    bool ProgressSeen = false;
    // Start of the current WaveOut1 or VorbisOut1 run, read by their workers.
    std::atomic<std::chrono::steady_clock::rep> OutputStart{0};
    std::chrono::steady_clock::time_point WmaStart;
    std::int64_t WmaInputSize = -1;
    // Item count, kept for the captions once Items has been let go.
    int itemCount_ = 0;
    // The encode whose output is written while it runs (removed when it is stopped).
    std::string encodingOutput_;
    // Items whose encode step produced their output; only their WAVs are deleted at the end.
    std::vector<bool> encoded_;
    // Progress arrives up to thousands of times a second from a fast rip; the window shows
    // it at most every kDisplayInterval, so repainting never keeps the event loop busy.
    QTimer* displayTimer_ = nullptr;
    std::chrono::steady_clock::time_point lastDisplay_;
    std::int32_t shownCode_ = 0;
    QString shownElapsed_;
    QString shownEstimated_;

    // The resample-done hand-over: WaveOut1Done waits until the window has handled the
    // event, or until the job has ended and nobody will.
    std::mutex sendMutex_;
    std::condition_variable sendDone_;
    bool sendPending_ = false;
    bool sendAbandoned_ = false;
};

} // namespace jobs
