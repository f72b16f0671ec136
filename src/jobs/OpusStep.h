#pragma once
// The in-process step that turns the request's WAV into Ogg Opus at the request's bit rate;
// libopusenc takes any input rate. Ends with PI_OPUS_DONE; see TWorkerStep for the records it
// posts.
#include "jobs/WorkerStep.h"

namespace jobs {

class TOpusStep final : public TWorkerStep {
public:
    TOpusStep(TEncodeRequest request, platform::HWND window);
    ~TOpusStep() override;

protected:
    void Encode() override;
};

} // namespace jobs
