#include "jobs/EncoderProcess.h"

#include <QApplication>
#include <QString>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "platform/Dialogs.h"
#include "platform/Log.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"

namespace jobs {

namespace {

std::atomic<int> runningMonitors{0};

constexpr auto kExitPoll = std::chrono::milliseconds(100);

[[noreturn]] void RaiseWithErrno(const std::string& text, int err) {
    throw std::runtime_error(text + std::to_string(err));
}

} // namespace

// ---- monitor --------------------------------------------------------------------------

TEncoderMonitor::TEncoderMonitor(TEncoderProcess* owner, std::shared_ptr<TEncoderRun> run)
    : platform::TThread(true), owner_(owner), run_(std::move(run)) {
    ++runningMonitors;
}

TEncoderMonitor::~TEncoderMonitor() {
    --runningMonitors;
}

int TEncoderMonitor::Running() {
    return runningMonitors.load();
}

void TEncoderMonitor::Execute() {
    bool idle = true;
    do {
        idle = !Pass();
        if (stop_) {
            return;
        }
        // While output keeps coming the loop reads without waiting.
        if (idle && run_->Child.WaitForExit(kExitPoll)) {
            while (Pass()) {
            }
            if (!stop_) {
                HandOver([this] { owner_->HandOverEnd(*run_); });
            }
            return;
        }
    } while (!(run_->Retired && idle));
}

bool TEncoderMonitor::Pass() {
    bool read = false;
    for (const bool fromStdErr : {false, true}) {
        if (run_->Retired) {
            stop_ = true;
            return false;
        }
        const int fd = fromStdErr ? run_->StdErr.ReadEnd.Get() : run_->StdOut.ReadEnd.Get();
        std::uint32_t count = 0;
        if (platform::PeekPipe(fd, count) && count > 0) {
            if (!HandOver([&] { owner_->HandOverRead(*run_, fromStdErr, count); })) {
                stop_ = true;
                return false;
            }
            read = true;
        }
    }
    return read;
}

bool TEncoderMonitor::HandOver(const std::function<void()>& fn) {
    if (run_->Retired) {
        return false;
    }
    try {
        // The check is repeated on the GUI thread: only there can the run be forgotten,
        // and after that the wrapper may be gone.
        platform::TThread::Synchronize([&] {
            if (!run_->Retired) {
                fn();
            }
        });
    } catch (const std::exception&) {
        // Without a GUI dispatcher the error surfaces here; the run is already forgotten.
        platform::LogSwallowedException("encoder monitor: handing output to the window");
        return false;
    }
    return !run_->Retired;
}

// ---- wrapper --------------------------------------------------------------------------

TEncoderProcess::TEncoderProcess() : StartTime(std::chrono::steady_clock::now()) {}

TEncoderProcess::~TEncoderProcess() {
    if (Active) {
        StopProcess(0);
    }
    ForgetRun();
}

void TEncoderProcess::Start() {
    ForgetRun();
    LastExitCode = 0;
    Launched = false;
    std::error_code ec;
    const std::string& target = Target();
    if (AsksToOverwrite.value_or(AsksBeforeOverwrite()) && std::filesystem::exists(target, ec)) {
        if (!AnswersOverwrite(target)) {
            PostEnd(EncodeStatusDeclined);
            return;
        }
        if (settings::IsFileInUse(target)) {
            PostEnd(EncodeStatusInUse);
            return;
        }
    }
    std::string commandLine;
    if (!PrepareCommandLine(commandLine)) {
        return;
    }
    std::shared_ptr<TEncoderRun> run = CreatePipes();
    ProgressColumn = 0;
    const platform::StdHandles handles{run->StdIn.ReadEnd.Get(), run->StdOut.WriteEnd.Get(),
                                       run->StdErr.WriteEnd.Get()};
    if (!run->Child.Start(commandLine, handles)) {
        RaiseWithErrno("Error while creating mp3 encoding process!", errno);
    }
    Launched = true;
    // The child has its own copies; ours would only keep the pipes open after it ends.
    run->StdIn.ReadEnd.Reset();
    run->StdOut.WriteEnd.Reset();
    run->StdErr.WriteEnd.Reset();
    StartTime = std::chrono::steady_clock::now();
    run_ = run;
    LaunchMonitor(std::move(run));
}

bool TEncoderProcess::AnswersOverwrite(const std::string& target) {
    const QString text = QString::fromStdString(target + " has existed,overite it?");
    return platform::TheDialogs().MessageBox(
               QApplication::activeWindow(), text, QStringLiteral("Vellorine"),
               platform::MbIcon::Information, platform::MbButtons::YesNo,
               platform::MbResult::Yes) == platform::MbResult::Yes;
}

std::shared_ptr<TEncoderRun> TEncoderProcess::CreatePipes() const {
    auto run = std::make_shared<TEncoderRun>();
    if (!platform::CreatePipe(run->StdIn, false)) {
        RaiseWithErrno("Error on STDIN pipe creation : ", errno);
    }
    if (!platform::CreatePipe(run->StdOut, true)) {
        RaiseWithErrno("Error on STDOUT pipe creation : ", errno);
    }
    if (!platform::CreatePipe(run->StdErr, true)) {
        RaiseWithErrno("Error on STDERR pipe creation : ", errno);
    }
    return run;
}

void TEncoderProcess::StopProcess(int /*exitCode*/) {
    if (!Active) {
        return;
    }
    Active = false;
    ForgetRun();
}

void TEncoderProcess::ProcessEnded() {
    LastExitCode = run_ ? run_->Child.ExitCode() : 0;
    ForgetRun();
    PostEnd(EncodeStatusEnded);
}

void TEncoderProcess::ForgetRun() {
    if (!run_) {
        return;
    }
    run_->Retired = true;
    run_->Child.Terminate();
    run_.reset(); // the pipes close once the monitor has let go as well
}

pid_t TEncoderProcess::ChildPid() const {
    return run_ && !run_->Child.Exited() ? run_->Child.Pid() : 0;
}

bool TEncoderProcess::HandOverRead(const TEncoderRun& run, bool fromStdErr, std::uint32_t count) {
    if (run_.get() != &run) {
        return false;
    }
    BytesAvailable = count;
    if (fromStdErr) {
        ReadStdErr();
    } else {
        ReadStdOut();
    }
    return true;
}

bool TEncoderProcess::HandOverEnd(const TEncoderRun& run) {
    if (run_.get() != &run) {
        return false;
    }
    ProcessEnded();
    return true;
}

void TEncoderProcess::ReadStdOut() {
    if (run_) {
        ReadPipe(run_->StdOut.ReadEnd.Get(), "STDOUT");
    }
}

void TEncoderProcess::ReadStdErr() {
    if (run_) {
        ReadPipe(run_->StdErr.ReadEnd.Get(), "STDERR");
    }
}

void TEncoderProcess::ReadPipe(int fd, const char* name) {
    std::string text;
    if (!platform::ReadPipe(fd, BytesAvailable, text)) {
        const int err = errno;
        ForgetRun();
        RaiseWithErrno(std::string("Error reading ") + name + " pipe : ", err);
    }
    ParseOutput(text);
}

bool TEncoderProcess::EchoesFileNames(const std::string& line) const {
    return (!InputFile.empty() && line.find(InputFile) != std::string::npos) ||
           (!OutputFile.empty() && line.find(OutputFile) != std::string::npos) ||
           (!FinalFile.empty() && line.find(FinalFile) != std::string::npos);
}

void TEncoderProcess::PostRecord(std::int32_t code, std::string elapsed, std::string estimated,
                                 std::int32_t status) const {
    settings::PostProcessInfo(
        NotifyWindow,
        settings::NewProcessInfo(code, status, std::move(elapsed), std::move(estimated)), StepId);
}

} // namespace jobs
