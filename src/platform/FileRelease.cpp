#include "platform/FileRelease.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/Process.h"

namespace platform {

bool RemoveFreeingLater(const std::string& path) {
    // Held open, the file outlives its name; its data goes when the thread closes it.
    UniqueFd held(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!held || ::fstat(held.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::error_code ec;
        return std::filesystem::remove(path, ec);
    }
    if (::unlink(path.c_str()) != 0) {
        return false;
    }
    if (st.st_nlink > 1) {
        return true; // other names keep the data: closing here costs nothing
    }
    try {
        std::thread([fd = std::move(held)]() mutable { fd.Reset(); }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the data is freed here instead.
    }
    return true;
}

} // namespace platform
