#include "cd/RipHarness.h"

#include <memory>

namespace cdtest {

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "cd_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

bool Receiver::event(QEvent* e) {
    return DispatchMessageEvent(e) || QObject::event(e);
}

std::intptr_t Receiver::HandleMessage(unsigned msg, std::intptr_t, std::intptr_t lParam) {
    Message m{msg, lParam, {}};
    if (msg == settings::WM_PROGRESS) {
        std::unique_ptr<settings::TProcessInfo> owned(
            reinterpret_cast<settings::TProcessInfo*>(lParam));
        m.info = *owned;
    }
    messages.push_back(m);
    return 0;
}

std::vector<settings::TProcessInfo> Receiver::Records(bool percentages) const {
    std::vector<settings::TProcessInfo> out;
    for (const auto& m : messages) {
        if (m.msg == settings::WM_PROGRESS && (m.info.Code <= 100) == percentages) {
            out.push_back(m.info);
        }
    }
    return out;
}

std::int32_t Receiver::DoneStatus() const {
    std::int32_t status = -1;
    for (const auto& m : messages) {
        if (m.msg == settings::WM_PROGRESS && m.info.Code == settings::PI_TRACK_EXTRACTED) {
            status = m.info.Status;
        }
    }
    return status;
}

cd::HCDROM OpenFirstDrive() {
    cd::TCDList list{};
    list.max = 8;
    cd::GetCDList(list);
    if (list.num == 0) {
        return 0;
    }
    cd::TCDHandleRequest request{12, 1, list.cd[0].ha, list.cd[0].tgt, list.cd[0].lun, 0, 0, 0, 0};
    return cd::GetCDHandle(request);
}

void RunRip(int track, const std::string& title, cd::HCDROM handle, Receiver& receiver,
            const std::function<void(cd::TCDRipThread&)>& prepare) {
    auto thread = std::make_unique<cd::TCDRipThread>(track, title);
    thread->CDHandle = handle;
    thread->NotifyWindow = &receiver;
    if (prepare) {
        prepare(*thread);
    }
    thread->Resume();
    thread.reset(); // waits for the worker
    QCoreApplication::sendPostedEvents(&receiver);
}

} // namespace cdtest
