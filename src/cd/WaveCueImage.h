#pragma once
// Disc images whose cue sheet names a WAVE file (a single-file rip and its sheet): libcdio
// reads raw sectors only, so the WAVE file's audio is copied once per process into a raw
// twin in a temporary folder, beside a copy of the sheet that names the twin as a BINARY
// file. A sheet of several files is no image (libcdio reads one data file per sheet). The twins go
// when the process ends; a sheet or WAV that changes gets new ones. Only 16-bit stereo 44 100 Hz
// PCM is CD audio; other types (FLAC, MP3) are refused with a reason.
//
// Any thread: the twins are kept under a lock of their own.
#include <string>

namespace cd {

// Whether the cue sheet names a file that is not raw sectors (BINARY or MOTOROLA).
bool CueNeedsTwin(const std::string& cuePath);
// The twin sheet to open instead of cuePath; "" with `error` set when a file is missing, not
// CD audio, of a type no image can hold, or cannot be copied.
std::string WaveCueTwin(const std::string& cuePath, std::string& error);

} // namespace cd
