#pragma once
// Ends the program for a termination signal (logout, Ctrl+C) the way the user would:
// every modal window still open is closed, innermost first, the way its Cancel or Stop
// closes it (a message box takes its Escape answer, a dialog is rejected, so the job
// window ends its job before anything else goes), then the main window closes without
// asking anything (storing titles and settings) and every event loop ends. The process
// always exits: a modal window that has not gone within the give-up time is left behind.
//
// GUI thread only; Begin is the signal's handler (platform::OnTerminationSignals).
#include <QObject>
#include <chrono>
#include <functional>

class QWidget;

namespace app {

class SignalShutdown : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kGiveUpAfter{5000};

    // closeMainWindow closes the main window unattended; endLoops ends the main event loop
    // and every nested one (the program passes QCoreApplication::exit).
    SignalShutdown(QObject* parent, std::function<void()> closeMainWindow,
                   std::function<void()> endLoops,
                   std::chrono::milliseconds giveUpAfter = kGiveUpAfter);

    // Starts the end; a later call (a second signal) changes nothing.
    void Begin();

private:
    // Closes the innermost modal window and comes back once its loop has returned (also
    // while closing it asks something in a box of its own), or ends when none is left.
    void Step();

    std::function<void()> closeMainWindow_;
    std::function<void()> endLoops_;
    std::chrono::milliseconds giveUpAfter_;
    bool begun_ = false;
    std::chrono::steady_clock::time_point deadline_;
};

// Closes one modal window the way its Cancel or Stop does.
void CloseModalWindow(QWidget& window);

} // namespace app
