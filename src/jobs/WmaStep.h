#pragma once
// The encode step over the WM8EUTIL child: WAV to WMA with the request's preset, the disc's
// artist and comment on its command line when tags are on. It ends with PI_WMA_ENDED (sent,
// so it can arrive inside Start); the output was made when the helper exited with 0 without
// an error line.
#include "jobs/ChildProcessStep.h"
#include "jobs/WMAEncodeThread.h"

namespace jobs {

class TWmaStep final : public TChildProcessStep<TWMAEncodeProcess> {
public:
    TWmaStep(TEncodeRequest request, platform::HWND window);

    bool Succeeded(const settings::TProcessInfo& end, bool progressSeen) const override;

    // The file the helper is writing (for the size-based estimate).
    const std::string& Writing() const { return process_.OutputFile; }
    bool Active() const { return process_.Active; }
};

} // namespace jobs
