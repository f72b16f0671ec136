#include "platform/ProcessInfo.h"

namespace platform {

std::unique_ptr<TProcessInfo> NewProcessInfo(std::int32_t code, std::int32_t status,
                                             std::string elapsed, std::string estimated) {
    auto info = std::make_unique<TProcessInfo>();
    info->Code = code;
    info->Status = status;
    info->Elapsed = std::move(elapsed);
    info->Estimated = std::move(estimated);
    return info;
}

bool PostProcessInfo(HWND target, std::unique_ptr<TProcessInfo> info, std::intptr_t step) {
    if (!PostMessage(target, WM_PROGRESS, step, reinterpret_cast<std::intptr_t>(info.get()))) {
        return false;
    }
    (void)info.release(); // AdoptProcessInfo in the receiver frees it
    return true;
}

void SendProcessInfo(HWND target, std::unique_ptr<TProcessInfo> info, std::intptr_t step) {
    if (target == nullptr) {
        return;
    }
    SendMessage(target, WM_PROGRESS, step, reinterpret_cast<std::intptr_t>(info.release()));
}

std::unique_ptr<TProcessInfo> AdoptProcessInfo(std::intptr_t lParam) {
    return std::unique_ptr<TProcessInfo>(reinterpret_cast<TProcessInfo*>(lParam));
}

} // namespace platform
