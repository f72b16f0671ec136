#include "settings/ProcessInfo.h"

namespace settings {

namespace {

std::string AtLeastTwoDigits(long long n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

} // namespace

std::unique_ptr<TProcessInfo> NewProcessInfo(std::int32_t code, std::int32_t status,
                                             std::string elapsed, std::string estimated) {
    auto info = std::make_unique<TProcessInfo>();
    info->Code = code;
    info->Status = status;
    info->Elapsed = std::move(elapsed);
    info->Estimated = std::move(estimated);
    return info;
}

bool PostProcessInfo(platform::HWND target, std::unique_ptr<TProcessInfo> info,
                     std::intptr_t step) {
    if (!platform::PostMessage(target, WM_PROGRESS, step,
                               reinterpret_cast<std::intptr_t>(info.get()))) {
        return false;
    }
    (void)info.release(); // AdoptProcessInfo in the receiver frees it
    return true;
}

void SendProcessInfo(platform::HWND target, std::unique_ptr<TProcessInfo> info,
                     std::intptr_t step) {
    if (target == nullptr) {
        return;
    }
    platform::SendMessage(target, WM_PROGRESS, step,
                          reinterpret_cast<std::intptr_t>(info.release()));
}

std::unique_ptr<TProcessInfo> AdoptProcessInfo(std::intptr_t lParam) {
    return std::unique_ptr<TProcessInfo>(reinterpret_cast<TProcessInfo*>(lParam));
}

std::string MinSecText(long long seconds) {
    // A wall clock set back during a job would give a negative span; show it as nothing.
    if (seconds < 0) {
        seconds = 0;
    }
    return AtLeastTwoDigits(seconds / 60) + ":" + AtLeastTwoDigits(seconds % 60);
}

} // namespace settings
