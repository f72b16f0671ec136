#pragma once
// Sound-card playback with the classic waveOut calling convention, played through the
// PulseAudio client library. Device 0 and WAVE_MAPPER are the user's default sink, device
// n > 0 the n-th sink in the server's order; with no server answering there are no devices.
//
// Threading contract:
// - waveOut* calls may come from any thread, but one device handle is driven by one thread
//   at a time (the owner), as with the original interface.
// - WOM_OPEN and WOM_CLOSE are delivered on the caller's thread inside waveOutOpen and
//   waveOutClose; WOM_DONE is delivered once per written buffer from the device's own thread
//   after its data has been played (or dropped by waveOutReset or a lost server connection,
//   so a caller waiting for its buffers never waits forever).
// - The callback must not call waveOut functions for the same device.
// - Buffers and headers stay owned by the caller; they must live until WOM_DONE.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;
struct pa_stream;

namespace platform {

using MMRESULT = uint32_t;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

inline constexpr uint32_t WOM_OPEN = 955;
inline constexpr uint32_t WOM_CLOSE = 956;
inline constexpr uint32_t WOM_DONE = 957;
inline constexpr uint32_t WIM_OPEN = 958;
inline constexpr uint32_t WIM_CLOSE = 959;
inline constexpr uint32_t WIM_DATA = 960;

inline constexpr uint32_t CALLBACK_NULL = 0x00000000;
inline constexpr uint32_t CALLBACK_FUNCTION = 0x00030000;
inline constexpr uint32_t WAVE_MAPPED = 0x0004;
inline constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;

inline constexpr uint32_t WHDR_DONE = 0x01;
inline constexpr uint32_t WHDR_PREPARED = 0x02;
inline constexpr uint32_t WHDR_INQUEUE = 0x10;

struct WAVEFORMATEX {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};

// Interleaved PCM of the given layout, block alignment and byte rate derived from it.
inline WAVEFORMATEX PcmWaveFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
    WAVEFORMATEX format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

struct WAVEHDR {
    char* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
    uint32_t dwLoops = 0;
    WAVEHDR* lpNext = nullptr;
    uintptr_t reserved = 0;
};

struct WaveOutDevice;
using HWAVEOUT = WaveOutDevice*;
using WaveOutProc = void (*)(HWAVEOUT device, uint32_t message, uintptr_t instance,
                             uintptr_t param1, uintptr_t param2);

// The header bookkeeping playback and capture share: Prepare marks a header prepared,
// Unprepare refuses one that is still queued (WAVERR_STILLPLAYING).
MMRESULT PrepareWaveHeader(const void* device, WAVEHDR* header, uint32_t headerSize);
MMRESULT UnprepareWaveHeader(const void* device, WAVEHDR* header, uint32_t headerSize);

// Number of sinks; 0 when no sound server answers within a short time.
uint32_t waveOutGetNumDevs();
// Opens device deviceId (or WAVE_MAPPER) for PCM in format; callback gets the messages with
// instance. Returns MMSYSERR_NOERROR and sets *device, or an error code and leaves it null.
MMRESULT waveOutOpen(HWAVEOUT* device, uint32_t deviceId, const WAVEFORMATEX* format,
                     WaveOutProc callback, uintptr_t instance, uint32_t flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t headerSize);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t headerSize);
// Queues the header's data for playback; queued data always plays to the end, however
// little of it there is (no start threshold holds the last buffers back).
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, uint32_t headerSize);
// Times the server found the stream empty when the sink wanted data since the device was
// opened (each one is a gap or a skip in what is heard).
MMRESULT waveOutGetUnderflowCount(HWAVEOUT device, uint32_t* count);
// Drops what is queued and reports every queued buffer done.
MMRESULT waveOutReset(HWAVEOUT device);
// Fails with WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveOutClose(HWAVEOUT device);

namespace pulse {

// One connection to the sound server with its own threaded main loop; the building block
// of the playback and capture devices.
class Session {
public:
    // Connects without autospawning a server; null when none answers within timeoutMs.
    static std::unique_ptr<Session> Connect(const char* clientName, int timeoutMs);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    pa_threaded_mainloop* Mainloop() const { return mainloop_; }
    pa_context* Context() const { return context_; }
    // Names of the sinks (or sources) in the server's index order.
    std::vector<std::string> SinkNames();
    std::vector<std::string> SourceNames();

private:
    Session() = default;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
};

// With the main loop lock held: waits until done() holds or timeoutMs pass.
bool WaitLocked(pa_threaded_mainloop* mainloop, pa_context* context,
                const std::function<bool()>& done, int timeoutMs);
// With the lock held: waits until a new stream is ready (true) or has failed or timed out.
bool WaitStreamReady(pa_threaded_mainloop* mainloop, pa_context* context, pa_stream* stream,
                     int timeoutMs);
// With the lock held: runs op to its end (false when it failed or the server went quiet).
bool FinishOperation(pa_threaded_mainloop* mainloop, pa_context* context, pa_operation* op,
                     int timeoutMs);

} // namespace pulse

} // namespace platform
