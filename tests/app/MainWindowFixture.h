#pragma once
// The main window started offscreen against disc images from the generator, with a
// scratch program folder and scripted dialogs; shared by the main window's tests.
#include <gtest/gtest.h>

#include <QEvent>
#include <QStringList>
#include <QTreeWidget>
#include <memory>

#include "QtTestApp.h"
#include "app/MainForm.h"
#include "cd/DiscImages.h"
#include "platform/ScriptedDialogs.h"
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
        auto scripted = std::make_unique<platform::ScriptedDialogs>();
        dialogs_ = scripted.get();
        previous_ = platform::InstallDialogs(std::move(scripted));
    }
    void TearDown() override {
        form_.reset();
        platform::InstallDialogs(std::move(previous_));
    }

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
    platform::ScriptedDialogs* dialogs_ = nullptr;
    std::unique_ptr<platform::Dialogs> previous_;
    std::unique_ptr<app::TMainForm> form_;
};

} // namespace apptest
