#include "platform/WaveOut.h"

#include "platform/PulseStreamOpen.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {

namespace pulse {

namespace {

void SignalMainloop(pa_threaded_mainloop* mainloop) {
    pa_threaded_mainloop_signal(mainloop, 0);
}

void OnContextState(pa_context*, void* userdata) {
    SignalMainloop(static_cast<pa_threaded_mainloop*>(userdata));
}

struct Deadline {
    pa_threaded_mainloop* mainloop;
    bool expired = false;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* deadline = static_cast<Deadline*>(userdata);
    deadline->expired = true;
    SignalMainloop(deadline->mainloop);
}

struct NameList {
    pa_threaded_mainloop* mainloop;
    std::vector<std::string> names;
};

void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* list = static_cast<NameList*>(userdata);
    if (eol != 0 || info == nullptr) {
        SignalMainloop(list->mainloop);
        return;
    }
    list->names.emplace_back(info->name);
}

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* list = static_cast<NameList*>(userdata);
    if (eol != 0 || info == nullptr) {
        SignalMainloop(list->mainloop);
        return;
    }
    list->names.emplace_back(info->name);
}

} // namespace

// Waits (main loop lock held) until done() holds or timeoutMs pass; a hung server must not
// hang the caller.
bool WaitLocked(pa_threaded_mainloop* mainloop, pa_context* context,
                const std::function<bool()>& done, int timeoutMs) {
    Deadline deadline{mainloop};
    pa_time_event* timer =
        pa_context_rttime_new(context, pa_rtclock_now() + static_cast<pa_usec_t>(timeoutMs) * 1000,
                              OnDeadline, &deadline);
    bool result = done();
    while (!result && !deadline.expired) {
        pa_threaded_mainloop_wait(mainloop);
        result = done();
    }
    if (timer != nullptr) {
        pa_threaded_mainloop_get_api(mainloop)->time_free(timer);
    }
    return result;
}

bool WaitStreamReady(pa_threaded_mainloop* mainloop, pa_context* context, pa_stream* stream,
                     int timeoutMs) {
    WaitLocked(
        mainloop, context,
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        timeoutMs);
    return pa_stream_get_state(stream) == PA_STREAM_READY;
}

// Runs an operation to its end (lock held); cancels it when the server does not answer.
bool FinishOperation(pa_threaded_mainloop* mainloop, pa_context* context, pa_operation* op,
                     int timeoutMs) {
    if (op == nullptr) {
        return false;
    }
    const bool finished = WaitLocked(
        mainloop, context,
        [op, context] {
            return pa_operation_get_state(op) != PA_OPERATION_RUNNING ||
                   !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
        },
        timeoutMs);
    const bool done = finished && pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
        pa_operation_cancel(op);
    }
    pa_operation_unref(op);
    return done;
}

std::unique_ptr<Session> Session::Connect(const char* clientName, int timeoutMs) {
    std::unique_ptr<Session> session(new Session());
    session->mainloop_ = pa_threaded_mainloop_new();
    if (session->mainloop_ == nullptr) {
        return nullptr;
    }
    session->context_ =
        pa_context_new(pa_threaded_mainloop_get_api(session->mainloop_), clientName);
    if (session->context_ == nullptr) {
        return nullptr;
    }
    pa_context_set_state_callback(session->context_, OnContextState, session->mainloop_);
    if (pa_context_connect(session->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return nullptr;
    }
    if (pa_threaded_mainloop_start(session->mainloop_) < 0) {
        return nullptr;
    }
    pa_threaded_mainloop_lock(session->mainloop_);
    pa_context* context = session->context_;
    const bool ready = WaitLocked(
        session->mainloop_, context,
        [context] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeoutMs);
    const bool good = ready && pa_context_get_state(context) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(session->mainloop_);
    if (!good) {
        return nullptr;
    }
    return session;
}

Session::~Session() {
    if (mainloop_ != nullptr && context_ != nullptr) {
        pa_threaded_mainloop_lock(mainloop_);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_threaded_mainloop_unlock(mainloop_);
    }
    if (mainloop_ != nullptr) {
        pa_threaded_mainloop_stop(mainloop_);
    }
    if (context_ != nullptr) {
        pa_context_unref(context_);
    }
    if (mainloop_ != nullptr) {
        pa_threaded_mainloop_free(mainloop_);
    }
}

std::vector<std::string> Session::SinkNames() {
    NameList list{mainloop_, {}};
    pa_threaded_mainloop_lock(mainloop_);
    FinishOperation(mainloop_, context_, pa_context_get_sink_info_list(context_, OnSinkInfo, &list),
                    2000);
    pa_threaded_mainloop_unlock(mainloop_);
    return list.names;
}

std::vector<std::string> Session::SourceNames() {
    NameList list{mainloop_, {}};
    pa_threaded_mainloop_lock(mainloop_);
    FinishOperation(mainloop_, context_,
                    pa_context_get_source_info_list(context_, OnSourceInfo, &list), 2000);
    pa_threaded_mainloop_unlock(mainloop_);
    return list.names;
}

} // namespace pulse

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRequestTimeoutMs = 2000;
constexpr auto kPollInterval = std::chrono::milliseconds(25);
// Data the server has taken is reported played when the sink has played it: the sink's
// latency covers everything the server has read, so a buffer ending before the read index
// plays out that much earlier. Capped so a strange latency report cannot hold a buffer long.
constexpr auto kMaxLatency = std::chrono::seconds(2);
// Queued data that does not move for this long means the stream is dead.
constexpr auto kStallLimit = std::chrono::seconds(5);

