#pragma once
// The in-process step that turns the request's FLAC file back into a plain WAV file, sample for
// sample. Ends with PI_FLAC_DECODED; see TWorkerStep for the records it posts.
#include "jobs/WorkerStep.h"

namespace jobs {

class TFlacDecodeStep final : public TWorkerStep {
public:
    TFlacDecodeStep(TEncodeRequest request, platform::HWND window);
    ~TFlacDecodeStep() override;

protected:
    void Encode() override;
};

} // namespace jobs
