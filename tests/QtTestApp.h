#pragma once
// One QApplication per test process, made on first use (GUI tests run offscreen).
#include <QApplication>
#include <QString>
#include <cstdlib>
#include <ostream>

namespace testsupport {

inline QApplication& EnsureQtApp() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "vellorine-tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit the input devices that QTest's simulated clicks create
    // would be freed after the statics they need, which crashes the test program.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

} // namespace testsupport

// Lets GoogleTest print texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
