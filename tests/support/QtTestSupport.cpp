#include "support/QtTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace testsupport {

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // The tick bounds each wait, so a condition that changes without an event (a worker's
    // flag, a file another process writes) is still seen within a few milliseconds.
    QTimer tick;
    tick.start(std::chrono::milliseconds(5));
    QEventLoop loop;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void PumpFor(std::chrono::milliseconds span) {
    PumpUntil([] { return false; }, span);
}

} // namespace testsupport