void OnStreamState(pa_stream*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

void OnUnderflow(pa_stream*, void* userdata) {
    static_cast<std::atomic<uint32_t>*>(userdata)->fetch_add(1);
}

void OnOperationDone(pa_stream*, int, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

std::optional<pa_sample_format_t> SampleFormatOf(uint16_t bits) {
    switch (bits) {
    case 8:
        return PA_SAMPLE_U8;
    case 16:
        return PA_SAMPLE_S16LE;
    case 24:
        return PA_SAMPLE_S24LE;
    case 32:
        return PA_SAMPLE_S32LE;
    default:
        return std::nullopt;
    }
}

} // namespace

struct WaveOutDevice {
    struct Entry {
        WAVEHDR* header;
        int64_t end; // stream byte offset just past this buffer's data
        std::optional<Clock::time_point> due;
    };
    enum class PollResult { Info, NoInfo, Broken };

    std::unique_ptr<pulse::Session> session;
    pa_stream* stream = nullptr;
    pa_sample_spec sampleSpec{};
    WaveOutProc callback = nullptr;
    uintptr_t instance = 0;
    int64_t written = 0; // main loop lock
    // Main loop lock: written data that may still wait for the start threshold.
    bool startPending = false;
    Clock::time_point lastWrite{};

    std::mutex mutex; // guards queue and stopping
    std::condition_variable wake;
    std::deque<Entry> queue;
    bool stopping = false;
    bool rethink = false; // the queue was emptied or started again: wait afresh
    std::thread notifier;
    std::atomic<uint32_t> underflows{0};

    pa_threaded_mainloop* Mainloop() const { return session->Mainloop(); }
    pa_context* Context() const { return session->Context(); }

    bool StreamGood() const {
        return stream != nullptr && pa_stream_get_state(stream) == PA_STREAM_READY &&
               pa_context_get_state(Context()) == PA_CONTEXT_READY;
    }

    void Notify(uint32_t message, uintptr_t param1) {
        if (callback != nullptr) {
            callback(this, message, instance, param1, 0);
        }
    }

    void ReportDone(const std::vector<WAVEHDR*>& done) {
        for (WAVEHDR* header : done) {
            header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            Notify(WOM_DONE, reinterpret_cast<uintptr_t>(header));
        }
    }

    // The server holds playback back until a start threshold is queued, so a burst of
    // writes starts with enough in hand to feed the sink's first read. A writer that has
    // paused may have nothing more to give: play what is there (lock held).
    void StartIfWriterPaused() {
        if (!startPending || Clock::now() - lastWrite < kPollInterval) {
            return;
        }
        startPending = false;
        pa_operation* op = pa_stream_trigger(stream, nullptr, nullptr);
        if (op != nullptr) {
            pa_operation_unref(op);
        }
    }

    PollResult Poll(int64_t& readIndex, pa_usec_t& latency) {
        pa_threaded_mainloop_lock(Mainloop());
        PollResult result = PollResult::Broken;
        if (StreamGood()) {
            result = PollResult::NoInfo;
            StartIfWriterPaused();
            pa_operation* op = pa_stream_update_timing_info(stream, OnOperationDone, Mainloop());
            if (pulse::FinishOperation(Mainloop(), Context(), op, kRequestTimeoutMs)) {
                const pa_timing_info* info = pa_stream_get_timing_info(stream);
                if (info != nullptr && info->read_index_corrupt == 0) {
                    readIndex = info->read_index;
                    latency = info->sink_usec;
                    result = PollResult::Info;
                }
            }
            if (!StreamGood()) {
                result = PollResult::Broken;
            }
        }
        pa_threaded_mainloop_unlock(Mainloop());
        return result;
    }

    // When the sink will have played the byte just before streamOffset, given the server's
    // read index and the sink's latency measured at now. The server reads ahead in bursts;
    // each buffer gets its own time so the caller can refill as the sink plays, not a burst
    // later.
    Clock::time_point PlayTime(int64_t streamOffset, int64_t readIndex, pa_usec_t latency,
                               Clock::time_point now) const {
        const auto played =
            std::min<Clock::duration>(std::chrono::microseconds(latency), kMaxLatency);
        const auto bytesPerSecond = static_cast<int64_t>(pa_bytes_per_second(&sampleSpec));
        const auto ahead = std::chrono::microseconds((readIndex - streamOffset) * 1000000 /
                                                     std::max<int64_t>(bytesPerSecond, 1));
        return now + std::max<Clock::duration>(played - ahead, Clock::duration::zero());
    }

    // Sleeps until the front buffer falls due when its time is known (the server has nothing
    // to tell before then: the writer only adds after a buffer is reported), else until the
    // next poll. So a steady stream costs one round trip to the server a buffer.
    void WaitForNextPoll(std::unique_lock<std::mutex>& lock) {
        Clock::time_point until = Clock::now() + kPollInterval;
        if (!queue.empty() && queue.front().due) {
            until = *queue.front().due;
        }
        wake.wait_until(lock, until, [this] { return stopping || rethink; });
        rethink = false;
    }

    void RunNotifier() {
        int64_t lastReadIndex = -1;
        Clock::time_point lastMove = Clock::now();
        for (;;) {
            {
                std::unique_lock lock(mutex);
                WaitForNextPoll(lock);
                if (stopping) {
                    return;
                }
                if (queue.empty()) {
                    lastMove = Clock::now();
                    continue;
                }
            }
            int64_t readIndex = 0;
            pa_usec_t latency = 0;
            const PollResult polled = Poll(readIndex, latency);
            const Clock::time_point now = Clock::now();
            if (polled == PollResult::Info && readIndex != lastReadIndex) {
                lastReadIndex = readIndex;
                lastMove = now;
            }
            const bool dead = polled == PollResult::Broken || now - lastMove > kStallLimit;
            std::vector<WAVEHDR*> done;
            {
                std::lock_guard lock(mutex);
                for (Entry& entry : queue) {
                    if (polled == PollResult::Info && !entry.due && entry.end <= readIndex) {
                        entry.due = PlayTime(entry.end, readIndex, latency, now);
                    }
                }
                while (!queue.empty() &&
                       (dead || (queue.front().due && *queue.front().due <= now))) {
                    done.push_back(queue.front().header);
                    queue.pop_front();
                }
            }
            ReportDone(done);
        }
    }

    bool Connect(const char* sinkName) {
        pa_channel_map map;
        pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_WAVEEX);
        pa_threaded_mainloop_lock(Mainloop());
        stream = pa_stream_new(Context(), "Playback", &sampleSpec, &map);
        bool ready = false;
        if (stream != nullptr) {
            pa_stream_set_state_callback(stream, OnStreamState, Mainloop());
            pa_stream_set_underflow_callback(stream, OnUnderflow, &underflows);
            pa_buffer_attr attr;
            attr.maxlength = static_cast<uint32_t>(-1);
            attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(250000, &sampleSpec));
            attr.prebuf = static_cast<uint32_t>(-1);
            attr.minreq = static_cast<uint32_t>(-1);
            attr.fragsize = static_cast<uint32_t>(-1);
            if (pa_stream_connect_playback(stream, sinkName, &attr, PA_STREAM_NOFLAGS, nullptr,
                                           nullptr) == 0) {
                ready = pulse::WaitStreamReady(Mainloop(), Context(), stream, kRequestTimeoutMs);
            }
        }
        pa_threaded_mainloop_unlock(Mainloop());
        return ready;
    }

    void Disconnect() {
        if (stream == nullptr) {
            return;
        }
        pa_threaded_mainloop_lock(Mainloop());
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
        pa_threaded_mainloop_unlock(Mainloop());
    }

    void StopNotifier() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        if (notifier.joinable()) {
            notifier.join();
        }
    }

    ~WaveOutDevice() {
        StopNotifier();
        Disconnect();
    }
};

