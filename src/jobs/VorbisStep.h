#pragma once
// The encode step over the in-process Vorbis writer: a WAV reader feeding an Ogg Vorbis
// writer of its own, set up from the request's OGG options. The writer's worker thread
// posts the progress and the end (PI_OGG_DONE, status 0, or JobStatusWriterFailed with the
// reason in Elapsed); it touches nothing else of the job.
#include <atomic>
#include <chrono>
#include <memory>

#include "jobs/EncodeStep.h"

namespace audio {
class TACSOutput;
class TVorbisOut;
class TWaveIn;
} // namespace audio

namespace jobs {

class TVorbisStep final : public TEncodeStep {
public:
    TVorbisStep(TEncodeRequest request, platform::HWND window);
    ~TVorbisStep() override;

    void Start() override;
    bool Succeeded(const settings::TProcessInfo& end, bool progressSeen) const override;
    bool Running() const override;

protected:
    void StopEncoder() override;
    bool Launched() const override { return launched_; }

private:
    void ApplySettings();
    void PostProgress();

    std::unique_ptr<audio::TWaveIn> in_;
    std::unique_ptr<audio::TVorbisOut> out_;
    std::atomic<std::chrono::steady_clock::rep> start_{0};
    bool launched_ = false;
    std::atomic<bool> stopped_{false};
};

} // namespace jobs
