#pragma once
// One application object per test process, made on first use (GUI tests run offscreen).
// It is the program's own, so an exception that escapes a handler reaches the error
// display as it does in the program.
#include <QApplication>
#include <QInputDevice>
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
    // The keyboard device that simulated key presses use is made here, while the application
    // is being made, so that Qt's device registry outlives the application at exit.
    struct Holder {
        platform::TApplication app;
        Holder(int& c, char** v) : app(c, v) { (void)QInputDevice::primaryKeyboard(); }
    };
    static Holder holder(argc, argv);
    return holder.app;
}

} // namespace testsupport

// Lets GoogleTest print texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
