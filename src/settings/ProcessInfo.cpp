#include "settings/ProcessInfo.h"

namespace settings {

namespace {

std::string AtLeastTwoDigits(long long n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

} // namespace

std::string MinSecText(long long seconds) {
    // A wall clock set back during a job would give a negative span; show it as nothing.
    if (seconds < 0) {
        seconds = 0;
    }
    return AtLeastTwoDigits(seconds / 60) + ":" + AtLeastTwoDigits(seconds % 60);
}

} // namespace settings
