#include "jobs/FlacDecodeStep.h"

#include "audio/FlacReader.h"
#include "audio/PcmWavWriter.h"

namespace jobs {

TFlacDecodeStep::TFlacDecodeStep(TEncodeRequest request, platform::HWND window)
    : TWorkerStep(std::move(request), window, settings::PI_FLAC_DECODED) {}

TFlacDecodeStep::~TFlacDecodeStep() {
    StopWorker();
}

void TFlacDecodeStep::Encode() {
    audio::TFlacReader in(request_.Input);
    audio::TPcmWavWriter out(request_.Partial, in.Format());
    std::vector<std::uint8_t> pcm;
    while (in.Read(pcm)) {
        if (Stopping()) {
            return;
        }
        out.Write(pcm);
        Progress(in.FramesRead(), in.TotalFrames());
    }
    out.Finish();
}

} // namespace jobs
