#include "jobs/FlacStep.h"

#include "audio/FlacWriter.h"
#include "audio/PcmWavReader.h"

namespace jobs {

namespace {
constexpr std::size_t kChunkFrames = 8192;
} // namespace

TFlacStep::TFlacStep(TEncodeRequest request, platform::HWND window)
    : TWorkerStep(std::move(request), window, settings::PI_FLAC_DONE) {}

TFlacStep::~TFlacStep() {
    StopWorker();
}

void TFlacStep::Encode() {
    audio::TPcmWavReader in(request_.Input);
    audio::TFlacWriter out(request_.Partial, in.Format(), request_.Flac.Level, request_.Flac.Verify,
                           in.TotalFrames());
    std::vector<std::uint8_t> pcm;
    for (in.Read(pcm, kChunkFrames); !pcm.empty(); in.Read(pcm, kChunkFrames)) {
        if (Stopping()) {
            return;
        }
        out.Write(pcm);
        Progress(in.FramesRead(), in.TotalFrames());
    }
    out.Finish();
}

} // namespace jobs
