#include "app/MainForm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenuBar>
#include <QTest>
#include <cstdlib>

#include "platform/ScriptedDialogs.h"
#include "settings/Global.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "support/TestSupport.h"
#include "tools/RecordForm.h"

// The Record command of the Actions menu opens the recorder modally, owned by the main
// window. With VELLORINE_SCREENSHOT set to a file name, the recorder as shown is saved there
// (run under xvfb-run with QT_QPA_PLATFORM=xcb to see the real look).
TEST(RecordCommand, TheActionsMenuOpensTheRecorderModally) {
    testsupport::ScratchFolder home;
    testsupport::ScopedEnv homeEnv("VELLORINE_HOME", home.Path().c_str());
    testsupport::ScopedEnv noDrives("VELLORINE_NO_CD_DRIVES", "1");
    settings::Settings = {};
    const testsupport::ScopedDialogs scripted;
    platform::ScriptedDialogs* dialogs = scripted.get();
    {
        app::TMainForm form;
        form.show();
        QAction* record = nullptr;
        for (QAction* menu : form.menuBar()->actions()) {
            for (QAction* item : menu->menu()->actions()) {
                if (item->objectName() == "ActionRecord") {
                    record = item;
                }
            }
        }
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(record->isEnabled());
        EXPECT_EQ(record->shortcut(), QKeySequence("Ctrl+R"));
        QString title;
        QWidget* owner = nullptr;
        dialogs->onModal = [&](QWidget* dialog) {
            title = dialog->windowTitle();
            owner = dialog->parentWidget();
            EXPECT_NE(qobject_cast<tools::TfrmRecord*>(dialog), nullptr);
            if (const char* shot = std::getenv("VELLORINE_SCREENSHOT")) {
                dialog->show();
                EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
                EXPECT_TRUE(dialog->grab().save(shot));
            }
            return 0;
        };
        record->trigger();
        EXPECT_EQ(title, "Record");
        EXPECT_EQ(owner, &form);
        form.close();
    }
}
