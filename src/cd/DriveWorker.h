#pragma once
// Runs the rip thread's drive calls on a thread of their own, so that the rip thread can
// stop waiting for a call that does not come back: a scratched disc can hold one read in
// the drive for minutes, and the job window waits for the rip thread when it stops.
//
// Threads: one owner thread calls Call; the tasks run one after the other on the worker.
// A task the owner gave up on runs to its end on the worker, which then ends by itself.
// Such a task must own everything it touches (captures by value, shared pointers): the
// owner and its members may be gone by the time it returns.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace cd {

class DriveWorker {
public:
    enum class Outcome { Done, Abandoned };
    static constexpr std::chrono::milliseconds PollInterval{5};

    DriveWorker();
    // Joins an idle worker; leaves one that is still inside an abandoned task to end by
    // itself, without waiting for it.
    ~DriveWorker();
    DriveWorker(const DriveWorker&) = delete;
    DriveWorker& operator=(const DriveWorker&) = delete;

    // Runs `task` on the worker and waits for it. While it waits it looks at `stop` every
    // PollInterval; once `stop` is set it calls `interrupt` (on the calling thread, to ask
    // the task to hurry) and waits at most `grace` longer. A task still running then is
    // abandoned, and so is every later call (the worker is still busy with it).
    Outcome Call(std::function<void()> task, const std::atomic<bool>& stop,
                 const std::function<void()>& interrupt, std::chrono::milliseconds grace);
    bool Abandoned() const { return abandoned_; }

private:
    struct State;
    static void Loop(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::thread thread_;
    bool abandoned_ = false;
};

} // namespace cd
