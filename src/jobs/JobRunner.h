#pragma once
// Runs a job plan (JobPlan.h) without a window: it starts the workers (the rip thread, the
// encode steps of EncodeStep.h, and its own pipeline WaveIn1 -> RateConverter1 -> WaveOut1
// for resampling) and reacts to the WM_PROGRESS and WM_RIPERROR messages they send back:
// every finished step posts an event and the handler of that event starts the next step. A
// WM_PROGRESS's wParam names the step it comes from (0: the rip thread or the resampler).
// What happens is told to a TJobObserver (JobObserver.h): the job window shows it, the
// command line prints it.
//
// With one encoder (the default) a job runs one step at a time: extract 1, encode 1, extract
// 2, ... With more, the next track is extracted while earlier ones encode, up to that many
// encode steps run at once.
//
// Threads and ownership:
// - Everything here runs on the GUI thread (the thread of the event loop that delivers the
//   runner's messages), except the resampler's event handlers, which run on its worker
//   thread and only build a record and post it. WaveOut1Done waits until the resample-done
//   event has been handled (or the job has ended).
// - Every TProcessInfo received is deleted here, also after the job has ended: records
//   still queued when the runner goes are drained and freed by its destructor.
// - The runner owns the plan, the rip thread, the encode steps and its pipeline components;
//   the observer is not owned and must outlive the runner.
//
// Each item ends exactly once; after Stop or the end of the job no event starts anything.
#include <QObject>
#include <QPointer>

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

#include "audio/Loudness.h"
#include "jobs/JobObserver.h"
#include "jobs/JobPlan.h"
#include "platform/Messages.h"

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

// Input bytes per 1000 output bytes of WM8EUTIL, by position of the WMA preset.
extern const std::array<int, 33> WmaSizeRatio;

// The estimated total seconds of a WMA encode after elapsed seconds, from the input size,
// the preset's size ratio and the output written so far. nullopt when nothing can be said
// yet (the encoder has written nothing).
std::optional<long long> WmaEstimate(long long elapsed, std::int64_t inputSize, int preset,
                                     std::int64_t currentOutput);

class TJobRunner : public QObject, public platform::MessageReceiver {
    Q_OBJECT
public:
    TJobRunner(std::unique_ptr<TJobPlan> plan, int cdHandle, TJobObserver& observer);
    ~TJobRunner() override;

    // Starts the first step (or ends at once when there is nothing to do). Throws when an
    // encoder cannot be started; the job then waits for Stop.
    void Start();
    // Ends the job: running steps are stopped and what they wrote is removed. A stopped
    // extraction keeps what it read as a complete WAV under its name unless
    // SetDiscardStoppedExtraction was asked for. Nothing is told to the observer.
    void Stop();
    // A stopped extraction's WAV goes too (nothing half-read stays behind).
    void SetDiscardStoppedExtraction(bool discard) { discardStopped_ = discard; }

    std::intptr_t HandleMessage(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) override;

    const TJobPlan& Plan() const { return *plan_; }
    // Secure mode: the session every rip thread of the job reports to (null otherwise).
    const std::shared_ptr<cd::RipSession>& Session() const { return RipSession_; }
    bool Finished() const { return !running_; }
    bool Parallel() const { return encoders_ > 1; }
    int RipIndex() const { return RipIndex_; }
    int EncodeIndex() const { return EncodeIndex_; }
    int OggIndex() const { return OggIndex_; }
    // Encode steps running now, and the most that ran at once in this job.
    int RunningEncodes() const;
    int MostEncodesAtOnce() const { return mostAtOnce_; }

protected:
    bool event(QEvent* e) override;

private:
    // An encode step of an item; no step when the item's encode was skipped or refused.
    struct TRunningStep {
        int item = 0;
        std::unique_ptr<TEncodeStep> step;
        bool hasRow = false; // the observer shows its own progress (parallel jobs)
    };

    void CreateComponents();
    void StartFirstStep();

    // Step starters; i is the 0-based item.
    void StartRip(int i);
    // The item's encode step reading input; phase and stage are set by the caller.
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
    // Once a second while a WMA encode runs: elapsed time and the size-based estimate.
    void Timer1Timer();

    void FinishJob();
    // FinishJob, then the observer hears that the job is over.
    void FinishAndTell(bool completed);
    const audio::TLoudnessMeter* Meter(int i) const;
    // Adds the album's gain to the files of a rip that ran to its end.
    void WriteAlbumGain();
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

    int ItemCount() const { return itemCount_; }
    void SetPhase(const std::string& phase, int i);
    void SetStage(const std::string& stage);
    void ShowError(const std::string& text);

    std::unique_ptr<audio::TWaveIn> WaveIn1;
    std::unique_ptr<audio::TRateConverter> RateConverter1;
    std::unique_ptr<audio::TWaveOut> WaveOut1;
    QTimer* Timer1 = nullptr;

    std::unique_ptr<TJobPlan> plan_;
    TJobObserver* observer_;
    std::unique_ptr<cd::TCDRipThread> RipThread;
    std::shared_ptr<cd::RipSession> RipSession_;
    int RipIndex_ = 0;
    int EncodeIndex_ = 0;
    int OggIndex_ = 0;
    bool running_ = true;
    bool discardStopped_ = false;
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
    int itemCount_ = 0;
    // Items whose encode step produced their output; only their WAVs are deleted at the end.
    std::vector<bool> encoded_;
    // Each track's loudness as its rip measured it (ReplayGain on); null where none was.
    std::vector<std::shared_ptr<audio::TLoudnessMeter>> meters_;

    // The resample-done hand-over: WaveOut1Done waits until the runner has handled the
    // event, or until the job has ended and nobody will.
    std::mutex sendMutex_;
    std::condition_variable sendDone_;
    bool sendPending_ = false;
    bool sendAbandoned_ = false;
};

} // namespace jobs
