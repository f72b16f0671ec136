#pragma once
// The application object: an exception that no handler caught ends up here and is
// shown in an error box titled "Vellorine"; the program then goes on with the next event.
#include <QApplication>
#include <QString>

namespace platform {

// The text shown for an uncaught error: "." is appended when the last character
// sorts after ".".
QString ErrorDisplayText(const QString& message);

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    static void ShowException(const QString& message);
};

// Lets TThread::Synchronize reach the GUI thread of this application.
void InstallSynchronizeDispatcher();

} // namespace platform
