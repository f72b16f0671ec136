#pragma once
// SIGTERM and SIGINT (logout, Ctrl+C) handed to the GUI thread: the signal handler only
// writes to a pipe; a socket notifier owned by `context` reads it on the GUI thread and
// runs `handler` there. Each signal is caught once: the handler's first run resets it to
// the system's default, so should the orderly end ever hang, the same signal again ends
// the process at once.
#include <functional>

class QObject;

namespace platform {

void OnTerminationSignals(QObject* context, std::function<void()> handler);

} // namespace platform
