#pragma once
// The pull pipeline: sources (inputs), filters (converters) and sinks (outputs).
//
// A sink owns one worker thread. The worker repeatedly calls the sink's OutputStep, which pulls
// a block from the sink's Input with GetData; a filter pulls from its own Input in turn, and a
// reader decodes a file. PCM everywhere is little-endian, interleaved (left sample first),
// 8-bit unsigned or 16-bit signed; a stream's format is its input's SampleRate, Channels and
// BitsPerSample.
//
// Thread rules shared by every class in this file:
// - Wiring (SetInput), property setters, Run/Stop/Pause/Resume, Status/Progress and the
//   destruction of components happen on one thread (the GUI thread).
// - Init/GetData/Flush of everything upstream of a running sink run on that sink's worker.
// - Events (OnProgress, OnDone, OnThreadException) run on the worker thread, except that a
//   failing Prepare inside Run reports OnThreadException on the thread that called Run.
//   Assign event handlers while the sink is idle.
// - Nobody owns the Input of a sink or a filter. When an input is destroyed, every sink and
//   filter that uses it has its Input cleared first (free notification), waiting until a
//   GetData in progress on that input has returned.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace audio {

// Every error raised by the audio library; carries only a message.
class EACSException : public std::runtime_error {
public:
    explicit EACSException(const std::string& message) : std::runtime_error(message) {}
};

class TACSInput;
class TACSConverter;
class TACSOutput;

// Spin flag taken with an atomic test-and-set. Guards one GetData call against a live swap
// of the Input from the GUI thread; both sides spin (yielding) until it is clear. A thread
// arriving while another already waits lets the waiter go first, so a worker that pulls in a
// tight loop cannot starve a swap.
class TSpinFlag {
public:
    void Acquire() noexcept;
    void Release() noexcept { flag_.store(false, std::memory_order_release); }
    bool IsSet() const noexcept { return flag_.load(std::memory_order_acquire); }

private:
    std::atomic<bool> flag_{false};
    std::atomic<int> waiters_{0};
};

// RAII holder of a TSpinFlag, so an exception inside GetData never leaves the flag set.
class TSpinFlagGuard {
public:
    explicit TSpinFlagGuard(TSpinFlag& flag) : flag_(flag) { flag_.Acquire(); }
    ~TSpinFlagGuard() { flag_.Release(); }
    TSpinFlagGuard(const TSpinFlagGuard&) = delete;
    TSpinFlagGuard& operator=(const TSpinFlagGuard&) = delete;

private:
    TSpinFlag& flag_;
};

// Something that refers to a TACSInput as its Input (a sink or a filter). The input calls
// InputFreed when it is being destroyed; the user must stop referring to it before returning.
class IInputUser {
public:
    virtual void InputFreed(TACSInput* input) = 0;

protected:
    ~IInputUser() = default;
};

// -------------------------------------------------------------------------------------------
// TACSInputHolder: the Input of a sink or a filter, shared by both.
//
// Contract:
// - Every read of the Input on the worker goes through ReadInput or FlushInput (or holds
//   InputLock), so a live swap from the GUI thread waits for that call.
// - ReplaceInput is a plain assignment when not live. Live (the holder is running), the new
//   input's Init runs first, then the pointer is exchanged under InputLock, then the old
//   input's Flush runs.
// - When the Input is destroyed it is cleared (without a Flush); ReadInput then returns 0.
// - The holder registers itself with its Input for the free notification; the owner calls
//   ExchangeInput(nullptr) in its destructor to unregister.
class TACSInputHolder : public IInputUser {
public:
    TACSInput* Input() const { return FInput.load(); }
    void InputFreed(TACSInput* input) override;

protected:
    TACSInputHolder() = default;
    ~TACSInputHolder() = default;
    TACSInputHolder(const TACSInputHolder&) = delete;
    TACSInputHolder& operator=(const TACSInputHolder&) = delete;

    void ReplaceInput(TACSInput* value, bool live);
    // Puts value in place under InputLock and moves the free notification to it; returns the
    // old input.
    TACSInput* ExchangeInput(TACSInput* value);
    // Input's GetData under InputLock; 0 when there is no input.
    std::int32_t ReadInput(void* buffer, std::int32_t bufferSize);
    // Input's Flush under InputLock; nothing when there is no input.
    void FlushInput();

    TSpinFlag FInputLock;
    std::atomic<TACSInput*> FInput{nullptr};
};

