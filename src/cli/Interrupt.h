#pragma once
// Ctrl+C (SIGINT) and SIGTERM for the command line: the signal is handed to the event
// loop's thread (platform/TerminationSignals.h), which marks the run interrupted and runs
// the action of whatever is running now (a job's Stop). A second signal ends the process.
#include <functional>

namespace cli {

class TInterrupt {
public:
    bool Requested() const { return requested_; }
    // The action for a signal from now on; an empty one only marks the run.
    void SetAction(std::function<void()> action) { action_ = std::move(action); }
    // The signal's handler (on the GUI thread).
    void Raise() {
        requested_ = true;
        if (action_) {
            action_();
        }
    }

private:
    bool requested_ = false;
    std::function<void()> action_;
};

} // namespace cli
