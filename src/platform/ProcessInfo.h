#pragma once
// The progress and event record every worker of a job sends to the job window, and the
// window messages that carry it.
// The sender allocates the record and hands it over with PostProcessInfo (or
// SendProcessInfo), which pass its address as lParam of WM_PROGRESS and the id of the step
// it comes from as wParam (0: the rip thread or the window's own resampler); the receiver
// takes it back with AdoptProcessInfo and so frees it whatever its handler does. Any thread
// may post or send; the receiver runs on its window's thread.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Messages.h"

namespace platform {

constexpr unsigned WM_RIPERROR = WM_USER + 101; // lParam 1: drive set-up, 2: TOC
constexpr unsigned WM_PROGRESS = WM_USER + 102; // wParam: step id, lParam: TProcessInfo*
constexpr unsigned WM_CDDB = WM_USER + 104;

// Event codes carried in Code besides percentages 0..100.
constexpr std::int32_t PI_NORMALIZE_STARTED = 999;
constexpr std::int32_t PI_TRACK_EXTRACTED = 1000;
constexpr std::int32_t PI_MP3_ENDED = 2000;
constexpr std::int32_t PI_OGG_DONE = 3000;
constexpr std::int32_t PI_RESAMPLE_DONE = 4000;
constexpr std::int32_t PI_WMA_ENDED = 5000;
constexpr std::int32_t PI_FLAC_DONE = 6000;    // the in-process FLAC encoder's end
constexpr std::int32_t PI_OPUS_DONE = 7000;    // the in-process Opus encoder's end
constexpr std::int32_t PI_FLAC_DECODED = 8000; // the in-process FLAC decoder's end

struct TProcessInfo {
    std::int32_t Code = 0;
    std::string Elapsed;
    std::string Estimated;
    std::int32_t Status = 0;
};

std::unique_ptr<TProcessInfo> NewProcessInfo(std::int32_t code, std::int32_t status = 0,
                                             std::string elapsed = {}, std::string estimated = {});

// Posts the record as WM_PROGRESS. The receiver owns it once it is posted; when it cannot be
// posted (no window) it is freed here and the result is false.
bool PostProcessInfo(HWND target, std::unique_ptr<TProcessInfo> info, std::intptr_t step = 0);
// Sends it: the receiver has handled and freed it when this returns. Without a window it is
// freed here.
void SendProcessInfo(HWND target, std::unique_ptr<TProcessInfo> info, std::intptr_t step = 0);
// The receiver's side: owns the record a WM_PROGRESS carried in lParam.
std::unique_ptr<TProcessInfo> AdoptProcessInfo(std::intptr_t lParam);

} // namespace platform
