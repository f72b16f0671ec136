#pragma once
// The conversion job window: a small modal dialog that runs a job plan (JobPlan.h) and shows
// its phase, a progress bar, the elapsed time and the estimated total time.
//
// It does no audio work itself and names no file: the plan names every file and says what
// is removed at the end; the window starts the workers (the rip thread, the encode steps of
// EncodeStep.h, and its own pipeline WaveIn1 -> RateConverter1 -> WaveOut1 for resampling)
// and reacts to the WM_PROGRESS and WM_RIPERROR messages they send back: every finished step
// posts an event and the handler of that event starts the next step. A WM_PROGRESS's wParam
// names the step it comes from (0: the rip thread or the resampler).
//
// With one encoder (the default) a job runs one step at a time: extract 1, encode 1, extract
// 2, ... With more, the next track is extracted while earlier ones encode, up to that many
// encode steps run at once, and each running one has a progress row under the gauge.
//
// Threads and ownership:
// - Everything here runs on the GUI thread, except the resampler's event handlers, which
//   run on its worker thread and only build a record and post it. WaveOut1Done waits until
//   the resample-done event has been handled (or the job has ended).
// - Every TProcessInfo received is deleted here, also after the job has ended: records
//   still queued when the window goes are drained and freed by its destructor.
// - The window owns the rip thread, the encode steps and its pipeline components.
// - The caller shows the window with platform::TheDialogs().ExecModal and destroys it.
//
// Each item ends exactly once; after Stop or the end of the job no event starts anything.
#include <QDialog>
#include <QPointer>
#include <QStringList>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jobs/JobPlan.h"
#include "platform/Messages.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace audio {
class TRateConverter;
class TWaveIn;
class TWaveOut;
class TACSOutput;
} // namespace audio

namespace cd {
class RipSession;
class TCDRipThread;
} // namespace cd

namespace platform {
struct TProcessInfo;
}

namespace jobs {

class TEncodeStep;
struct TFinishResult;
class TRipSummaryPanel;

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
    // A secure rip's end: the summary panel is up, waiting for the user.
    bool ShowsSummary() const { return summary_ != nullptr; }
    // Encode steps running now, and the most that ran at once in this job.
    int RunningEncodes() const;
    int MostEncodesAtOnce() const { return mostAtOnce_; }

protected:
    bool event(QEvent* e) override;
    // Closing by any means (Stop, the close button, Escape, the end of the job) ends the job.
    void done(int result) override;

private:
    // An encode step of an item; no step when the item's encode was skipped or refused.
    struct TRunningStep {
        int item = 0;
        std::unique_ptr<TEncodeStep> step;
        QLabel* rowLabel = nullptr; // the step's progress row (parallel jobs)
        QProgressBar* rowGauge = nullptr;
    };

    void CreateComponents();
    void CreateLayout();
    void StartFirstStep();

    // Step starters; i is the 0-based item.
    void StartRip(int i);
    // The item's encode step reading input; phase and group captions are set by the caller.
    void StartEncode(int i, const std::string& input);
    // Kinds 2 and 5: encode directly, or resample into the plan's temporary file first.
    void ResampleCheck(int i);
    // Starts what may start now: waiting encodes while an encoder is free, the next rip, or
    // (file jobs) the next item.
    void Pump();
    // Ends item i's encode without a step: its end record (code, status) comes posted.
    void SkipEncode(int i, std::int32_t status);
    // A file chosen as input whose output name is the file itself (an MP3 picked for WAV to
    // MP3 in the output folder): the item ends with a message instead of destroying it.
    bool RefusesOwnInput(int i, const std::string& input);
    std::intptr_t AddStep(int i, std::unique_ptr<TEncodeStep> step);

