#pragma once
// Window messages between workers and windows, carried as posted Qt events.
//
// PostMessage queues the message for the target's thread and returns at once.
// SendMessage runs the target's handler synchronously: directly on the GUI thread,
// and from a worker by blocking until the GUI thread has run it.
// A record passed by address in lParam is owned by the receiver, which deletes it.
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>

namespace platform {

constexpr unsigned WM_USER = 0x400;

// The one event type that carries every window message.
class MessageEvent : public QEvent {
public:
    MessageEvent(unsigned msg, std::intptr_t wParam, std::intptr_t lParam);
    static QEvent::Type Type();

    unsigned msg;
    std::intptr_t wParam;
    std::intptr_t lParam;
    std::intptr_t result = 0;
};

// Receivers derive from this (besides their Qt base) and implement HandleMessage;
// their event() override forwards MessageEvents to DispatchMessageEvent.
class MessageReceiver {
public:
    virtual ~MessageReceiver() = default;
    virtual std::intptr_t HandleMessage(unsigned msg, std::intptr_t wParam,
                                        std::intptr_t lParam) = 0;
    // Returns true when the event was a window message and has been handled.
    bool DispatchMessageEvent(QEvent* event);
};

// A window handle: the QObject that receives the messages. Null handles are ignored.
using HWND = QObject*;

// Runs fn in the thread of context and waits until it has run (at once when that is
// the calling thread).
void RunInThreadOf(QObject* context, const std::function<void()>& fn);

bool PostMessage(HWND target, unsigned msg, std::intptr_t wParam, std::intptr_t lParam);
std::intptr_t SendMessage(HWND target, unsigned msg, std::intptr_t wParam, std::intptr_t lParam);

} // namespace platform
