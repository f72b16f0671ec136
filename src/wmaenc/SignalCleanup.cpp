#include "wmaenc/SignalCleanup.h"

#include <array>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace wmaenc {

namespace {

std::array<char, 4096> outputPath{};
volatile std::sig_atomic_t armed = 0;

void OnTerminationSignal(int signo) {
    if (armed != 0) {
        ::unlink(outputPath.data());
    }
    std::signal(signo, SIG_DFL);
    std::raise(signo);
}

} // namespace

void InstallSignalCleanup() {
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGINT);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void RemoveOnSignal(const std::string& path) {
    armed = 0;
    if (path.size() >= outputPath.size()) {
        return; // cannot be held; such a path could not have been created anyway
    }
    std::memcpy(outputPath.data(), path.c_str(), path.size() + 1);
    armed = 1; // only once the whole path is in place
}

void KeepOnSignal() {
    armed = 0;
}

} // namespace wmaenc
