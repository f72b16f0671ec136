#include "platform/ErrorDisplay.h"

#include <exception>

#include "platform/Dialogs.h"
#include "platform/Messages.h"
#include "platform/Thread.h"

namespace platform {

QString ErrorDisplayText(const QString& message) {
    QString text = message;
    if (!text.isEmpty() && text.back() > QLatin1Char('.')) {
        text += QLatin1Char('.');
    }
    return text;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Vellorine"));
    InstallSynchronizeDispatcher();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
    }
    return false;
}

void ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        TApplication::ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        TApplication::ShowException(QStringLiteral("Unknown error"));
    }
}

void TApplication::ShowException(const QString& message) {
    ErrorBox(nullptr, ErrorDisplayText(message));
}

void InstallSynchronizeDispatcher() {
    TThread::SetSynchronizeDispatcher([](const std::function<void()>& fn) {
        if (QCoreApplication* app = QCoreApplication::instance()) {
            RunInThreadOf(app, fn);
        } else {
            fn();
        }
    });
}

} // namespace platform
