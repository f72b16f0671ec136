#pragma once
// Removing a large file that is still in the page cache costs the thread that drops its
// last reference tens of milliseconds of CPU (the kernel frees every cached page then).
// RemoveFreeingLater takes the name away at once, as a plain remove does, and leaves that
// freeing to a short-lived thread of its own, so a GUI thread never pays for it.
#include <string>

namespace platform {

// Removes path (a file or an empty folder). Returns whether it was there and is gone.
bool RemoveFreeingLater(const std::string& path);

} // namespace platform
