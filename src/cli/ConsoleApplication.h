#pragma once
// The command line's application object: Qt's core event loop without any GUI platform, so
// the program runs over SSH and in CI. An exception escaping an event handler (an encoder
// that cannot be started) is printed and handed to the failure action, which stops the job.
#include <QCoreApplication>

#include <functional>
#include <string>

namespace cli {

class TConsoleApplication : public QCoreApplication {
public:
    TConsoleApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // What runs after an escaped exception has been printed (none: only printed).
    void SetFailureAction(std::function<void(const std::string&)> action);

private:
    std::function<void(const std::string&)> failure_;
};

} // namespace cli
