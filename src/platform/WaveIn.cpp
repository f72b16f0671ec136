#include "platform/WaveIn.h"

#include "platform/WaveOut.h"

namespace platform {

uint32_t waveInGetNumDevs() {
    auto session = pulse::Session::Connect("Vellorine device list", 2000);
    if (!session) {
        return 0;
    }
    return static_cast<uint32_t>(session->SourceNames().size());
}

} // namespace platform
