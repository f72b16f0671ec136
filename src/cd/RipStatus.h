#pragma once
// Status of the rip thread's completion event (Code 1000), shared by everything that
// reports on a rip (the job window, the rip log).
#include <cstdint>

namespace cd {

constexpr std::int32_t RipStatusOk = 0;
constexpr std::int32_t RipStatusReadFailed = 3;
// The WAV file could not be created or written.
constexpr std::int32_t RipStatusFileFailed = 5;
// The normalize pass could not read, write or replace the file; the WAV stays as
// extracted (not normalized) and no ".nor" file is left behind.
constexpr std::int32_t RipStatusNormalizeFailed = 6;
// Secure mode: the WAV is complete, but some frames could not be read reliably (they
// stayed different after every re-read, or the test and copy CRCs differ). The rip log
// has the counts.
constexpr std::int32_t RipStatusUncorrectable = 9; // 7 and 8 mean other things to the job window

// lParam of WM_RIPERROR: why the rip thread gave up before extracting anything.
constexpr std::intptr_t RipErrorDriveSetup = 1; // the drive could not be set up
constexpr std::intptr_t RipErrorNoTrack = 2;    // the TOC is unreadable or lacks the track

} // namespace cd
