#include "jobs/WmaStep.h"

namespace jobs {

TWmaStep::TWmaStep(TEncodeRequest request, platform::HWND window)
    : TEncodeStep(std::move(request), window) {
    process_.NotifyWindow = window_;
    process_.StepId = request_.StepId;
    process_.InputFile = request_.Input;
    process_.OutputFile = request_.Partial;
    process_.FinalFile = request_.Output;
    process_.EncodeMode = true;
    process_.AsksToOverwrite = request_.AsksToOverwrite;
    process_.Preset = request_.WmaPreset;
    process_.Tags = request_.WmaTags;
    process_.Artist = request_.Tag.Artist;
    process_.Comment = request_.Tag.Comment;
}

void TWmaStep::Start() {
    process_.Active = true;
    process_.Start();
}

bool TWmaStep::Succeeded(const settings::TProcessInfo& end, bool /*progressSeen*/) const {
    return end.Status == EncodeStatusEnded && process_.LastExitCode == 0;
}

bool TWmaStep::Running() const {
    return process_.ChildPid() != 0;
}

void TWmaStep::StopEncoder() {
    process_.StopProcess(0);
}

} // namespace jobs
