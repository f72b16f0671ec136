#include "jobs/OpusStep.h"

#include "audio/OpusWriter.h"
#include "audio/PcmWavReader.h"

namespace jobs {

TOpusStep::TOpusStep(TEncodeRequest request, platform::HWND window)
    : TWorkerStep(std::move(request), window, settings::PI_OPUS_DONE) {}

TOpusStep::~TOpusStep() {
    StopWorker();
}

void TOpusStep::Encode() {
    audio::TPcmWavReader in(request_.Input);
    audio::TOpusWriter out(request_.Partial, in.Format(), request_.Opus.BitRate);
    EncodeWav(in, out);
}

} // namespace jobs