// -------------------------------------------------------------------------------------------
// TACSInput: abstract source.
//
// Contract:
// - Init prepares delivery from the beginning: Busy becomes true, Position 0, buffer empty.
// - GetData copies at most bufferSize bytes into buffer and returns the count; 0 means the
//   data is exhausted. Called on the worker thread of the sink at the end of the chain.
// - Flush ends delivery and releases the source; Busy becomes false.
// - Size is the total number of bytes Init..Flush will deliver, or -1 when that is open.
// - Format queries (BitsPerSample, Channels, SampleRate, TotalTime) may be made from the GUI
//   thread at any time.
// Destruction: a concrete source that owns resources used by GetData must call DetachUsers()
// first thing in its destructor, so that no sink or filter can still be inside its GetData
// while its members are torn down. The base destructor calls it too (it is idempotent).
class TACSInput {
public:
    TACSInput() = default;
    virtual ~TACSInput();
    TACSInput(const TACSInput&) = delete;
    TACSInput& operator=(const TACSInput&) = delete;

    virtual std::int32_t BitsPerSample() = 0;
    virtual std::int32_t Channels() = 0;
    virtual std::int32_t SampleRate() = 0;
    // Whole seconds of audio; 0 when unknown.
    virtual std::int32_t TotalTime();
    virtual std::int32_t GetData(void* buffer, std::int32_t bufferSize) = 0;
    // Flush, ignoring any exception it raises, then not Busy.
    virtual void Reset();
    virtual void Init() = 0;
    virtual void Flush() = 0;

    std::int32_t Size() const { return FSize.load(); }
    std::int32_t Position() const { return FPosition.load(); }
    bool Busy() const { return FBusy.load(); }

    // Free notification: called by sinks and filters when they take or drop this input.
    void AddUser(IInputUser* user);
    void RemoveUser(IInputUser* user);

protected:
    // Clears the Input of every sink and filter that uses this one. Idempotent.
    void DetachUsers();

    std::atomic<std::int32_t> FPosition{0}; // bytes delivered by GetData since Init
    std::atomic<std::int32_t> FSize{0};     // total bytes to deliver, -1 = open
    std::atomic<bool> FBusy{false};         // between Init and Flush
    // Unread part of the reader's decode buffer: 1-based first index, last index;
    // FBufferStart > FBufferEnd means empty. Worker thread only.
    std::int32_t FBufferStart = 1;
    std::int32_t FBufferEnd = 0;

private:
    std::mutex usersMutex_;
    std::vector<IInputUser*> users_;
};

// -------------------------------------------------------------------------------------------
// TACSStreamedInput: a source that reads a stream it opens and frees itself.
class TACSStreamedInput : public TACSInput {
public:
    TACSStreamedInput();
    ~TACSStreamedInput() override;

protected:
    // The stream being read; a file stream, or an in-memory stream standing in for it.
    std::unique_ptr<std::iostream> FStream;
};

// -------------------------------------------------------------------------------------------
// TACSFileIn: a source that reads a named file (base of the WAV and Vorbis readers).
//
// Contract for concrete readers:
// - OpenFile does the real opening and parsing only when FOpenCount is 0 (setting FValid,
//   FBitsPerSample, FSampleRate, FChannels, FTotalSamples, FSize, ...) and increments
//   FOpenCount on success. CloseFile really closes only when FOpenCount is 1, and decrements
//   it when above 0. So format queries between Init and Flush cost nothing, and the file
//   stays open from Init to Flush.
// - Init raises "The Stream is not opened" when OpenFile did not count an open.
// - GetData raises "The Stream is not opened" when not Busy; it applies FPendingJump (a
//   percent of Size, set by Jump from the GUI thread) at its next refill and clears it.
// - Seek positions the stream at a sample frame (opening and closing around itself).
// The format queries, Valid, TotalTime, Init, Flush and Reset of this class hold FFileLock,
// so a GUI query and a looping reader on the worker never open or close the file at once.
class TACSFileIn : public TACSStreamedInput {
public:
    TACSFileIn();
    ~TACSFileIn() override;

    std::int32_t BitsPerSample() override;
    std::int32_t Channels() override;
    std::int32_t SampleRate() override;
    // Size / (SampleRate * Channels * BitsPerSample div 8), rounded; 0 when a value is 0.
    std::int32_t TotalTime() override;
    void Init() override;
    void Flush() override;
    void Reset() override;

    // False for an empty FileName; otherwise what the reader's OpenFile found.
    bool Valid();
    // Moves by percent of Size at the next refill (negative: backwards).
    void Jump(std::int32_t percent) { FPendingJump.store(percent); }
    virtual bool Seek(std::int32_t sampleNumber) = 0;

    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& value); // ignored while Busy
    bool Loop() const { return FLoop.load(); }
    void SetLoop(bool value) { FLoop.store(value); }
    std::int32_t StartSample() const { return FStartSample; }
    void SetStartSample(std::int32_t value); // ignored while Busy
    std::int32_t EndSample() const { return FEndSample; }
    void SetEndSample(std::int32_t value); // ignored while Busy; -1 = to the end
    std::int32_t TotalSamples() const { return FTotalSamples; }

