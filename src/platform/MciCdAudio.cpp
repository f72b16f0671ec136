#include "platform/MciCdAudio.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>

#include "platform/WaveOut.h"

namespace platform {

namespace {
constexpr std::uint32_t kFrameBytes = 2352;
constexpr std::uint32_t kFramesPerBuffer = 8; // about 0.1 s
constexpr std::size_t kBuffers = 6;
constexpr auto kIdleWait = std::chrono::milliseconds(20);
} // namespace

struct MciCdAudio::Run {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    NotifyFn notify;
    std::atomic<bool> reported{false};

    std::mutex m;
    std::condition_variable cv;
    // Guarded by m.
    bool stop = false;
    bool paused = false;
    bool ended = false;
    std::uint32_t heard = 0;
    bool done[kBuffers] = {};

    std::thread thread;

    void Report(std::uint32_t result) {
        if (!reported.exchange(true) && notify) {
            notify(result);
        }
    }
};

// The buffers of one play queued on the sound output, in play order. Used by the play
// thread only; the output's own thread marks each played (or dropped) buffer in done.
class MciCdAudio::Output {
public:
    explicit Output(Run& run) : run_(run) {
        for (std::size_t i = 0; i < kBuffers; ++i) {
            buffers_[i].header.lpData = buffers_[i].data.data();
            buffers_[i].header.dwUser = i;
            idle_.push_back(i);
        }
    }
    ~Output() {
        if (device_ != nullptr) {
            Drop(0);
            if (waveOutClose(device_) != MMSYSERR_NOERROR) {
                std::fprintf(stderr, "cdaudio: the sound output did not close\n");
            }
        }
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    bool Open(std::uint32_t deviceId) {
        WAVEFORMATEX format = PcmWaveFormat(2, 44100, 16);
        return waveOutOpen(&device_, deviceId, &format, Played,
                           reinterpret_cast<std::uintptr_t>(&run_),
                           CALLBACK_FUNCTION) == MMSYSERR_NOERROR;
    }
    // With run.m held.
    bool FrontHeardLocked() const { return !queued_.empty() && run_.done[queued_.front()]; }
    bool CanQueue() const { return !idle_.empty(); }
    bool Empty() const { return queued_.empty(); }
    std::uint32_t FirstUnheard(std::uint32_t position) const {
        return queued_.empty() ? position : buffers_[queued_.front()].first;
    }
    void RetireHeard() {
        std::vector<std::size_t> heard;
        {
            std::lock_guard lock(run_.m);
            while (FrontHeardLocked()) {
                heard.push_back(queued_.front());
                queued_.pop_front();
            }
        }
        for (std::size_t i : heard) {
            Retire(i);
        }
    }
    // Reads and queues frames from position on until the buffers are all queued or `to`
    // is reached; false when a frame cannot be read or the output refuses it.
    bool Queue(CdAudioSource& source, std::uint32_t& position, std::uint32_t to) {
        while (!idle_.empty() && position < to) {
            const std::size_t i = idle_.back();
            Buffer& buffer = buffers_[i];
            const std::uint32_t frames = std::min(kFramesPerBuffer, to - position);
            if (!source.ReadFrames(position, frames,
                                   reinterpret_cast<std::uint8_t*>(buffer.data.data()))) {
                return false;
            }
            idle_.pop_back();
            buffer.first = position;
            buffer.header.dwBufferLength = frames * kFrameBytes;
            buffer.header.dwFlags = 0;
            {
                std::lock_guard lock(run_.m);
                run_.done[i] = false;
            }
            waveOutPrepareHeader(device_, &buffer.header, sizeof(WAVEHDR));
            if (waveOutWrite(device_, &buffer.header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
                Retire(i);
                return false;
            }
            queued_.push_back(i);
            position += frames;
        }
        return true;
    }
    // Drops what is queued; returns the first frame not heard (position when none was queued).
    std::uint32_t Drop(std::uint32_t position) {
        const std::uint32_t unheard = FirstUnheard(position);
        waveOutReset(device_);
        {
            std::unique_lock lock(run_.m);
            run_.cv.wait(lock, [&] {
                return std::all_of(queued_.begin(), queued_.end(),
                                   [&](std::size_t i) { return run_.done[i]; });
            });
        }
        for (std::size_t i : queued_) {
            Retire(i);
        }
        queued_.clear();
        return unheard;
    }

private:
    struct Buffer {
        WAVEHDR header;
        std::vector<char> data = std::vector<char>(kFramesPerBuffer * kFrameBytes);
        std::uint32_t first = 0;
    };

    static void Played(HWAVEOUT, std::uint32_t message, std::uintptr_t instance,
                       std::uintptr_t param1, std::uintptr_t) {
        if (message != WOM_DONE) {
            return;
        }
        auto* run = reinterpret_cast<Run*>(instance);
        const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
        {
            std::lock_guard lock(run->m);
            run->done[header->dwUser] = true;
        }
        run->cv.notify_all();
    }
    void Retire(std::size_t i) {
        waveOutUnprepareHeader(device_, &buffers_[i].header, sizeof(WAVEHDR));
        idle_.push_back(i);
    }

    Run& run_;
    HWAVEOUT device_ = nullptr;
    Buffer buffers_[kBuffers];
    std::deque<std::size_t> queued_;
    std::vector<std::size_t> idle_;
};

MciCdAudio::MciCdAudio(std::uint32_t deviceId) : deviceId_(deviceId) {}

MciCdAudio::~MciCdAudio() {
    Close();
}

MCIERROR MciCdAudio::Open(std::unique_ptr<CdAudioSource> source) {
    Close();
    std::vector<std::uint32_t> starts;
    if (!source || !source->TrackStarts(starts) || starts.size() < 2 ||
        !std::is_sorted(starts.begin(), starts.end())) {
        return MCIERR_DEVICE_NOT_READY;
    }
    source_ = std::move(source);
    starts_ = std::move(starts);
    lastPosition_ = starts_.front();
    open_ = true;
    return MCIERR_NOERROR;
}

MCIERROR MciCdAudio::Close() {
    EndRun(MCI_NOTIFY_ABORTED);
    source_.reset();
    starts_.clear();
    const bool wasOpen = open_;
    open_ = false;
    return wasOpen ? MCIERR_NOERROR : MCIERR_DEVICE_NOT_OPEN;
}

MciMode MciCdAudio::Mode() const {
    if (!open_) {
        return MciMode::NotOpen;
    }
    if (!run_) {
        return MciMode::Stopped;
    }
    std::lock_guard lock(run_->m);
    if (run_->ended) {
        return MciMode::Stopped;
    }
    return run_->paused ? MciMode::Paused : MciMode::Playing;
}

int MciCdAudio::TrackCount() const {
    return starts_.empty() ? 0 : static_cast<int>(starts_.size()) - 1;
}

std::uint32_t MciCdAudio::TrackPosition(int track) const {
    if (track < 1 || track > TrackCount() + 1) {
        return 0;
    }
    return starts_[static_cast<std::size_t>(track - 1)];
}

std::uint32_t MciCdAudio::Length() const {
    return starts_.empty() ? 0 : starts_.back();
}

std::uint32_t MciCdAudio::Position() const {
    if (!run_) {
        return lastPosition_;
    }
    std::lock_guard lock(run_->m);
    return run_->heard;
}

MCIERROR MciCdAudio::Play(std::uint32_t from, std::uint32_t to, NotifyFn notify) {
    if (!open_) {
        return MCIERR_DEVICE_NOT_OPEN;
    }
    to = std::min(to, Length());
    if (from < starts_.front() || from >= to) {
        return MCIERR_OUTOFRANGE;
    }
    EndRun(MCI_NOTIFY_SUPERSEDED);
    run_ = std::make_unique<Run>();
    run_->from = from;
    run_->to = to;
    run_->heard = from;
    run_->notify = std::move(notify);
    Run& run = *run_;
    run.thread = std::thread([this, &run] { Worker(run); });
    return MCIERR_NOERROR;
}

MCIERROR MciCdAudio::Pause() {
    return SetPaused(MciMode::Playing, true);
}

MCIERROR MciCdAudio::Resume() {
    return SetPaused(MciMode::Paused, false);
}

MCIERROR MciCdAudio::SetPaused(MciMode required, bool paused) {
    if (Mode() != required) {
        return open_ ? MCIERR_NONAPPLICABLE_FUNCTION : MCIERR_DEVICE_NOT_OPEN;
    }
    {
        std::lock_guard lock(run_->m);
        run_->paused = paused;
    }
    run_->cv.notify_all();
    return MCIERR_NOERROR;
}

MCIERROR MciCdAudio::Stop() {
    if (!open_) {
        return MCIERR_DEVICE_NOT_OPEN;
    }
    EndRun(MCI_NOTIFY_ABORTED);
    return MCIERR_NOERROR;
}

void MciCdAudio::EndRun(std::uint32_t result) {
    if (!run_) {
        return;
    }
    {
        std::lock_guard lock(run_->m);
        run_->stop = true;
    }
    run_->cv.notify_all();
    run_->thread.join();
    run_->Report(result);
    lastPosition_ = run_->heard;
    run_.reset();
}

void MciCdAudio::Worker(Run& run) {
    const bool ok = PlayRun(run);
    bool stopped = false;
    {
        std::lock_guard lock(run.m);
        run.ended = true;
        stopped = run.stop;
    }
    if (!ok) {
        run.Report(MCI_NOTIFY_FAILURE);
    } else if (!stopped) {
        run.Report(MCI_NOTIFY_SUCCESSFUL);
    }
}

// Keeps the sound output's buffers filled from the run's position on, drops them on pause
// and on stop, and ends once the last frame has been heard.
bool MciCdAudio::PlayRun(Run& run) {
    Output output(run);
    if (!output.Open(deviceId_)) {
        return false;
    }
    std::uint32_t position = run.from;
    bool pauseHandled = false;
    for (;;) {
        bool stop = false;
        bool paused = false;
        {
            std::unique_lock lock(run.m);
            run.cv.wait_for(lock, kIdleWait, [&] {
                return run.stop || run.paused != pauseHandled || output.FrontHeardLocked() ||
                       (!run.paused && output.CanQueue() && position < run.to);
            });
            stop = run.stop;
            paused = run.paused;
        }
        output.RetireHeard();
        if (stop) {
            return true;
        }
        if (paused && !pauseHandled) {
            // What was queued but not yet heard is played again after Resume.
            position = output.Drop(position);
            pauseHandled = true;
        } else if (!paused) {
            pauseHandled = false;
            if (!output.Queue(*source_, position, run.to)) {
                return false;
            }
        }
        {
            std::lock_guard lock(run.m);
            run.heard = output.FirstUnheard(position);
        }
        if (output.Empty() && position >= run.to) {
            return true;
        }
    }
}

} // namespace platform
