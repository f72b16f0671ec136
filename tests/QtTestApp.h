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
    // Never destroyed: at exit QtGui's own statics may already be gone, and deleting the
    // application then crashes in the input devices that QTest's clicks and keys create.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

} // namespace testsupport