uint32_t waveOutGetNumDevs() {
    return pulse::CountDevices(pulse::Direction::Playback);
}

MMRESULT waveOutOpen(HWAVEOUT* device, uint32_t deviceId, const WAVEFORMATEX* format,
                     WaveOutProc callback, uintptr_t instance, uint32_t flags) {
    if (device == nullptr || format == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *device = nullptr;
    const auto sampleFormat = SampleFormatOf(format->wBitsPerSample);
    if (format->wFormatTag != WAVE_FORMAT_PCM || !sampleFormat || format->nChannels == 0 ||
        format->nChannels > PA_CHANNELS_MAX || format->nSamplesPerSec == 0 ||
        format->nSamplesPerSec > PA_RATE_MAX) {
        return WAVERR_BADFORMAT;
    }
    auto dev = std::make_unique<WaveOutDevice>();
    const MMRESULT opened = pulse::OpenStream(*dev, pulse::Direction::Playback, deviceId, *format,
                                              *sampleFormat, callback, instance, flags);
    if (opened != MMSYSERR_NOERROR) {
        return opened;
    }
    WaveOutDevice* raw = dev.get();
    raw->notifier = std::thread([raw] { raw->RunNotifier(); });
    *device = dev.release();
    raw->Notify(WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT PrepareWaveHeader(const void* device, WAVEHDR* header, uint32_t headerSize) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || headerSize < sizeof(WAVEHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareWaveHeader(const void* device, WAVEHDR* header, uint32_t headerSize) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || headerSize < sizeof(WAVEHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t headerSize) {
    return PrepareWaveHeader(device, header, headerSize);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t headerSize) {
    return UnprepareWaveHeader(device, header, headerSize);
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, uint32_t headerSize) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || headerSize < sizeof(WAVEHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    pa_threaded_mainloop_lock(device->Mainloop());
    if (device->StreamGood() && header->dwBufferLength > 0 && header->lpData != nullptr) {
        pa_stream_write(device->stream, header->lpData, header->dwBufferLength, nullptr, 0,
                        PA_SEEK_RELATIVE);
        device->written += header->dwBufferLength;
        device->startPending = true;
        device->lastWrite = Clock::now();
    }
    bool first = false;
    {
        std::lock_guard lock(device->mutex);
        first = device->queue.empty();
        device->queue.push_back({header, device->written, std::nullopt});
        device->rethink = device->rethink || first;
    }
    pa_threaded_mainloop_unlock(device->Mainloop());
    if (first) {
        device->wake.notify_all();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetUnderflowCount(HWAVEOUT device, uint32_t* count) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (count == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *count = device->underflows.load();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT device) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    pa_threaded_mainloop_lock(device->Mainloop());
    if (device->StreamGood()) {
        pulse::FinishOperation(device->Mainloop(), device->Context(),
                               pa_stream_flush(device->stream, OnOperationDone, device->Mainloop()),
                               kRequestTimeoutMs);
        // The flush moved the server's write index; continue counting from there.
        if (pulse::FinishOperation(
                device->Mainloop(), device->Context(),
                pa_stream_update_timing_info(device->stream, OnOperationDone, device->Mainloop()),
                kRequestTimeoutMs)) {
            const pa_timing_info* info = pa_stream_get_timing_info(device->stream);
            if (info != nullptr && info->write_index_corrupt == 0) {
                device->written = info->write_index;
            }
        }
    }
    std::vector<WAVEHDR*> done;
    {
        std::lock_guard lock(device->mutex);
        for (const auto& entry : device->queue) {
            done.push_back(entry.header);
        }
        device->queue.clear();
        device->rethink = true;
    }
    pa_threaded_mainloop_unlock(device->Mainloop());
    device->wake.notify_all();
    device->ReportDone(done);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT device) {
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        std::lock_guard lock(device->mutex);
        if (!device->queue.empty()) {
            return WAVERR_STILLPLAYING;
        }
    }
    std::unique_ptr<WaveOutDevice> owned(device);
    owned->StopNotifier();
    owned->Disconnect();
    owned->Notify(WOM_CLOSE, 0);
    return MMSYSERR_NOERROR;
}

} // namespace platform
