#include "platform/WaveIn.h"

#include "platform/PulseStreamOpen.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

namespace {

constexpr int kRequestTimeoutMs = 2000;
// The server hands captured data over in fragments of this length: a stop waits at most
// about this long for the last of it. Shorter fragments wake the client more often (10 ms
// cost twice the CPU time of 40 ms in bench_record).
constexpr pa_usec_t kFragmentUsec = 40000;
// A source may hand its data over in bursts (a sink's monitor does, a block of the sink's
// latency at a time); a stop waits this long at most for the sound up to its own moment.
constexpr int kStopWaitMs = 1500;

void OnOperationDone(pa_stream*, int, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

} // namespace

struct WaveInDevice {
    std::unique_ptr<pulse::Session> session;
    pa_stream* stream = nullptr;
    pa_sample_spec sampleSpec{};
    WaveInProc callback = nullptr;
    uintptr_t instance = 0;

    std::recursive_mutex callMutex; // serialises the waveIn calls of this device
    std::mutex mutex;               // guards the fields below
    std::deque<WAVEHDR*> queue;
    bool started = false;
    std::chrono::steady_clock::time_point startTime;
    uint64_t limit = UINT64_MAX; // bytes of the recording's time: a stop keeps no more
    WaveInStatus status;

    pa_threaded_mainloop* Mainloop() const { return session->Mainloop(); }
    pa_context* Context() const { return session->Context(); }

    void Notify(uint32_t message, uintptr_t param1) {
        if (callback != nullptr) {
            callback(this, message, instance, param1, 0);
        }
    }

    void ReportDone(const std::vector<WAVEHDR*>& done) {
        for (WAVEHDR* header : done) {
            Notify(WIM_DATA, reinterpret_cast<uintptr_t>(header));
        }
    }

    static void MarkDone(WAVEHDR* header) {
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    }

    // Copies captured bytes into the queued buffers; the full ones go to done (mutex held).
    void Store(const uint8_t* data, size_t size, std::vector<WAVEHDR*>& done) {
        const uint64_t covered = status.recordedBytes + status.lostBytes;
        size = static_cast<size_t>(std::min<uint64_t>(size, limit - std::min(limit, covered)));
        while (size > 0) {
            if (queue.empty() || !started) {
                ++status.overflows;
                status.lostBytes += size;
                return;
            }
            WAVEHDR* header = queue.front();
            const size_t room = header->dwBufferLength - header->dwBytesRecorded;
            const size_t take = std::min(room, size);
            std::memcpy(header->lpData + header->dwBytesRecorded, data, take);
            header->dwBytesRecorded += static_cast<uint32_t>(take);
            status.recordedBytes += take;
            data += take;
            size -= take;
            if (header->dwBytesRecorded == header->dwBufferLength) {
                MarkDone(header);
                done.push_back(header);
                queue.pop_front();
            }
        }
    }

    // Takes everything the stream holds and reports the buffers it filled, in order (main
    // loop lock held, so no other drain runs meanwhile).
    void Drain() {
        std::vector<WAVEHDR*> done;
        for (;;) {
            const void* data = nullptr;
            size_t size = 0;
            if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) {
                break;
            }
            {
                std::lock_guard lock(mutex);
                if (data == nullptr) {
                    ++status.overflows; // a hole: the server dropped data we did not take
                    status.lostBytes += size;
                } else {
                    Store(static_cast<const uint8_t*>(data), size, done);
                }
            }
            pa_stream_drop(stream);
        }
        ReportDone(done);
    }

    // Hands back the buffer being filled (when it holds anything) or, with all, every one.
    std::vector<WAVEHDR*> TakeQueued(bool all) {
        std::vector<WAVEHDR*> done;
        std::lock_guard lock(mutex);
        while (!queue.empty() && (all || queue.front()->dwBytesRecorded > 0)) {
            MarkDone(queue.front());
            done.push_back(queue.front());
            queue.pop_front();
            if (!all) {
                break;
            }
        }
        return done;
    }

    static void OnRead(pa_stream*, size_t, void* userdata) {
        auto* self = static_cast<WaveInDevice*>(userdata);
        self->Drain();
        pa_threaded_mainloop_signal(self->Mainloop(), 0);
    }

    // Waits until the sound up to now has come in (lock held), keeping no more than that.
    void CatchUp() {
        {
            std::lock_guard lock(mutex);
            if (!started) {
                return;
            }
            const auto elapsed = std::chrono::steady_clock::now() - startTime;
            const uint64_t frames =
                static_cast<uint64_t>(
                    std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()) *
                sampleSpec.rate / 1000000;
            limit = frames * pa_frame_size(&sampleSpec);
        }
        Drain();
        pulse::WaitLocked(
            Mainloop(), Context(),
            [this] {
                std::lock_guard lock(mutex);
                return status.recordedBytes + status.lostBytes >= limit || status.failed;
            },
            kStopWaitMs);
    }

