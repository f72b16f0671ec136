#pragma once
// The open steps sound playback and capture share, for their device records (each has a
// session, the stream's sample format, a callback with its instance, and Connect to a
// named device).
#include "platform/WaveOut.h"

#include <pulse/pulseaudio.h>

#include <string>
#include <vector>

namespace platform::pulse {

inline constexpr int kConnectTimeoutMs = 2000;

enum class Direction { Playback, Capture };

// The sinks (playback) or sources (capture) the server offers, in its index order.
inline std::vector<std::string> DeviceNames(Session& session, Direction direction) {
    return direction == Direction::Playback ? session.SinkNames() : session.SourceNames();
}

// How many devices there are; 0 when no server answers within a short time.
inline uint32_t CountDevices(Direction direction) {
    auto session = Session::Connect("Vellorine device list", kConnectTimeoutMs);
    return session ? static_cast<uint32_t>(DeviceNames(*session, direction).size()) : 0;
}

// Fills dev for format (already checked) and connects its stream to device deviceId: 0 and
// WAVE_MAPPER are whatever device the user has chosen as the default, n > 0 the n-th one.
template <class Device, class Proc>
MMRESULT OpenStream(Device& dev, Direction direction, uint32_t deviceId, const WAVEFORMATEX& format,
                    pa_sample_format_t sampleFormat, Proc callback, uintptr_t instance,
                    uint32_t flags) {
    dev.sampleSpec.format = sampleFormat;
    dev.sampleSpec.channels = static_cast<uint8_t>(format.nChannels);
    dev.sampleSpec.rate = format.nSamplesPerSec;
    dev.session = Session::Connect("Vellorine", kConnectTimeoutMs);
    if (!dev.session) {
        return MMSYSERR_NODRIVER;
    }
    std::string name;
    if (deviceId != WAVE_MAPPER && deviceId != 0) {
        const std::vector<std::string> names = DeviceNames(*dev.session, direction);
        if (deviceId >= names.size()) {
            return MMSYSERR_BADDEVICEID;
        }
        name = names[deviceId];
    }
    if (!dev.Connect(name.empty() ? nullptr : name.c_str())) {
        return MMSYSERR_ERROR;
    }
    if ((flags & CALLBACK_FUNCTION) == CALLBACK_FUNCTION) {
        dev.callback = callback;
        dev.instance = instance;
    }
    return MMSYSERR_NOERROR;
}

} // namespace platform::pulse
