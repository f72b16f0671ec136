#pragma once
// The conversion job window: a small modal dialog that runs a job plan (JobPlan.h) and shows
// its phase, a progress bar, the elapsed time and the estimated total time.
//
// It does no audio work itself and names no file: a TJobRunner (JobRunner.h) runs the plan
// and tells the window what happens; the window shows it, asks nothing of the job but Stop,
// and closes when the job has ended. With several encoders each running encode step has a
// progress row under the gauge. A secure rip ends with a summary of how each track went,
// which waits for the user.
//
// Threads and ownership: everything runs on the GUI thread. The window owns the runner;
// the caller shows the window with platform::TheDialogs().ExecModal and destroys it.
#include <QDialog>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "jobs/JobObserver.h"
#include "jobs/JobPlan.h"
#include "jobs/JobRunner.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace jobs {

class TRipSummaryPanel;

class TRipForm : public QDialog, private TJobObserver {
    Q_OBJECT
public:
    TRipForm(QWidget* owner, const QStringList& items, int cdHandle, int jobKind);
    ~TRipForm() override;

    // The stop button's handler: ends the job and closes the window.
    void btStopClick();

    int RipIndex() const { return runner_->RipIndex(); }
    int EncodeIndex() const { return runner_->EncodeIndex(); }
    int OggIndex() const { return runner_->OggIndex(); }
    bool JobFinished() const { return runner_->Finished(); }
    // A secure rip's end: the summary panel is up, waiting for the user.
    bool ShowsSummary() const { return summary_ != nullptr; }
    // Encode steps running now, and the most that ran at once in this job.
    int RunningEncodes() const { return runner_->RunningEncodes(); }
    int MostEncodesAtOnce() const { return runner_->MostEncodesAtOnce(); }

protected:
    // Closing by any means (Stop, the close button, Escape, the end of the job) ends the job.
    void done(int result) override;

private:
    // A progress row of a parallel job's running encode step.
    struct TRow {
        QLabel* label = nullptr;
        QProgressBar* gauge = nullptr;
    };

    void CreateLayout();

    // What the runner tells.
    void PhaseChanged(const std::string& phase, int item) override;
    void StageChanged(const std::string& stage) override;
    void ExtractionStarting(int item) override;
    void Progressed(std::int32_t percent, const std::string& elapsed,
                    const std::string& estimated) override;
    void WmaStarting(bool clearEstimate) override;
    void WmaTicked(const TWmaClock& clock) override;
    void StepAdded(std::intptr_t step, int item) override;
    void StepProgressed(std::intptr_t step, int percent) override;
    void StepRemoved(std::intptr_t step) override;
    void TrackExtracted(int, std::int32_t) override {}
    void ItemEnded(int, bool) override {}
    void Notify(const std::string& text, TNoticeKind kind) override;
    void Ended(bool completed) override;

    // Puts the last progress on the labels and the gauge.
    void ShowProgress();
    void ShowSummary();
    // Takes the rows from the session again; stops once every database has answered.
    void RefreshSummary();
    void FitRows();

    QGroupBox* GroupBox1 = nullptr;
    QProgressBar* FlatGauge1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label20 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image1 = nullptr;
    QPushButton* btStop = nullptr;
    TRipSummaryPanel* summary_ = nullptr;
    QTimer* summaryTimer_ = nullptr;

    std::unique_ptr<TJobRunner> runner_;
    std::map<std::intptr_t, TRow> rows_;
    // Progress arrives up to thousands of times a second from a fast rip; the window shows
    // it at most every kDisplayInterval, so repainting never keeps the event loop busy.
    QTimer* displayTimer_ = nullptr;
    std::chrono::steady_clock::time_point lastDisplay_;
    std::int32_t shownCode_ = 0;
    QString shownElapsed_;
    QString shownEstimated_;
};

} // namespace jobs
