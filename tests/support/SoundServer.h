#pragma once
// For tests that play through the sound server: they fail when scripts/test promised a
// server (VELLORINE_REQUIRE_PULSE=1) and none answers, and skip otherwise.
#include <cstdlib>
#include <string>

#include "platform/WaveOut.h"

namespace testsupport {

inline bool SoundServerRequired() {
    const char* value = std::getenv("VELLORINE_REQUIRE_PULSE");
    return value != nullptr && std::string(value) == "1";
}

} // namespace testsupport

#define REQUIRE_SOUND_SERVER()                                                                     \
    do {                                                                                           \
        if (platform::waveOutGetNumDevs() == 0) {                                                  \
            if (testsupport::SoundServerRequired()) {                                              \
                FAIL() << "VELLORINE_REQUIRE_PULSE=1 but no PulseAudio sink answers";              \
            }                                                                                      \
            GTEST_SKIP() << "no PulseAudio server with a sink; start one to run this test";        \
        }                                                                                          \
    } while (0)
