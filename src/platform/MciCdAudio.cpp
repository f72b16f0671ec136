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

namespace {

struct Buffer {
    WAVEHDR header;
    std::vector<char> data = std::vector<char>(kFramesPerBuffer * kFrameBytes);
    std::uint32_t first = 0;
};

} // namespace

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
    if (Mode() != MciMode::Playing) {
        return open_ ? MCIERR_NONAPPLICABLE_FUNCTION : MCIERR_DEVICE_NOT_OPEN;
    }
    {
        std::lock_guard lock(run_->m);
        run_->paused = true;
    }
    run_->cv.notify_all();
    return MCIERR_NOERROR;
}

MCIERROR MciCdAudio::Resume() {
    if (Mode() != MciMode::Paused) {
        return open_ ? MCIERR_NONAPPLICABLE_FUNCTION : MCIERR_DEVICE_NOT_OPEN;
    }
    {
        std::lock_guard lock(run_->m);
        run_->paused = false;
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

// Keeps up to kBuffers buffers queued on the sound output from the run's position on,
// drops the queue on pause and on stop, and ends once the last frame has been heard.
bool MciCdAudio::PlayRun(Run& run) {
    WAVEFORMATEX format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;
    // The sound output's thread marks each played (or dropped) buffer.
    const WaveOutProc played = [](HWAVEOUT, std::uint32_t message, std::uintptr_t instance,
                                  std::uintptr_t param1, std::uintptr_t) {
        if (message != WOM_DONE) {
            return;
        }
        auto* owner = reinterpret_cast<Run*>(instance);
        const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
        {
            std::lock_guard lock(owner->m);
            owner->done[header->dwUser] = true;
        }
        owner->cv.notify_all();
    };
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, deviceId_, &format, played, reinterpret_cast<std::uintptr_t>(&run),
                    CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        return false;
    }
    std::vector<Buffer> buffers(kBuffers);
    std::deque<std::size_t> queued; // in play order
    std::vector<std::size_t> idle;
    for (std::size_t i = 0; i < kBuffers; ++i) {
        buffers[i].header.lpData = buffers[i].data.data();
        buffers[i].header.dwUser = i;
        idle.push_back(i);
    }
    auto dropQueue = [&] {
        waveOutReset(device);
        std::unique_lock lock(run.m);
        run.cv.wait(lock, [&] {
            return std::all_of(queued.begin(), queued.end(),
                               [&](std::size_t i) { return run.done[i]; });
        });
    };
    auto retire = [&](std::size_t i) {
        waveOutUnprepareHeader(device, &buffers[i].header, sizeof(WAVEHDR));
        idle.push_back(i);
    };

    std::uint32_t position = run.from;
    bool ok = true;
    bool pauseHandled = false;
    for (;;) {
        bool stop = false;
        bool paused = false;
        std::vector<std::size_t> heardBuffers;
        {
            std::unique_lock lock(run.m);
            run.cv.wait_for(lock, kIdleWait, [&] {
                return run.stop || run.paused != pauseHandled ||
                       (!queued.empty() && run.done[queued.front()]) ||
                       (!run.paused && !idle.empty() && position < run.to);
            });
            stop = run.stop;
            paused = run.paused;
            while (!queued.empty() && run.done[queued.front()]) {
                heardBuffers.push_back(queued.front());
                queued.pop_front();
            }
        }
        for (std::size_t i : heardBuffers) {
            retire(i);
        }
        if (stop) {
            break;
        }
        if (paused && !pauseHandled) {
            // What was queued but not yet heard is played again after Resume.
            if (!queued.empty()) {
                position = buffers[queued.front()].first;
            }
            dropQueue();
            while (!queued.empty()) {
                retire(queued.front());
                queued.pop_front();
            }
            pauseHandled = true;
        } else if (!paused) {
            pauseHandled = false;
            while (!idle.empty() && position < run.to) {
                const std::size_t i = idle.back();
                Buffer& buffer = buffers[i];
                const std::uint32_t frames = std::min(kFramesPerBuffer, run.to - position);
                if (!source_->ReadFrames(position, frames,
                                         reinterpret_cast<std::uint8_t*>(buffer.data.data()))) {
                    ok = false;
                    break;
                }
                idle.pop_back();
                buffer.first = position;
                buffer.header.dwBufferLength = frames * kFrameBytes;
                buffer.header.dwFlags = 0;
                {
                    std::lock_guard lock(run.m);
                    run.done[i] = false;
                }
                waveOutPrepareHeader(device, &buffer.header, sizeof(WAVEHDR));
                if (waveOutWrite(device, &buffer.header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
                    retire(i);
                    ok = false;
                    break;
                }
                queued.push_back(i);
                position += frames;
            }
        }
        {
            std::lock_guard lock(run.m);
            run.heard = queued.empty() ? position : buffers[queued.front()].first;
        }
        if (!ok || (queued.empty() && position >= run.to)) {
            break;
        }
    }
    dropQueue();
    for (std::size_t i : queued) {
        retire(i);
    }
    if (waveOutClose(device) != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "cdaudio: the sound output did not close\n");
    }
    return ok;
}

} // namespace platform
