#pragma once
// What the Qt tests share besides their main (support/QtTestMain.cpp, which makes the
// application): waiting for a condition while the GUI thread handles its events, finding a
// window's control by name, and printing QStrings in GoogleTest's failure messages.
#include <gtest/gtest.h>

#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <ostream>

namespace testsupport {

// Handles the GUI thread's events until condition holds or timeout has passed; whether it
// holds. It sleeps between events rather than spinning, so workers and child processes
// under test keep the CPU, and checks the condition after every batch of events.
bool PumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Handles events for the whole span: for checks that something does not happen, or that a
// worker on another thread (or another process) is given time it has no event to signal.
void PumpFor(std::chrono::milliseconds span);

// The window's control of this type and object name; a failure names a missing one.
template <typename T> T* Child(QWidget* window, const char* name) {
    T* child = window->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

} // namespace testsupport

// Lets GoogleTest print texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