protected:
    virtual void OpenFile() = 0;
    virtual void CloseFile() = 0;
    // A format field as the file's header gives it, opening the file for the query.
    std::int32_t FormatField(const std::int32_t& field);

    std::string FFileName;
    std::atomic<std::int32_t> FPendingJump{0};
    std::atomic<std::int32_t> FOpenCount{0};
    bool FValid = false;
    std::int32_t FBitsPerSample = 0;
    std::int32_t FSampleRate = 0;
    std::int32_t FChannels = 0;
    std::int32_t FDurationSeconds = 0;
    std::atomic<bool> FLoop{false};
    std::int32_t FStartSample = 0;
    std::int32_t FEndSample = -1;
    std::int32_t FTotalSamples = 0; // sample frames in the file, set by OpenFile
    std::recursive_mutex FFileLock;
};

// -------------------------------------------------------------------------------------------
// TACSConverter: a filter, i.e. a source whose data comes from another source (its Input).
//
// Contract:
// - Every GetData of a filter reads its Input only through ReadInput (or under InputLock);
//   see TACSInputHolder for the live swap. SetInput is live while Busy; assigning the filter
//   to itself is ignored.
// - The format queries pass the Input's on; a filter that changes the format overrides them.
// - Concrete filters call DetachUsers() first in their destructor (see TACSInput).
class TACSConverter : public TACSInput, public TACSInputHolder {
public:
    TACSConverter() = default;
    ~TACSConverter() override;

    std::int32_t BitsPerSample() override { return RequireInput().BitsPerSample(); }
    std::int32_t Channels() override { return RequireInput().Channels(); }
    std::int32_t SampleRate() override { return RequireInput().SampleRate(); }

    virtual void SetInput(TACSInput* value);
    // Clears InputLock here and in every filter upstream (after a failed step).
    void ClearInputLocks();

protected:
    // The input, or EACSException "Input not assigned" when there is none.
    TACSInput& RequireInput() const;
    // Inits the Input and starts delivery from the beginning: Busy, Position 0, the buffer
    // empty and InputLock clear (a failed run may have left it set). Returns the Input.
    TACSInput& StartInput();
    // Position after delivering this many more bytes: the Input's Position scaled by
    // Size / Input's Size, or counted when either size is open or the Input is gone.
    void FollowInputPosition(std::int32_t delivered);
};

// -------------------------------------------------------------------------------------------
// TACSThread: the worker of one sink.
//
// Loop, on the worker thread, until Terminating: wait while suspended; enter Lock; sleep
// Delay ms when Delay > 5; call StepHandler(StopRequested). When it returns false:
// StopRequested := false, DoneHandler, and suspend when SuspendWhenIdle. When it throws:
// StopRequested := false, ExceptionHandler, and suspend when SuspendWhenIdle. Leave Lock.
// After the loop one final StepHandler(true) runs (a last abort step).
// The thread starts suspended; the OS thread itself is created at the first Resume.
class TACSThread {
public:
    TACSThread();
    ~TACSThread(); // ends the loop (waking a suspended worker) and joins
    TACSThread(const TACSThread&) = delete;
    TACSThread& operator=(const TACSThread&) = delete;

    std::function<bool(bool abort)> StepHandler;
    std::function<void()> DoneHandler;
    std::function<void(const std::exception&)> ExceptionHandler;

    std::atomic<bool> SuspendWhenIdle{true};
    std::atomic<bool> StopRequested{false};
    std::atomic<std::int32_t> Delay{0};
    // Held by the worker for the whole of each step; the step's events run under it.
    std::mutex Lock;

    // Wakes (or starts) the worker after a Pause.
    void Resume();
    // Wakes (or starts) the worker for a new run. Also cancels a self-suspension still to
    // come for the run that just ended, so a Run issued from OnDone is never lost.
    void BeginRun();
    // Parks the worker before its next step.
    void Suspend();
    bool Suspended() const;
    // Sets Terminating, wakes the worker, waits for its final abort step and joins it.
    void TerminateAndWait();
    bool Started() const;
    bool IsWorkerThread() const { return std::this_thread::get_id() == workerId_.load(); }

private:
    void Execute();
    void Wake(bool newRun);
    void SuspendAfterRun(std::uint64_t generation);

