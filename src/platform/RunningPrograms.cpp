#include "platform/RunningPrograms.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace platform {

bool IsProgramRunning(const std::string& name, const std::string& procRoot) {
    constexpr std::size_t kCommLength = 15; // the kernel's TASK_COMM_LEN less the NUL
    const std::string wanted = name.substr(0, kCommLength);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(procRoot, ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid.front()))) {
            continue;
        }
        std::ifstream comm(entry.path() / "comm");
        std::string line;
        if (std::getline(comm, line) && line == wanted) {
            return true;
        }
    }
    return false;
}

} // namespace platform
