#pragma once
// The owner of a rip thread in the benches: drops every posted record, as a job window
// would after updating its gauge.
#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>

#include "platform/Messages.h"
#include "settings/ProcessInfo.h"

namespace benchrip {

class TProgressSink : public QObject, public platform::MessageReceiver {
public:
    bool event(QEvent* e) override { return DispatchMessageEvent(e) || QObject::event(e); }
    std::intptr_t HandleMessage(unsigned msg, std::intptr_t, std::intptr_t lParam) override {
        if (msg == settings::WM_PROGRESS) {
            std::unique_ptr<settings::TProcessInfo> owned(
                reinterpret_cast<settings::TProcessInfo*>(lParam));
        }
        return 0;
    }
};

} // namespace benchrip
