#include "jobs/WmaStep.h"

namespace jobs {

TWmaStep::TWmaStep(TEncodeRequest request, platform::HWND window)
    : TChildProcessStep(std::move(request), window) {
    process_.Preset = request_.WmaPreset;
    process_.Tags = request_.WmaTags;
    process_.Artist = request_.Tag.Artist;
    process_.Comment = request_.Tag.Comment;
}

bool TWmaStep::Succeeded(const settings::TProcessInfo& end, bool /*progressSeen*/) const {
    return end.Status == EncodeStatusEnded && process_.LastExitCode == 0;
}

} // namespace jobs
