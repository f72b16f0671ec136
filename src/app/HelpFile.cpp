#include "app/HelpFile.h"

#include <filesystem>

namespace app {

std::string FindHelpIndex(const std::string& executableFolder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const char* relative : {"help/index.html", "../share/vellorine/help/index.html"}) {
        const fs::path candidate = fs::path(executableFolder) / relative;
        if (fs::is_regular_file(candidate, ec)) {
            return fs::weakly_canonical(candidate, ec).string();
        }
    }
    return {};
}

} // namespace app
