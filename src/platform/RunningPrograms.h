#pragma once
// Whether a program is running, by its process name as the kernel keeps it
// (/proc/<pid>/comm: the executable's file name, cut to 15 characters). Stands in for
// looking up a program's top-level window. Any thread.
#include <string>

namespace platform {

// True when some process's name equals name (compared as the kernel cuts it).
bool IsProgramRunning(const std::string& name, const std::string& procRoot = "/proc");

} // namespace platform
