#include "platform/Log.h"

#include <cstdio>
#include <exception>

namespace platform {

void LogSwallowedException(std::string_view where) noexcept {
    const int length = static_cast<int>(where.size());
    try {
        throw;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vellorine: %.*s: %s\n", length, where.data(), e.what());
    } catch (...) {
        std::fprintf(stderr, "vellorine: %.*s: unknown error\n", length, where.data());
    }
}

} // namespace platform