    mutable std::mutex stateMutex_;
    std::condition_variable wake_;
    bool suspended_ = true;
    bool started_ = false;
    std::uint64_t generation_ = 0; // bumped by Resume
    std::atomic<bool> terminating_{false};
    std::atomic<std::thread::id> workerId_{};
    std::thread thread_;
};

enum TACSOutputStatus { osIdle, osRunning, osPaused };

using TOutputDoneEvent = std::function<void(TACSOutput* sender)>;
using TOutputProgressEvent = std::function<void(TACSOutput* sender)>;
using TThreadExceptionEvent = std::function<void(TACSOutput* sender, const std::exception& e)>;

// -------------------------------------------------------------------------------------------
// TACSOutput: abstract sink with its own worker thread.
//
// Contract for concrete sinks:
// - Prepare (on the thread calling Run): open the destination and Init the input. Raise on
//   failure; the failure reaches the program through OnThreadException.
// - OutputStep(abort) (worker thread): one unit of work; false ends the run. The usual shape:
//     if (!FOutputEnabled) return true;         // idle step
//     CheckProgress();                          // OnProgress when the percent changed
//     if (abort || <own end written>) return false;
//     n = ReadInput(buffer, size);              // GetData under InputLock
//     <write n bytes>; return n > 0;
// - Finish (worker thread): release what Prepare acquired; use FlushInput() for the input.
// - A sink's destructor must call ShutdownWorker() first thing, so the worker's final abort
//   step (and the quiet Finish of a run still in progress) runs while the sink is whole.
// - Never call Progress() or FlushInput() while holding InputLock (they take it).
// - Never destroy a sink from inside its own events (they run on its worker).
class TACSOutput : public TACSInputHolder {
public:
    TACSOutput();
    virtual ~TACSOutput();
    TACSOutput(const TACSOutput&) = delete;
    TACSOutput& operator=(const TACSOutput&) = delete;

    // Starts a run. Raises "Component is buisy" when Busy and "Input is not assigned" without
    // an input; any failure inside Prepare goes to OnThreadException instead.
    void Run();
    // Asks the worker to end the run; OnDone follows from the worker.
    void Stop();
    void Pause();
    void Resume();
    TACSOutputStatus Status() const;
    // Percent of the input delivered: 0 without input or for Size 0, -1 for an open Size.
    std::int32_t Progress();

    virtual void SetInput(TACSInput* value);
    bool Busy() const { return FBusy.load(); }
    std::int32_t Delay() const { return FThread->Delay.load(); }
    void SetDelay(std::int32_t value); // values above 100 are ignored
    bool SuspendWhenIdle() const { return FThread->SuspendWhenIdle.load(); }
    void SetSuspendWhenIdle(bool value) { FThread->SuspendWhenIdle.store(value); }

    TOutputDoneEvent OnDone;
    TOutputProgressEvent OnProgress;
    TThreadExceptionEvent OnThreadException;

protected:
    virtual bool OutputStep(bool Abort) = 0;
    virtual void Finish() = 0;
    virtual void Prepare() = 0;

    // Worker's DoneHandler: ends a busy run (Finish, not Busy) and fires OnDone.
    void ThreadFinished();
    // Ends a run after a failure and fires OnThreadException.
    void HandleWorkerException(const std::exception& e);
    // Fires OnProgress when Progress differs from FLastProgress.
    void CheckProgress();
    // Ends the worker for good (final abort step, then a quiet Finish if still Busy).
    void ShutdownWorker();

    std::atomic<bool> FOutputEnabled{false};
    std::int32_t FLastProgress = 0;
    std::unique_ptr<TACSThread> FThread;
    std::atomic<bool> FBusy{false};

private:
    bool shutDown_ = false;
};

// -------------------------------------------------------------------------------------------
// TACSStreamedOutput: a sink that writes a stream it opens (in Prepare) and frees itself.
class TACSStreamedOutput : public TACSOutput {
public:
    TACSStreamedOutput();
    ~TACSStreamedOutput() override;

protected:
    std::unique_ptr<std::iostream> FStream;
};

enum TFileOutputMode { foRewrite, foAppend };

// -------------------------------------------------------------------------------------------
// TACSFileOut: a sink that writes a named file (base of the WAV and Vorbis writers).
// The base SetFileMode always stores foRewrite; writers that can append override it.
class TACSFileOut : public TACSStreamedOutput {
public:
    TACSFileOut();
    ~TACSFileOut() override;

    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& value); // ignored while Busy
    TFileOutputMode FileMode() const { return FFileMode; }
    virtual void SetFileMode(TFileOutputMode value);

protected:
    std::string FFileName;
    TFileOutputMode FFileMode = foRewrite;
};

} // namespace audio
