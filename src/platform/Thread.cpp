#include "platform/Thread.h"

namespace platform {

namespace {
std::mutex dispatcherMutex;
TThread::Dispatcher dispatcher;
} // namespace

TThread::TThread(bool createSuspended) {
    if (!createSuspended) {
        Start();
    }
}

TThread::~TThread() {
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach(); // free-on-terminate: deleting itself at the end of Run
        } else {
            Resume();
            thread_.join();
        }
    }
}

void TThread::Start() {
    std::lock_guard lock(mutex_);
    if (started_) {
        return;
    }
    started_ = true;
    thread_ = std::thread([this] { Run(); });
}

void TThread::Run() {
    Execute();
    finished_ = true;
    {
        std::lock_guard lock(mutex_);
        wake_.notify_all();
    }
    if (freeOnTerminate_) {
        delete this;
    }
}

void TThread::Resume() {
    bool needStart = false;
    {
        std::lock_guard lock(mutex_);
        if (!started_) {
            needStart = true;
        } else if (suspended_) {
            suspended_ = false;
            wake_.notify_all();
        }
    }
    if (needStart) {
        Start();
    }
}

void TThread::Suspend() {
    std::unique_lock lock(mutex_);
    suspended_ = true;
    wake_.wait(lock, [this] { return !suspended_; });
}

bool TThread::Suspended() const {
    std::lock_guard lock(mutex_);
    return !started_ || suspended_;
}

void TThread::WaitFor() {
    std::unique_lock lock(mutex_);
    if (!started_) {
        return;
    }
    wake_.wait(lock, [this] { return finished_.load(); });
}

void TThread::Synchronize(const std::function<void()>& fn) {
    Dispatcher d;
    {
        std::lock_guard lock(dispatcherMutex);
        d = dispatcher;
    }
    if (d) {
        d(fn);
    } else {
        fn();
    }
}

void TThread::SetSynchronizeDispatcher(Dispatcher newDispatcher) {
    std::lock_guard lock(dispatcherMutex);
    dispatcher = std::move(newDispatcher);
}

} // namespace platform
