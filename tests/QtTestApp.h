#pragma once
// One QApplication per test process, made on first use (GUI tests run offscreen).
#include <QApplication>
#include <cstdlib>

namespace testsupport {

inline QApplication& EnsureQtApp() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "vellorine-tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit QtTest's simulated input devices would be freed after the
    // application's own and crash the process once every test has passed.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

} // namespace testsupport
