#include "app/SignalShutdown.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include "app/MainForm.h"

namespace app {

namespace {
// Long enough for a closed window's nested loop to return and its owner to go on.
constexpr std::chrono::milliseconds kStepInterval{10};
} // namespace

void CloseModalWindow(QWidget& window) {
    if (qobject_cast<QMessageBox*>(&window) != nullptr) {
        // Escape picks the box's own way out: OK alone, No, or Cancel.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &escape);
    } else if (auto* dialog = qobject_cast<QDialog*>(&window)) {
        dialog->reject();
    } else {
        window.close();
    }
}

SignalShutdown::SignalShutdown(TMainForm& mainForm) : QObject(&mainForm), mainForm_(mainForm) {}

void SignalShutdown::Begin() {
    if (begun_) {
        return;
    }
    begun_ = true;
    deadline_ = std::chrono::steady_clock::now() + kGiveUpAfter;
    Step();
}

void SignalShutdown::Step() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && std::chrono::steady_clock::now() < deadline_) {
        CloseModalWindow(*modal);
        // Its exec() returns only once this handler has gone back to the event loop.
        QTimer::singleShot(kStepInterval, this, &SignalShutdown::Step);
        return;
    }
    mainForm_.CloseUnattended();
    // Ends the main loop, and every nested one should a modal window have stayed open.
    QCoreApplication::exit(0);
}

} // namespace app
