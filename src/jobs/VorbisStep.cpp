#include "jobs/VorbisStep.h"

#include <algorithm>
#include <thread>

#include "audio/ACS_Vorbis.h"
#include "audio/ACS_Wave.h"
#include "jobs/OutputLines.h"

namespace jobs {

namespace {

using Clock = std::chrono::steady_clock;
// How long a stopped writer may take to close its file.
constexpr auto kStopTimeout = std::chrono::seconds(10);

} // namespace

TVorbisStep::TVorbisStep(TEncodeRequest request, platform::HWND window)
    : TEncodeStep(std::move(request), window), in_(std::make_unique<audio::TWaveIn>()),
      out_(std::make_unique<audio::TVorbisOut>()) {
    in_->SetStartSample(0);
    in_->SetEndSample(-1);
    in_->SetLoop(false);
    out_->SetInput(in_.get());
    out_->SetFileMode(audio::foRewrite);
    out_->SetSerial(0);
    // A stopped writer's worker still ends its run; that is no end of the step.
    out_->OnProgress = [this](audio::TACSOutput*) {
        if (!stopped_) {
            PostProgress();
        }
    };
    out_->OnDone = [this](audio::TACSOutput*) {
        if (!stopped_) {
            Post(settings::PI_OGG_DONE, 0);
        }
    };
    out_->OnThreadException = [this](audio::TACSOutput*, const std::exception& e) {
        if (!stopped_) {
            Post(settings::PI_OGG_DONE, JobStatusWriterFailed, e.what());
        }
    };
}

// The writer's worker ends here, before the members its events use.
TVorbisStep::~TVorbisStep() {
    out_.reset();
    in_.reset();
}

void TVorbisStep::Start() {
    in_->SetFileName(request_.Input);
    out_->SetFileName(request_.Partial);
    ApplySettings();
    start_ = Clock::now().time_since_epoch().count();
    launched_ = true;
    out_->Run();
}

void TVorbisStep::ApplySettings() {
    const settings::TOggOptions& o = request_.Ogg;
    auto rate = [](int position) {
        return static_cast<audio::TVorbisBitRate>(std::clamp(position, 0, int(audio::br499)));
    };
    if (o.IsUseCompress) {
        out_->SetCompression(static_cast<float>(o.CompressPosition - 10) / 100.0f);
        out_->SetDesiredNominalBitrate(audio::brAutoSelect);
        out_->SetDesiredMaximumBitrate(audio::brAutoSelect);
        out_->SetMinimumBitrate(audio::brAutoSelect);
    } else {
        out_->SetDesiredNominalBitrate(rate(o.NomalBitRate));
        out_->SetDesiredMaximumBitrate(rate(o.MaxBitRate));
        out_->SetMinimumBitrate(rate(o.MinBitRate));
        out_->SetCompression(0.2f);
    }
}

void TVorbisStep::PostProgress() {
    const std::int32_t code = out_->Progress();
    const Clock::time_point start{Clock::duration{start_.load()}};
    TimeTexts times = ProgressTimeTexts(SecondsSince(start), code);
    Post(code, 0, std::move(times.Elapsed), std::move(times.Estimated));
}

bool TVorbisStep::Succeeded(const settings::TProcessInfo& end, bool /*progressSeen*/) const {
    return end.Status == 0;
}

bool TVorbisStep::Running() const {
    return out_->Busy();
}

// Waits until the writer has let go of its file, so that it can be removed.
void TVorbisStep::StopEncoder() {
    stopped_ = true;
    if (!out_->Busy()) {
        return;
    }
    if (out_->Status() == audio::osPaused) {
        out_->Resume();
    }
    out_->Stop();
    const auto deadline = Clock::now() + kStopTimeout;
    while (out_->Busy() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace jobs
