#pragma once
// Why a file cannot be written, for the second line of a job's error box: an encoder that
// failed says nothing about the cause, so the job window asks the file system itself.
// No Qt; any thread.
#include <string>

namespace jobs {

// The system's text for the error a write to `path` meets now ("No such file or
// directory", "Permission denied", "No space left on device"); empty when a byte can be
// written there. The probe leaves the file as it found it (absent or unchanged).
std::string WriteCause(const std::string& path);

// The system's text for errno `error`; empty for 0.
std::string ErrorText(int error);

} // namespace jobs
