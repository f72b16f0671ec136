#include "platform/ProgramFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {
std::string WithSlash(std::string path) {
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path;
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}
} // namespace

std::string ProgramFolder() {
    std::string folder = Env("VELLORINE_HOME");
    if (folder.empty()) {
        std::string config = Env("XDG_CONFIG_HOME");
        if (config.empty()) {
            std::string home = Env("HOME");
            config = (home.empty() ? std::string("/tmp") : home) + "/.config";
        }
        folder = config + "/vellorine";
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    return WithSlash(folder);
}

std::string ExecutableFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return "./";
    }
    return WithSlash(exe.parent_path().string());
}

std::string FindBesideExecutable(const std::string& name, const std::string& relativeInstallDir) {
    std::error_code ec;
    const std::string exeDir = ExecutableFolder();
    for (const fs::path& candidate :
         {fs::path(exeDir) / name, fs::path(exeDir) / relativeInstallDir / name}) {
        if (fs::exists(candidate, ec)) {
            return fs::weakly_canonical(candidate, ec).string();
        }
    }
    return {};
}

} // namespace platform
