#include "platform/Messages.h"

#include <QCoreApplication>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace platform {

namespace {
// Qt's event queue locks with futexes that race checkers cannot see. Every hand-over
// between threads also passes through this mutex, so that what the sending thread
// wrote before posting is visibly ordered before what the receiving thread reads.
std::mutex handOverMutex;

void HandOverBarrier() {
    std::lock_guard lock(handOverMutex);
}
} // namespace

MessageEvent::MessageEvent(unsigned m, std::intptr_t w, std::intptr_t l)
    : QEvent(Type()), msg(m), wParam(w), lParam(l) {}

QEvent::Type MessageEvent::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool MessageReceiver::DispatchMessageEvent(QEvent* event) {
    HandOverBarrier();
    if (event->type() != MessageEvent::Type()) {
        return false;
    }
    auto* m = static_cast<MessageEvent*>(event);
    m->result = HandleMessage(m->msg, m->wParam, m->lParam);
    return true;
}

void RunInThreadOf(QObject* context, const std::function<void()>& fn) {
    if (context->thread() == QThread::currentThread()) {
        fn();
        return;
    }
    // The hand-over waits on a mutex of ours rather than inside Qt, so that the data the
    // two threads share is ordered in a way race checkers can see.
    struct Handshake {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto handshake = std::make_shared<Handshake>();
    // The waiting side is woken when the call is over by any way out: a normal return, an
    // exception (which goes on to the application's error display), or the call being
    // dropped unrun because its context went away. The token's deleter runs when the last
    // copy of the queued call is destroyed.
    std::shared_ptr<void> wakeToken(nullptr, [handshake](void*) {
        {
            std::lock_guard lock(handshake->mutex);
            handshake->finished = true;
        }
        handshake->done.notify_all();
    });
    std::unique_lock posting(handOverMutex);
    QMetaObject::invokeMethod(context, [wakeToken, &fn] {
        HandOverBarrier();
        fn();
    });
    wakeToken.reset();
    posting.unlock();
    std::unique_lock lock(handshake->mutex);
    handshake->done.wait(lock, [&] { return handshake->finished; });
}

bool PostMessage(HWND target, unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
    if (target == nullptr) {
        return false;
    }
    std::lock_guard lock(handOverMutex);
    QCoreApplication::postEvent(target, new MessageEvent(msg, wParam, lParam));
    return true;
}

std::intptr_t SendMessage(HWND target, unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
    if (target == nullptr) {
        return 0;
    }
    MessageEvent event(msg, wParam, lParam);
    RunInThreadOf(target, [target, &event] { QCoreApplication::sendEvent(target, &event); });
    return event.result;
}

} // namespace platform
