#include "cd/DriveWorker.h"

#include <condition_variable>
#include <mutex>

namespace cd {

struct DriveWorker::State {
    std::mutex mutex;
    std::condition_variable wake; // a task or the end for the worker
    std::condition_variable done; // the task's end for the owner
    std::function<void()> task;
    bool busy = false; // a task was handed over and has not ended
    bool quit = false;
};

DriveWorker::DriveWorker() : state_(std::make_shared<State>()) {
    // The thread keeps its own reference: the state outlives an owner that left it.
    thread_ = std::thread([state = state_] { Loop(state); });
}

DriveWorker::~DriveWorker() {
    bool busy = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->quit = true;
        busy = state_->busy;
        state_->wake.notify_all();
    }
    if (busy) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void DriveWorker::Loop(const std::shared_ptr<State>& state) {
    State& s = *state;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&s] { return s.busy || s.quit; });
        if (!s.busy) {
            return;
        }
        std::function<void()> task = std::move(s.task);
        s.task = nullptr;
        lock.unlock();
        task();
        task = nullptr; // what it captured goes before the owner hears of the end
        lock.lock();
        s.busy = false;
        s.done.notify_all();
    }
}

DriveWorker::Outcome DriveWorker::Call(std::function<void()> task, const std::atomic<bool>& stop,
                                       const std::function<void()>& interrupt,
                                       std::chrono::milliseconds grace) {
    if (abandoned_) {
        return Outcome::Abandoned;
    }
    std::unique_lock lock(state_->mutex);
    state_->task = std::move(task);
    state_->busy = true;
    state_->wake.notify_all();
    bool interrupted = false;
    auto deadline = std::chrono::steady_clock::time_point::max();
    while (state_->busy) {
        if (!interrupted && stop) {
            interrupted = true;
            deadline = std::chrono::steady_clock::now() + grace;
            lock.unlock();
            if (interrupt) {
                interrupt();
            }
            lock.lock();
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            abandoned_ = true;
            return Outcome::Abandoned;
        }
        state_->done.wait_for(lock, PollInterval);
    }
    return Outcome::Done;
}

} // namespace cd
