#include "jobs/FlacStep.h"

#include "audio/FlacWriter.h"
#include "audio/PcmWavReader.h"

namespace jobs {

TFlacStep::TFlacStep(TEncodeRequest request, platform::HWND window)
    : TWorkerStep(std::move(request), window, settings::PI_FLAC_DONE) {}

TFlacStep::~TFlacStep() {
    StopWorker();
}

void TFlacStep::Encode() {
    audio::TPcmWavReader in(request_.Input);
    audio::TFlacWriter out(request_.Partial, in.Format(), request_.Flac.Level, request_.Flac.Verify,
                           in.TotalFrames());
    EncodeWav(in, out);
}

} // namespace jobs
