#include "cli/JobDriver.h"

#include <QEventLoop>

#include <algorithm>
#include <numeric>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cd/RipSession.h"
#include "cd/RipStatus.h"
#include "cd/RipSummary.h"
#include "cli/ConsoleApplication.h"
#include "jobs/JobRunner.h"

namespace cli {

namespace {

constexpr std::size_t kLineWidth = 79; // when the width cannot be asked
// How long a finished secure rip waits for the databases' verdicts at most; each lookup
// has its own time limit as well.
constexpr auto kVerdictWait = std::chrono::seconds(60);
constexpr auto kVerdictPoll = std::chrono::milliseconds(50);

std::string ExtractionStatus(std::int32_t status) {
    switch (status) {
    case cd::RipStatusOk:
        return "ok";
    case cd::RipStatusUncorrectable:
        return "damaged";
    case cd::RipStatusNormalizeFailed:
        return "not normalized";
    default:
        return "failed";
    }
}

// The terminal's width less one (a full line would wrap on some terminals).
std::size_t LineWidth(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 20) {
        return static_cast<std::size_t>(size.ws_col) - 1;
    }
    return kLineWidth;
}

std::FILE* ProgressStream(const TDriverOptions& options) {
    return options.progressOnStderr ? stderr : stdout;
}

} // namespace

TJobDriver::TJobDriver(TConsoleApplication& app, TInterrupt& interrupt, TDriverOptions options)
    : app_(app), interrupt_(interrupt), options_(options),
      printer_(ProgressStream(options), ::isatty(::fileno(ProgressStream(options))) != 0,
               LineWidth(ProgressStream(options))) {}

TJobDriver::~TJobDriver() {
    interrupt_.SetAction({});
    app_.SetFailureAction({});
}

