#pragma once
// Ends the program for a termination signal (logout, Ctrl+C) the way the user would:
// every modal window still open is closed, innermost first, the way its Cancel or Stop
// closes it (a message box takes its Escape answer, a dialog is rejected, so the job
// window ends its job before anything else goes), then the main window closes without
// asking anything (storing titles and settings) and the event loop ends. The process
// always exits: a modal window that has not gone within kGiveUpAfter is left behind and
// every event loop is told to end.
//
// GUI thread only; Begin is the signal's handler (platform::OnTerminationSignals). The
// object belongs to the main window.
#include <QObject>
#include <chrono>

namespace app {

class TMainForm;

class SignalShutdown : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kGiveUpAfter{5000};

    explicit SignalShutdown(TMainForm& mainForm);

    // Starts the end; a later call (a second signal) changes nothing.
    void Begin();
    bool Begun() const { return begun_; }

private:
    // Closes the innermost modal window and comes back once its loop has returned, or
    // closes the main window when none is left.
    void Step();

    TMainForm& mainForm_;
    bool begun_ = false;
    std::chrono::steady_clock::time_point deadline_;
};

// Closes one modal window the way its Cancel or Stop does.
void CloseModalWindow(QWidget& window);

} // namespace app
