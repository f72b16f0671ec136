#pragma once
// What the encode steps over a child process (lame, WM8EUTIL) share: the process wrapper
// is told the request's files, window and step id when the step is made, started on
// Start, and killed on Stop. Each step adds its own settings and its rule for success.
#include "jobs/EncodeStep.h"
#include "jobs/EncoderProcess.h"

namespace jobs {

template <class Process> class TChildProcessStep : public TEncodeStep {
public:
    TChildProcessStep(TEncodeRequest request, platform::HWND window)
        : TEncodeStep(std::move(request), window) {
        process_.NotifyWindow = window_;
        process_.StepId = request_.StepId;
        process_.InputFile = request_.Input;
        process_.OutputFile = request_.Partial;
        process_.FinalFile = request_.Output;
        process_.EncodeMode = true;
        process_.AsksToOverwrite = request_.AsksToOverwrite;
    }

    void Start() override {
        process_.Active = true;
        process_.Start();
    }
    bool Running() const override { return process_.ChildPid() != 0; }
    int ExitCode() const override { return process_.LastExitCode; }

protected:
    void StopEncoder() override { process_.StopProcess(0); }
    bool Launched() const override { return process_.Launched; }

    Process process_;
};

} // namespace jobs
