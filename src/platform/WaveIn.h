#pragma once
// Sound-card capture devices in the classic waveIn numbering: device n is the n-th
// PulseAudio source (monitors of outputs included); none when no server answers.
#include <cstdint>

namespace platform {

uint32_t waveInGetNumDevs();

} // namespace platform
