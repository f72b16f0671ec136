#include "app/SignalShutdown.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

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

SignalShutdown::SignalShutdown(QObject* parent, std::function<void()> closeMainWindow,
                               std::function<void()> endLoops,
                               std::chrono::milliseconds giveUpAfter)
    : QObject(parent), closeMainWindow_(std::move(closeMainWindow)), endLoops_(std::move(endLoops)),
      giveUpAfter_(giveUpAfter) {}

void SignalShutdown::Begin() {
    if (begun_) {
        return;
    }
    begun_ = true;
    deadline_ = std::chrono::steady_clock::now() + giveUpAfter_;
    Step();
}

void SignalShutdown::Step() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && std::chrono::steady_clock::now() < deadline_) {
        // Scheduled first: closing may open a box of its own whose loop must see it too.
        QTimer::singleShot(kStepInterval, this, &SignalShutdown::Step);
        CloseModalWindow(*modal);
        return;
    }
    closeMainWindow_();
    endLoops_();
}

} // namespace app
