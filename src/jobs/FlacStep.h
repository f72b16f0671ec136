#pragma once
// The in-process step that turns the request's WAV into FLAC at its own rate, with the request's
// level and verify setting. Ends with PI_FLAC_DONE; see TWorkerStep for the records it posts.
#include "jobs/WorkerStep.h"

namespace jobs {

class TFlacStep final : public TWorkerStep {
public:
    TFlacStep(TEncodeRequest request, platform::HWND window);
    ~TFlacStep() override;

protected:
    void Encode() override;
};

} // namespace jobs
