#pragma once
// Shared set-up for the tool windows' tests: the offscreen application, scripted dialogs, a
// scratch folder, fixtures made by sox and oggenc, and event pumping while a worker runs.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "QtTestApp.h"
#include "platform/ScriptedDialogs.h"
#include "support/TestSupport.h"

namespace toolstest {

class ToolWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::EnsureQtApp();
        auto scripted = std::make_unique<platform::ScriptedDialogs>();
        dialogs = scripted.get();
        previous_ = platform::InstallDialogs(std::move(scripted));
    }
    void TearDown() override { platform::InstallDialogs(std::move(previous_)); }

    // Runs a shell command line that must succeed (sox, oggenc, chmod ...).
    void Shell(const std::string& command) {
        const auto result = testsupport::RunCommand(command);
        ASSERT_EQ(result.ExitCode, 0) << command << "\n" << result.Output;
    }
    std::string Output(const std::string& command) {
        return testsupport::RunCommand(command).Output;
    }

    // Handles events until the condition holds or the time is up; whether it held.
    static bool PumpUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > until) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    static void Pump(std::chrono::milliseconds time) {
        PumpUntil([] { return false; }, time);
    }

    template <typename T> static T* Control(QWidget& window, const char* name) {
        T* control = window.findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    // The button's own click (QTest's simulated mouse leaves a device behind that crashes the
    // test program when it exits).
    static void Click(QWidget& window, const char* button) {
        Control<QAbstractButton>(window, button)->click();
    }
    static QString Text(QWidget& window, const char* label) {
        return Control<QLabel>(window, label)->text();
    }
    QStringList BoxTexts() const {
        QStringList texts;
        for (const auto& box : dialogs->boxes) {
            texts << box.text;
        }
        return texts;
    }

    platform::ScriptedDialogs* dialogs = nullptr;
    testsupport::ScratchFolder dir;

private:
    std::unique_ptr<platform::Dialogs> previous_;
};

} // namespace toolstest
