#pragma once
// SIGTERM and SIGINT end the helper without leaving a half-written output that looks like
// a finished file: while armed, the signal handler removes the output, then the process
// ends by the same signal. Armed once the output file has been created, disarmed once it
// is complete. The handler does only async-signal-safe work (unlink, raise).
#include <string>

namespace wmaenc {

// Installs the handler for SIGTERM and SIGINT.
void InstallSignalCleanup();
// From now on a termination signal removes path.
void RemoveOnSignal(const std::string& path);
// The output is complete (or already removed): a signal leaves it alone.
void KeepOnSignal();

} // namespace wmaenc
