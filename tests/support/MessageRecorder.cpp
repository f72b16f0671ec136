#include "support/MessageRecorder.h"

#include <QThread>
#include <memory>

namespace testsupport {

bool MessageRecorder::event(QEvent* e) {
    return DispatchMessageEvent(e) || QObject::event(e);
}

std::intptr_t MessageRecorder::HandleMessage(unsigned msg, std::intptr_t wParam,
                                             std::intptr_t lParam) {
    RecordedMessage m{msg, wParam, lParam, {}, QThread::currentThread() == thread()};
    // onMessage gets its own copy: what it does may bring more messages in.
    if (msg == settings::WM_PROGRESS && lParam != 0) {
        const std::unique_ptr<settings::TProcessInfo> owned(
            reinterpret_cast<settings::TProcessInfo*>(lParam));
        m.info = *owned;
    }
    messages.push_back(m);
    return onMessage ? onMessage(m) : 0;
}

std::vector<settings::TProcessInfo> MessageRecorder::Records() const {
    std::vector<settings::TProcessInfo> out;
    for (const auto& m : messages) {
        if (m.msg == settings::WM_PROGRESS) {
            out.push_back(m.info);
        }
    }
    return out;
}

std::vector<settings::TProcessInfo> MessageRecorder::ProgressRecords() const {
    std::vector<settings::TProcessInfo> out;
    for (const auto& r : Records()) {
        if (IsPercentage(r)) {
            out.push_back(r);
        }
    }
    return out;
}

std::vector<settings::TProcessInfo> MessageRecorder::Events() const {
    std::vector<settings::TProcessInfo> out;
    for (const auto& r : Records()) {
        if (!IsPercentage(r)) {
            out.push_back(r);
        }
    }
    return out;
}

std::vector<std::int32_t> MessageRecorder::Percentages() const {
    std::vector<std::int32_t> out;
    for (const auto& r : ProgressRecords()) {
        out.push_back(r.Code);
    }
    return out;
}

std::int32_t MessageRecorder::LastStatus(std::int32_t code) const {
    std::int32_t status = -1;
    for (const auto& r : Records()) {
        if (r.Code == code) {
            status = r.Status;
        }
    }
    return status;
}

} // namespace testsupport
