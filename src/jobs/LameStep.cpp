#include "jobs/LameStep.h"

namespace jobs {

TLameStep::TLameStep(TEncodeRequest request, platform::HWND window)
    : TEncodeStep(std::move(request), window) {
    process_.NotifyWindow = window_;
    process_.StepId = request_.StepId;
    process_.InputFile = request_.Input;
    process_.OutputFile = request_.Partial;
    process_.FinalFile = request_.Output;
    process_.EncodeMode = !request_.Decode;
    process_.AsksToOverwrite = request_.AsksToOverwrite;
    process_.Options = request_.Mp3;
}

void TLameStep::Start() {
    process_.Active = true;
    process_.Start();
}

bool TLameStep::Succeeded(const settings::TProcessInfo& end, bool progressSeen) const {
    return end.Status == EncodeStatusEnded && process_.LastExitCode == 0 && progressSeen;
}

bool TLameStep::Running() const {
    return process_.ChildPid() != 0;
}

void TLameStep::StopEncoder() {
    process_.StopProcess(0);
}

} // namespace jobs
