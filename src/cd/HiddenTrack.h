#pragma once
// The audio a disc can hide before track 1's INDEX 01 (in track 1's pregap, from the disc's
// first sector on). It is in no track: the disc ids and the databases' sums leave it out,
// and a rip reads it only when asked to. Any thread that may use the handle.
#include <cstdint>

#include "cd/akrip32.h"

namespace cd {

// The sectors before track 1's INDEX 01 when some of them hold sound (not all digital
// silence); 0 when there are none, they are silent, or they cannot be read.
std::uint32_t HiddenTrackFrames(HCDROM handle);

} // namespace cd
