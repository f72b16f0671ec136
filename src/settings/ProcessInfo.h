#pragma once
// The job's progress record and its messages live beside the window messages
// (platform/ProcessInfo.h); the program's code names them here, with the time text of
// the records.
#include <string>

#include "platform/ProcessInfo.h"

namespace settings {

using platform::AdoptProcessInfo;
using platform::NewProcessInfo;
using platform::PI_FLAC_DECODED;
using platform::PI_FLAC_DONE;
using platform::PI_MP3_ENDED;
using platform::PI_NORMALIZE_STARTED;
using platform::PI_OGG_DONE;
using platform::PI_OPUS_DONE;
using platform::PI_RESAMPLE_DONE;
using platform::PI_TRACK_EXTRACTED;
using platform::PI_WMA_ENDED;
using platform::PostProcessInfo;
using platform::SendProcessInfo;
using platform::TProcessInfo;
using platform::WM_CDDB;
using platform::WM_PROGRESS;
using platform::WM_RIPERROR;

// "MM:SS" with minutes not limited to two digits.
std::string MinSecText(long long seconds);

} // namespace settings
