#include "platform/Messages.h"

#include <QCoreApplication>
#include <QThread>

namespace platform {

MessageEvent::MessageEvent(unsigned m, std::intptr_t w, std::intptr_t l)
    : QEvent(Type()), msg(m), wParam(w), lParam(l) {}

QEvent::Type MessageEvent::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool MessageReceiver::DispatchMessageEvent(QEvent* event) {
    if (event->type() != MessageEvent::Type()) {
        return false;
    }
    auto* m = static_cast<MessageEvent*>(event);
    m->result = HandleMessage(m->msg, m->wParam, m->lParam);
    return true;
}

bool PostMessage(HWND target, unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
    if (target == nullptr) {
        return false;
    }
    QCoreApplication::postEvent(target, new MessageEvent(msg, wParam, lParam));
    return true;
}

std::intptr_t SendMessage(HWND target, unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
    if (target == nullptr) {
        return 0;
    }
    MessageEvent event(msg, wParam, lParam);
    if (target->thread() == QThread::currentThread()) {
        QCoreApplication::sendEvent(target, &event);
        return event.result;
    }
    QMetaObject::invokeMethod(
        target, [target, &event] { QCoreApplication::sendEvent(target, &event); },
        Qt::BlockingQueuedConnection);
    return event.result;
}

} // namespace platform
