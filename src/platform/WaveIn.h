#pragma once
// Sound-card capture with the classic waveIn calling convention, recorded through the
// PulseAudio client library. Device 0 and WAVE_MAPPER are the user's default source; device
// n > 0 is the n-th PulseAudio source in the server's order (monitors of outputs included).
// With no server answering there are no devices.
//
// Threading contract:
// - waveIn* calls may come from any thread; one device's calls are serialised inside.
// - WIM_OPEN and WIM_CLOSE are delivered on the caller's thread inside waveInOpen and
//   waveInClose. WIM_DATA is delivered once per added buffer, in the order they were added,
//   from the sound server's thread when the buffer is full, or from the caller's thread in
//   waveInStop (the partly filled buffer) and waveInReset (all of them). When the server
//   connection or the stream dies, every queued buffer comes back at once with what it holds
//   and waveInGetStatus reports the failure, so a caller waiting for its buffers never waits
//   forever.
// - The callback must not call waveIn functions; it hands the buffer to another thread.
// - Buffers and headers stay owned by the caller; they must live until WIM_DATA.
#include <cstdint>

#include "platform/WaveOut.h"

namespace platform {

struct WaveInDevice;
using HWAVEIN = WaveInDevice*;
using WaveInProc = void (*)(HWAVEIN device, uint32_t message, uintptr_t instance, uintptr_t param1,
                            uintptr_t param2);

struct WaveInStatus {
    bool failed = false;    // the server or the stream went away; nothing more will come
    uint32_t overflows = 0; // times data was lost: holes in the server's stream, or no buffer
    uint64_t lostBytes = 0; // bytes lost by those overflows
    uint64_t recordedBytes = 0;
};

// Number of sources; 0 when no sound server answers within a short time.
uint32_t waveInGetNumDevs();
// Opens device deviceId (or WAVE_MAPPER) for PCM in format (8 or 16 bits, 1 or 2 channels,
// any rate the server takes), stopped. Errors: MMSYSERR_NODRIVER (no server),
// MMSYSERR_BADDEVICEID, WAVERR_BADFORMAT, MMSYSERR_ERROR (the source refused the stream).
MMRESULT waveInOpen(HWAVEIN* device, uint32_t deviceId, const WAVEFORMATEX* format,
                    WaveInProc callback, uintptr_t instance, uint32_t flags);
MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, uint32_t headerSize);
MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, uint32_t headerSize);
// Queues an empty prepared buffer to be filled (dwBytesRecorded set when it comes back).
MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, uint32_t headerSize);
// Starts capturing into the queued buffers; data from before the start is dropped.
MMRESULT waveInStart(HWAVEIN device);
// Stops capturing; what the server captured up to now is put into the buffers first, and
// the current buffer comes back partly filled. The other queued buffers stay queued.
MMRESULT waveInStop(HWAVEIN device);
// Stops and returns every queued buffer.
MMRESULT waveInReset(HWAVEIN device);
MMRESULT waveInGetStatus(HWAVEIN device, WaveInStatus* status);
// Fails with WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveInClose(HWAVEIN device);

} // namespace platform
