#pragma once
// SIGTERM and SIGINT close a window as the user closing it would. The signal handler
// only writes to a pipe; the GUI thread reads it and closes the window.
class QWidget;

namespace platform {

void CloseOnTerminationSignals(QWidget* window);

} // namespace platform
