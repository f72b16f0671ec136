#pragma once
// The progress and event record every worker of a job sends to the job window.
// The sender allocates it and passes its address as lParam of WM_PROGRESS; the job
// window deletes it after handling.
#include <cstdint>
#include <string>

#include "platform/Messages.h"

namespace settings {

constexpr unsigned WM_RIPERROR = platform::WM_USER + 101; // lParam 1: drive set-up, 2: TOC
constexpr unsigned WM_PROGRESS = platform::WM_USER + 102; // lParam: TProcessInfo*
constexpr unsigned WM_CDDB = platform::WM_USER + 104;

// Event codes carried in Code besides percentages 0..100.
constexpr std::int32_t PI_NORMALIZE_STARTED = 999;
constexpr std::int32_t PI_TRACK_EXTRACTED = 1000;
constexpr std::int32_t PI_MP3_ENDED = 2000;
constexpr std::int32_t PI_OGG_DONE = 3000;
constexpr std::int32_t PI_RESAMPLE_DONE = 4000;
constexpr std::int32_t PI_WMA_ENDED = 5000;

struct TProcessInfo {
    std::int32_t Code = 0;
    std::string Elapsed;
    std::string Estimated;
    std::int32_t Status = 0;
};

// "MM:SS" with minutes not limited to two digits.
std::string MinSecText(long long seconds);

} // namespace settings
