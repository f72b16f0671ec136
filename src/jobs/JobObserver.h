#pragma once
// What a running job tells whoever shows it (the job window, the command line). Every call
// comes on the GUI thread from inside the runner's event handlers; an observer may show a
// modal box in Notify (the job waits for it) but must not delete the runner from any call:
// Ended in particular arrives while the runner is still unwinding, so act on it later.
#include <cstdint>
#include <string>

namespace jobs {

enum class TNoticeKind { Plain, Warning, Error };

// The WMA encoder says nothing while it runs: once a second the job guesses from the size
// of what it has written.
struct TWmaClock {
    std::string Elapsed;   // "MM:SS" since the WMA step started
    bool Active = false;   // the step still runs
    std::string Estimated; // "" when nothing can be said yet
    int Percent = -1;      // elapsed against the estimate; -1 with no estimate
};

class TJobObserver {
public:
    virtual ~TJobObserver() = default;

    // The step item i goes through now ("Extracting", "Encoding", ...).
    virtual void PhaseChanged(const std::string& phase, int item) = 0;
    // The heading of what the job does ("Extracting", "Encoding WAV to MP3", ...).
    virtual void StageChanged(const std::string& stage) = 0;
    // An extraction begins; nothing is known yet of its progress.
    virtual void ExtractionStarting(int item) = 0;
    // Progress of the step shown in front (the rip, the resampler, or the one encode step):
    // a percentage and the elapsed and estimated total times.
    virtual void Progressed(std::int32_t percent, const std::string& elapsed,
                            const std::string& estimated) = 0;
    // A WMA step starts; clearEstimate: the last item's estimate no longer applies.
    virtual void WmaStarting(bool clearEstimate) = 0;
    virtual void WmaTicked(const TWmaClock& clock) = 0;
    // Several encoders: each running encode step has its own progress.
    virtual void StepAdded(std::intptr_t step, int item) = 0;
    virtual void StepProgressed(std::intptr_t step, int percent) = 0;
    virtual void StepRemoved(std::intptr_t step) = 0;
    // The extraction of item i ended with this cd::RipStatus (its WAV is settled).
    virtual void TrackExtracted(int item, std::int32_t status) = 0;
    // Item i is done: produced tells whether its output is there under its final name.
    virtual void ItemEnded(int item, bool produced) = 0;
    // Something the user must read; the job goes on once it returns.
    virtual void Notify(const std::string& text, TNoticeKind kind) = 0;
    // The job is over: completed when every item went its way, false when the job had
    // nothing it could start. Not called after Stop.
    virtual void Ended(bool completed) = 0;
};

} // namespace jobs
