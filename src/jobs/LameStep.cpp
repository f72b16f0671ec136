#include "jobs/LameStep.h"

namespace jobs {

TLameStep::TLameStep(TEncodeRequest request, platform::HWND window)
    : TChildProcessStep(std::move(request), window) {
    process_.EncodeMode = !request_.Decode;
    process_.Options = request_.Mp3;
}

bool TLameStep::Succeeded(const settings::TProcessInfo& end, bool progressSeen) const {
    return end.Status == EncodeStatusEnded && process_.LastExitCode == 0 && progressSeen;
}

} // namespace jobs
