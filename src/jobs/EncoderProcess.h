#pragma once
// What the lame and WM8EUTIL wrappers share: the overwrite question, the pipes, the hidden
// child, the monitor thread, stopping and the end of the child.
//
// Threading contract:
// - Start, StopProcess, the reads, the parsers, ProcessEnded and PostEnd run on the GUI
//   thread; the monitor only peeks the pipes and waits on the child, and hands every read
//   and the end of the child over synchronously (TThread::Synchronize).
// - Each child lives in its own TEncoderRun, shared by the wrapper and its monitor. When
//   the wrapper forgets a run (stop, end of the child, an error line, a new start, its own
//   destruction) the child is killed and reaped if it still runs, and the monitor leaves
//   on its next pass without touching the wrapper again; a forgotten run never reports
//   anything, so each step ends exactly once.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Messages.h"
#include "platform/Process.h"
#include "platform/Thread.h"

namespace jobs {

// Status of an encoder step's end event (PI_MP3_ENDED, PI_WMA_ENDED).
constexpr std::int32_t EncodeStatusDeclined = 0;  // overwrite declined, or no encoder found
constexpr std::int32_t EncodeStatusInUse = 1;     // the output file is in use
constexpr std::int32_t EncodeStatusEnded = 2;     // the child exited (see LastExitCode)
constexpr std::int32_t EncodeStatusErrorLine = 8; // WM8EUTIL printed an error (text in Elapsed)

// One child and its pipes.
struct TEncoderRun {
    platform::Pipe StdIn;
    platform::Pipe StdOut;
    platform::Pipe StdErr;
    platform::TChildProcess Child;
    std::atomic<bool> Retired{false}; // set on the GUI thread when the wrapper lets go
};

class TEncoderProcess;

// Watches one run. Created running, frees itself when it ends.
class TEncoderMonitor : public platform::TThread {
public:
    TEncoderMonitor(TEncoderProcess* owner, std::shared_ptr<TEncoderRun> run);
    ~TEncoderMonitor() override;

    template <class Monitor>
    static void Launch(TEncoderProcess* owner, std::shared_ptr<TEncoderRun> run) {
        auto monitor = std::make_unique<Monitor>(owner, std::move(run));
        monitor->SetFreeOnTerminate(true);
        monitor.release()->Resume(); // from here the thread owns itself
    }

    // Monitors that have not ended yet, in the whole process.
    static int Running();

protected:
    void Execute() override;

private:
    // One peek of both pipes; true when something was read. Sets stop_ when the run was
    // forgotten meanwhile.
    bool Pass();
    // Runs fn on the GUI thread unless the run has been forgotten; false when it has
    // been (before or by fn).
    bool HandOver(const std::function<void()>& fn);

    TEncoderProcess* owner_;
    std::shared_ptr<TEncoderRun> run_;
    bool stop_ = false;
};

class TEncoderProcess {
public:
    TEncoderProcess();
    virtual ~TEncoderProcess();
    TEncoderProcess(const TEncoderProcess&) = delete;
    TEncoderProcess& operator=(const TEncoderProcess&) = delete;

    // Asks before overwriting, then starts the child and its monitor. Throws
    // std::runtime_error when the pipes or the process cannot be created.
    void Start();
    // When Active: clears it, forgets the monitor, closes the pipes and kills the child.
    // A killed child has no exit code of ours to give, so exitCode is only for callers.
    void StopProcess(int exitCode);
    // The child has exited and its output has been read: ends the step with EncodeStatusEnded.
    void ProcessEnded();

    // Monitor hand-overs (GUI thread): read the bytes a peek found and parse them.
    // Throw std::runtime_error when the read fails; the run is forgotten first.
    void ReadStdOut();
    void ReadStdErr();
    // Called by the monitor: whether run is still this wrapper's current run, and if so
    // reads count bytes from one of its pipes.
    bool HandOverRead(const TEncoderRun& run, bool fromStdErr, std::uint32_t count);
    bool HandOverEnd(const TEncoderRun& run);

    // The output parser: both pipes feed it, each read on its own.
    virtual void ParseOutput(const std::string& text) = 0;
    // Ends the step with the given status (the job window gets the end event).
    virtual void PostEnd(std::int32_t status) = 0;

    // The running child's process id; 0 when none is recorded.
    pid_t ChildPid() const;

    bool Active = false; // set by the job window before Start, cleared by StopProcess
    std::string InputFile;
    std::string OutputFile; // where the child writes
    // The name the output will have when complete (asked about, checked for use); empty:
    // OutputFile itself.
    std::string FinalFile;
    platform::HWND NotifyWindow = nullptr;
    std::intptr_t StepId = 0; // the wParam of every record sent
    bool EncodeMode = true;
    std::uint8_t JobKind = 0;
    // Whether to ask before replacing an existing output; unset: decided by JobKind.
    std::optional<bool> AsksToOverwrite;
    // Whether the last Start started a child (which may have written OutputFile).
    bool Launched = false;
    // How the last child ended (its exit status, 128 + signal when killed); read by the
    // job window with an EncodeStatusEnded end event to tell a failed encode from a finished one.
    int LastExitCode = 0;

protected:
    virtual bool AsksBeforeOverwrite() const = 0;
    // The command line of the child; false when the step has already been ended.
    virtual bool PrepareCommandLine(std::string& commandLine) = 0;
    virtual void LaunchMonitor(std::shared_ptr<TEncoderRun> run) = 0;

    // Lets go of the current run: the monitor leaves, the child is killed if it runs.
    void ForgetRun();
    // A line that names one of our files (the child echoing its arguments) is not a
    // progress line, whatever "%" or "#" the file name holds.
    bool EchoesFileNames(const std::string& line) const;
    // Posts a progress record to NotifyWindow; the window frees it.
    void PostRecord(std::int32_t code, std::string elapsed, std::string estimated,
                    std::int32_t status = 0) const;

    std::uint32_t BytesAvailable = 0;
    std::int32_t ProgressColumn = 0;
    std::chrono::steady_clock::time_point StartTime;

private:
    bool AnswersOverwrite(const std::string& target);
    const std::string& Target() const { return FinalFile.empty() ? OutputFile : FinalFile; }
    std::shared_ptr<TEncoderRun> CreatePipes() const;
    void ReadPipe(int fd, const char* name);

    std::shared_ptr<TEncoderRun> run_;
};

} // namespace jobs
