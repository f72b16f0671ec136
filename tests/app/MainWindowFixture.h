#pragma once
// A main window on generated disc images, with scripted dialogs and a scratch program
// folder: the fixture of the main window's tests.
#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStringList>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "app/MainForm.h"
#include "cd/DiscImages.h"
#include "settings/Global.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"

namespace apptest {

constexpr int kSecond = 75; // frames

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        cdtest::UseImages({});
        settings::Settings = settings::TSettings{};
        settings::DiscInfo = settings::TDiscInfo{};
    }
    void TearDown() override { form_.reset(); }

    std::string ThreeTrackImage(const std::string& name = "Demo Disc") {
        return cdtest::MakeImage(images_, name, {245 * kSecond + 30, 62 * kSecond, 181 * kSecond});
    }

    app::TMainForm& Start() {
        form_ = std::make_unique<app::TMainForm>();
        form_->show();
        Activate();
        return *form_;
    }
    void Activate() {
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(form_.get(), &activate);
    }
    void Deactivate() {
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(form_.get(), &deactivate);
    }
    QStringList Column(int column) const {
        QStringList out;
        for (int i = 0; i < form_->ListView()->topLevelItemCount(); ++i) {
            out << form_->ListView()->topLevelItem(i)->text(column);
        }
        return out;
    }
    std::string ReadHome(const std::string& name) const {
        return testsupport::ReadText(home_.File(name));
    }

    cdtest::ScratchFolder images_;
    cdtest::ScratchFolder home_;
    const testsupport::ScopedEnv homeEnv_{"VELLORINE_HOME", home_.Path().c_str()};
    testsupport::ScopedDialogs scripted_;
    platform::ScriptedDialogs* dialogs_ = scripted_.get();
    std::unique_ptr<app::TMainForm> form_;
};

// The same with a recording shell, and helpers that reach the window's commands through
// its menus, tool bar and list.
class MainWindowCommands : public apptest::MainWindow {
protected:
    bool Enabled(const char* name) const { return form_->Action(name)->isEnabled(); }
    QStringList Entries(const QList<QAction*>& actions) const {
        QStringList out;
        for (QAction* a : actions) {
            out << (a->isSeparator() ? QString("-") : a->text());
        }
        return out;
    }
    QMenu* Menu(const QString& title) const {
        for (QAction* a : form_->menuBar()->actions()) {
            if (a->text() == title) {
                return a->menu();
            }
        }
        return nullptr;
    }
    QWidget* ToolButton(const QString& caption) const {
        auto* bar = form_->findChild<QToolBar*>("ToolBar1");
        for (QAction* a : bar->actions()) {
            if (a->text() == caption) {
                return bar->widgetForAction(a);
            }
        }
        return nullptr;
    }
    void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTreeWidget* list = form_->ListView();
        const QRect rect = list->visualItemRect(list->topLevelItem(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          rect.center() + QPoint(40, 0));
    }
    testsupport::ScopedShell recordingShell_;
    platform::RecordingShell* shell_ = recordingShell_.get();
};

} // namespace apptest
