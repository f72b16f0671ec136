#pragma once
// A main window on generated disc images, with scripted dialogs and a scratch program
// folder: the fixture of the main window's tests.
#include <QEvent>
#include <QStringList>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

#include "QtTestApp.h"
#include "ScopedStandIns.h"
#include "app/MainForm.h"
#include "cd/DiscImages.h"
#include "settings/Global.h"

namespace apptest {

constexpr int kSecond = 75; // frames

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::EnsureQtApp();
        home_ = std::make_unique<cdtest::ScratchFolder>();
        setenv("VELLORINE_HOME", home_->Path().c_str(), 1);
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
        return testsupport::ReadText(home_->File(name));
    }

    cdtest::ScratchFolder images_;
    std::unique_ptr<cdtest::ScratchFolder> home_;
    testsupport::ScopedDialogs scripted_;
    platform::ScriptedDialogs* dialogs_ = scripted_.get();
    std::unique_ptr<app::TMainForm> form_;
};

} // namespace apptest
