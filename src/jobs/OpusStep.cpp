#include "jobs/OpusStep.h"

#include "audio/OpusWriter.h"
#include "audio/PcmWavReader.h"

namespace jobs {

namespace {
constexpr std::size_t kChunkFrames = 8192;
} // namespace

TOpusStep::TOpusStep(TEncodeRequest request, platform::HWND window)
    : TWorkerStep(std::move(request), window, settings::PI_OPUS_DONE) {}

TOpusStep::~TOpusStep() {
    StopWorker();
}

void TOpusStep::Encode() {
    audio::TPcmWavReader in(request_.Input);
    audio::TOpusWriter out(request_.Partial, in.Format(), request_.Opus.BitRate);
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