    static void OnState(pa_stream* s, void* userdata) {
        auto* self = static_cast<WaveInDevice*>(userdata);
        pa_threaded_mainloop_signal(self->Mainloop(), 0);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(s))) {
            return;
        }
        {
            std::lock_guard lock(self->mutex);
            self->status.failed = true;
        }
        self->ReportDone(self->TakeQueued(true));
    }

    bool StreamGood() const {
        return stream != nullptr && pa_stream_get_state(stream) == PA_STREAM_READY &&
               pa_context_get_state(Context()) == PA_CONTEXT_READY;
    }

    bool Connect(const char* sourceName) {
        pa_channel_map map;
        pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_WAVEEX);
        pa_threaded_mainloop_lock(Mainloop());
        stream = pa_stream_new(Context(), "Recording", &sampleSpec, &map);
        bool ready = false;
        if (stream != nullptr) {
            pa_stream_set_state_callback(stream, OnState, this);
            pa_stream_set_read_callback(stream, OnRead, this);
            pa_buffer_attr attr;
            attr.maxlength = static_cast<uint32_t>(-1);
            attr.tlength = static_cast<uint32_t>(-1);
            attr.prebuf = static_cast<uint32_t>(-1);
            attr.minreq = static_cast<uint32_t>(-1);
            attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &sampleSpec));
            const auto flags =
                static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
            if (pa_stream_connect_record(stream, sourceName, &attr, flags) == 0) {
                ready = pulse::WaitStreamReady(Mainloop(), Context(), stream, kRequestTimeoutMs);
            }
        }
        pa_threaded_mainloop_unlock(Mainloop());
        return ready;
    }

    // Corks or uncorks the stream (lock held); false when the server did not do it.
    bool Cork(bool cork) {
        return pulse::FinishOperation(
            Mainloop(), Context(),
            pa_stream_cork(stream, cork ? 1 : 0, OnOperationDone, Mainloop()), kRequestTimeoutMs);
    }

    void Disconnect() {
        if (stream == nullptr) {
            return;
        }
        pa_threaded_mainloop_lock(Mainloop());
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
        pa_threaded_mainloop_unlock(Mainloop());
    }

    ~WaveInDevice() { Disconnect(); }
};

uint32_t waveInGetNumDevs() {
    return pulse::CountDevices(pulse::Direction::Capture);
}

MMRESULT waveInOpen(HWAVEIN* device, uint32_t deviceId, const WAVEFORMATEX* format,
                    WaveInProc callback, uintptr_t instance, uint32_t flags) {
    if (device == nullptr || format == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *device = nullptr;
    if (format->wFormatTag != WAVE_FORMAT_PCM ||
        (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) || format->nChannels == 0 ||
        format->nChannels > 2 || format->nSamplesPerSec == 0 ||
        format->nSamplesPerSec > PA_RATE_MAX) {
        return WAVERR_BADFORMAT;
    }
    auto dev = std::make_unique<WaveInDevice>();
    const MMRESULT opened = pulse::OpenStream(
        *dev, pulse::Direction::Capture, deviceId, *format,
        format->wBitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE, callback, instance, flags);
    if (opened != MMSYSERR_NOERROR) {
        return opened;
    }
    *device = dev.release();
    (*device)->Notify(WIM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, uint32_t headerSize) {
    return PrepareWaveHeader(device, header, headerSize);
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, uint32_t headerSize) {
    return UnprepareWaveHeader(device, header, headerSize);
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, uint32_t headerSize) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || headerSize < sizeof(WAVEHDR) || header->lpData == nullptr ||
        header->dwBufferLength == 0) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    std::lock_guard calls(device->callMutex);
    header->dwBytesRecorded = 0;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    bool failed = false;
    {
        std::lock_guard lock(device->mutex);
        failed = device->status.failed;
        if (!failed) {
            device->queue.push_back(header);
        }
    }
    if (failed) {
        // Nothing will fill it: it comes back empty at once.
        WaveInDevice::MarkDone(header);
        device->ReportDone({header});
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN device) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard calls(device->callMutex);
    pa_threaded_mainloop_lock(device->Mainloop());
    bool ok = device->StreamGood();
    if (ok) {
        pulse::FinishOperation(device->Mainloop(), device->Context(),
                               pa_stream_flush(device->stream, OnOperationDone, device->Mainloop()),
                               kRequestTimeoutMs);
        ok = device->Cork(false);
        std::lock_guard lock(device->mutex);
        device->started = true;
        device->limit = UINT64_MAX;
        device->startTime = std::chrono::steady_clock::now();
    }
    pa_threaded_mainloop_unlock(device->Mainloop());
    return ok ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

MMRESULT waveInStop(HWAVEIN device) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard calls(device->callMutex);
    pa_threaded_mainloop_lock(device->Mainloop());
    if (device->StreamGood()) {
        device->CatchUp();
        device->Cork(true);
        device->Drain();
    }
    {
        std::lock_guard lock(device->mutex);
        device->started = false;
    }
    pa_threaded_mainloop_unlock(device->Mainloop());
    device->ReportDone(device->TakeQueued(false));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN device) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard calls(device->callMutex);
    const MMRESULT stopped = waveInStop(device);
    if (stopped != MMSYSERR_NOERROR) {
        return stopped;
    }
    device->ReportDone(device->TakeQueued(true));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetStatus(HWAVEIN device, WaveInStatus* status) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (status == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    std::lock_guard lock(device->mutex);
    *status = device->status;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN device) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        std::lock_guard calls(device->callMutex);
        std::lock_guard lock(device->mutex);
        if (!device->queue.empty()) {
            return WAVERR_STILLPLAYING;
        }
    }
    std::unique_ptr<WaveInDevice> owned(device);
    owned->Disconnect();
    owned->Notify(WIM_CLOSE, 0);
    return MMSYSERR_NOERROR;
}

} // namespace platform