TJobOutcome TJobDriver::Run(std::unique_ptr<jobs::TJobPlan> plan, int cdHandle) {
    const int count = plan->ItemCount();
    results_.assign(static_cast<std::size_t>(count), {});
    for (int i = 0; i < count; ++i) {
        TItemResult& r = results_[static_cast<std::size_t>(i)];
        r.track = plan->Kind() == jobs::jkExtract ? plan->Track(i) : 0;
        r.input = plan->Kind() == jobs::jkExtract ? plan->Title(i) : plan->Item(i);
    }
    unitsPerItem_ = plan->Kind() == jobs::jkExtract && plan->EncodesAfterExtraction() ? 2.0 : 1.0;
    unitsDone_.assign(results_.size(), 0.0);
    state_.itemCount = count;
    state_.audioSeconds = options_.audioSeconds;
    runner_ = std::make_unique<jobs::TJobRunner>(std::move(plan), cdHandle,
                                                 static_cast<jobs::TJobObserver&>(*this));
    // What was read of a track when the job stops is not the track.
    runner_->SetDiscardStoppedExtraction(true);
    QEventLoop loop;
    loop_ = &loop;
    auto end = [this, &loop] {
        runner_->Stop();
        over_ = true;
        loop.quit();
    };
    interrupt_.SetAction(end);
    app_.SetFailureAction([end](const std::string&) { end(); });
    start_ = std::chrono::steady_clock::now();
    if (interrupt_.Requested()) {
        runner_->Stop();
        over_ = true;
    }
    try {
        if (!over_) {
            runner_->Start();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vellorine: %s\n", e.what());
        end();
    }
    if (!over_) {
        loop.exec();
    }
    loop_ = nullptr;
    interrupt_.SetAction({});
    app_.SetFailureAction({});
    printer_.Clear();
    TJobOutcome outcome;
    outcome.interrupted = interrupt_.Requested();
    if (runner_->Session() && !outcome.interrupted) {
        WaitForVerdicts(outcome);
        outcome.interrupted = interrupt_.Requested(); // Ctrl+C while the databases were asked
    }
    for (TItemResult& r : results_) {
        if (r.status == "stopped" && !outcome.interrupted) {
            r.status = "failed"; // the job ended without reaching it
        }
    }
    outcome.items = results_;
    runner_.reset();
    return outcome;
}

void TJobDriver::WaitForVerdicts(TJobOutcome& outcome) {
    const std::shared_ptr<cd::RipSession> session = runner_->Session();
    const auto deadline = std::chrono::steady_clock::now() + kVerdictWait;
    while (!session->WaitForLookup(kVerdictPoll) && !interrupt_.Requested() &&
           std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(); // a Ctrl+C is handled on this thread
    }
    std::vector<cd::RipSummaryItem> items;
    for (const TItemResult& r : results_) {
        items.push_back({r.track, r.output});
    }
    const std::vector<cd::RipSummaryRow> rows = cd::SummarizeRip(items, session->Tracks());
    for (std::size_t i = 0; i < rows.size() && i < results_.size(); ++i) {
        TItemResult& r = results_[i];
        r.detail = rows[i].result;
        // Without AccurateRip nothing was asked to be verified.
        if (r.status == "ok" && session->Options().accurateRip &&
            r.detail.rfind("verified", 0) != 0) {
            r.status = "not verified";
        }
    }
    outcome.log = session->LogPath();
    outcome.disc = cd::DiscResultText(session->Ctdb());
}

double TJobDriver::Done() const {
    const double total = unitsPerItem_ * static_cast<double>(results_.size());
    if (total <= 0) {
        return 0;
    }
    double done = std::accumulate(unitsDone_.begin(), unitsDone_.end(), 0.0);
    const auto item = static_cast<std::size_t>(state_.item);
    if (item < unitsDone_.size() && unitsDone_[item] < unitsPerItem_) {
        done += state_.percent / 100.0;
    }
    return std::clamp(done / total, 0.0, 1.0);
}

void TJobDriver::Show() {
    if (options_.quiet) {
        return;
    }
    state_.done = Done();
    state_.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    printer_.Show(state_);
}

void TJobDriver::PhaseChanged(const std::string& phase, int item) {
    state_.phase = phase;
    state_.item = item;
    state_.name = runner_->Plan().CaptionName(item);
    state_.percent = 0;
    Show();
}

void TJobDriver::Progressed(std::int32_t percent, const std::string&, const std::string&) {
    if (percent >= 0 && percent <= 100) {
        state_.percent = percent;
        Show();
    }
}

void TJobDriver::WmaStarting(bool) {
    state_.percent = 0;
}

void TJobDriver::WmaTicked(const jobs::TWmaClock& clock) {
    if (clock.Percent >= 0) {
        state_.percent = std::min(clock.Percent, 100);
        Show();
    }
}

void TJobDriver::TrackExtracted(int item, std::int32_t status) {
    const auto i = static_cast<std::size_t>(item);
    results_[i].status = ExtractionStatus(status);
    unitsDone_[i] = 1.0;
}

void TJobDriver::ItemEnded(int item, bool produced) {
    const auto i = static_cast<std::size_t>(item);
    TItemResult& r = results_[i];
    unitsDone_[i] = unitsPerItem_;
    if (produced) {
        r.output = runner_->Plan().Output(item);
        if (r.status == "stopped") {
            r.status = "ok"; // a file job has no extraction to judge
        }
    } else {
        r.status = "failed";
    }
    if (!options_.quiet) {
        printer_.Line(r.status + ": " + (r.output.empty() ? r.input : r.output));
    }
}

void TJobDriver::Notify(const std::string& text, jobs::TNoticeKind) {
    printer_.Clear();
    std::fprintf(stderr, "vellorine: %s\n", text.c_str());
}

void TJobDriver::Ended(bool) {
    over_ = true;
    if (loop_ != nullptr) {
        loop_->quit(); // once the runner's handler has returned
    }
}

} // namespace cli
