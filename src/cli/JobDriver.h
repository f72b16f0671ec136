#pragma once
// Runs one job of the engine (jobs/JobRunner.h) from the command line: the runner does the
// work exactly as it does for the job window; this prints its progress, collects how each
// item ended, and ends the job on Ctrl+C (no half-read track or half-written output stays).
//
// GUI thread only; Run spins an event loop until the job is over.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "cli/Interrupt.h"
#include "cli/Outcome.h"
#include "cli/ProgressLine.h"
#include "jobs/JobObserver.h"
#include "jobs/JobPlan.h"

class QEventLoop;

namespace jobs {
class TJobRunner;
}

namespace cli {

class TConsoleApplication;

struct TDriverOptions {
    bool quiet = false;
    bool progressOnStderr = false; // --json keeps standard output for the summary
    double audioSeconds = 0;       // the job's audio, for the rate (0: not known)
};

class TJobDriver : private jobs::TJobObserver {
public:
    TJobDriver(TConsoleApplication& app, TInterrupt& interrupt, TDriverOptions options);
    ~TJobDriver() override;

    TJobOutcome Run(std::unique_ptr<jobs::TJobPlan> plan, int cdHandle);

private:
    void PhaseChanged(const std::string& phase, int item) override;
    void StageChanged(const std::string&) override {}
    void ExtractionStarting(int) override {}
    void Progressed(std::int32_t percent, const std::string&, const std::string&) override;
    void WmaStarting(bool) override;
    void WmaTicked(const jobs::TWmaClock& clock) override;
    void StepAdded(std::intptr_t, int) override {}
    void StepProgressed(std::intptr_t, int) override {}
    void StepRemoved(std::intptr_t) override {}
    void TrackExtracted(int item, std::int32_t status) override;
    void ItemEnded(int item, bool produced) override;
    void Notify(const std::string& text, jobs::TNoticeKind kind) override;
    void Ended(bool completed) override;

    void Show();
    void WaitForVerdicts(TJobOutcome& outcome);
    double Done() const;

    TConsoleApplication& app_;
    TInterrupt& interrupt_;
    TDriverOptions options_;
    TProgressPrinter printer_;
    std::unique_ptr<jobs::TJobRunner> runner_;
    TProgressState state_;
    std::vector<TItemResult> results_;
    std::vector<double> unitsDone_; // per item: steps ended
    double unitsPerItem_ = 1;
    std::chrono::steady_clock::time_point start_;
    bool over_ = false;
    QEventLoop* loop_ = nullptr;
};

} // namespace cli
