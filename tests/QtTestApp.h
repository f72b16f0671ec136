#pragma once
// One application object per test process, made on first use (GUI tests run offscreen).
// It is the program's own, so an exception that escapes a handler reaches the error
// display as it does in the program.
#include <QApplication>
#include <QString>
#include <cstdlib>
#include <ostream>

#include "platform/ErrorDisplay.h"

namespace testsupport {

inline QApplication& EnsureQtApp() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "vellorine-tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's test helpers keep input devices of their own that must not
    // outlive the application during the exit handlers.
    static auto* app = new platform::TApplication(argc, argv);
    return *app;
}

} // namespace testsupport

// Lets GoogleTest print texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