    // Event handlers of WM_PROGRESS, by code.
    void OnProgress(const platform::TProcessInfo& info, std::intptr_t stepId);
    // Puts the last progress on the labels and the gauge.
    void ShowProgress();
    void OnNormalizeStarted();
    void OnTrackExtracted(const platform::TProcessInfo& info);
    void OnEncodeEnded(const platform::TProcessInfo& info, std::intptr_t stepId);
    void OnResampleDone(const platform::TProcessInfo& info);
    void OnRipError(std::intptr_t which);
    // The messages of an end event; the output's fate is the step's.
    bool ReportEnd(const platform::TProcessInfo& info, const TRunningStep& running,
                   bool progressSeen);
    void EndItem(TRunningStep running, bool produced, std::int32_t code);
    // The file the rip thread of item i wrote takes its name, or goes when unfinished.
    void SettleRipFile(int i, std::int32_t status);

    void FinishJob();
    // FinishJob, then the window closes as soon as control is back in the event loop; a
    // secure rip shows how each track ended instead and waits for the user to close it.
    void FinishAndClose();
    void ShowSummary();
    // Takes the rows from the session again; stops once every database has answered.
    void RefreshSummary();
    // Stops a running pipeline sink and waits until it has let go of its files.
    static void StopSink(audio::TACSOutput& sink);
    // Steps whose end has been handled; freed once control is back in the event loop (a
    // WMA step's end arrives inside its own hand-over).
    void Retire(std::unique_ptr<TEncodeStep> step);

    // Pipeline events (worker threads).
    void WaveOut1Progress();
    void WaveOut1Done();
    void PostToSelf(std::int32_t code, std::int32_t status, std::string elapsed = {},
                    std::string estimated = {}, std::intptr_t stepId = 0);

    int ItemCount() const;
    void SetPhase(const QString& phase, int i);
    void SetGroupCaption(const QString& caption);
    void ShowError(const QString& text);
    void ShowTagErrors(const TFinishResult& result, const std::string& output);
    bool Parallel() const { return encoders_ > 1; }
    void AddRow(TRunningStep& running);
    void RemoveRow(TRunningStep& running);
    void FitRows();

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
    TRipSummaryPanel* summary_ = nullptr;
    QTimer* summaryTimer_ = nullptr;
    std::unique_ptr<audio::TWaveIn> WaveIn1;
    std::unique_ptr<audio::TRateConverter> RateConverter1;
    std::unique_ptr<audio::TWaveOut> WaveOut1;

    // Fields.
    std::unique_ptr<TJobPlan> plan_;
    std::unique_ptr<cd::TCDRipThread> RipThread;
    // Secure mode: the session every rip thread of the job reports to (it keeps the log).
    std::shared_ptr<cd::RipSession> RipSession_;
    int RipIndex_ = 0;
    int EncodeIndex_ = 0;
    int OggIndex_ = 0;
    std::optional<QStringList> Items;
    int JobKind = 0;
    int CDHandle = 0;
    int encoders_ = 1;
    // The item whose rip or resample runs now (its progress comes with step id 0), and
    // whether each item has had progress since its last step began.
    int firstStepItem_ = -1;
    bool ripping_ = false;
    int ripFileError_ = 0; // the errno the last rip's file failed with
    bool resampling_ = false;
    int nextItem_ = 0; // file jobs: items started
    std::vector<bool> progressSeen_;
    std::map<std::intptr_t, TRunningStep> steps_;
    std::vector<int> waiting_;               // extracted items waiting for a free encoder
    std::vector<QPointer<QObject>> holders_; // ended steps waiting to be freed
    std::intptr_t nextStepId_ = 1;
    int mostAtOnce_ = 0;
    std::chrono::steady_clock::time_point WmaStart;
    std::int64_t WmaInputSize = -1;
    std::intptr_t wmaStepId_ = 0; // the step the WMA estimate follows
    // Start of the current WaveOut1 run, read by its worker.
    std::atomic<std::chrono::steady_clock::rep> OutputStart{0};
    // Item count, kept for the captions once Items has been let go.
    int itemCount_ = 0;
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
