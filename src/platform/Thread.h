#pragma once
// A small worker-thread class in the shape of the classic TThread:
// created suspended or running, Resume, Terminate/Terminated, WaitFor,
// free-on-terminate, and Synchronize to run a function on the GUI thread.
//
// Threading contract:
// - Execute() runs once on the worker thread; everything else is called by the owner.
// - A thread with FreeOnTerminate set deletes itself after Execute() returns; the owner
//   must not touch it afterwards. Without it the owner deletes it, and the destructor
//   waits for Execute() to end (it does not set Terminated by itself).
// - Synchronize blocks the worker until the function has run on the GUI thread. Without
//   a GUI dispatcher (plain tests) the function runs at once on the calling thread.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

class TThread {
public:
    explicit TThread(bool createSuspended);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts a thread created suspended (or wakes one that called Suspend on itself).
    void Resume();
    // Asks the thread to end; Execute() polls Terminated().
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // Waits until Execute() has returned. Must not be called from the thread itself.
    void WaitFor();
    bool Finished() const { return finished_; }
    bool Suspended() const;

    void SetFreeOnTerminate(bool value) { freeOnTerminate_ = value; }
    bool FreeOnTerminate() const { return freeOnTerminate_; }

    // Runs fn on the GUI thread and waits for it.
    static void Synchronize(const std::function<void()>& fn);
    // The GUI layer installs how to reach the GUI thread (blocking); empty = run inline.
    using Dispatcher = std::function<void(const std::function<void()>&)>;
    static void SetSynchronizeDispatcher(Dispatcher dispatcher);

protected:
    virtual void Execute() = 0;
    // Called on the worker thread by itself: parks until Resume() is called.
    void Suspend();

private:
    void Start();
    void Run();

    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool suspended_ = false;
    bool started_ = false;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> freeOnTerminate_{false};
};

} // namespace platform
