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

#include "platform/ScriptedDialogs.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "support/TestSupport.h"

namespace toolstest {

class ToolWindowTest : public ::testing::Test {
protected:
    // Runs a shell command line that must succeed (sox, oggenc, chmod ...).
    void Shell(const std::string& command) {
        const auto result = testsupport::RunCommand(command);
        ASSERT_EQ(result.ExitCode, 0) << command << "\n" << result.Output;
    }
    std::string Output(const std::string& command) {
        return testsupport::RunCommand(command).Output;
    }

    // The button's own click (QTest's simulated mouse leaves a device behind that crashes the
    // test program when it exits).
    static void Click(QWidget& window, const char* button) {
        testsupport::Child<QAbstractButton>(&window, button)->click();
    }
    static QString Text(QWidget& window, const char* label) {
        return testsupport::Child<QLabel>(&window, label)->text();
    }
    const testsupport::ScopedDialogs scripted_;
    platform::ScriptedDialogs* const dialogs = scripted_.get();
    testsupport::ScratchFolder dir;
};

} // namespace toolstest
