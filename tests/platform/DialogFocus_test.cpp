// Where the keyboard focus goes when a modal dialog closes: back to its owner's window, also
// when the owner closes right after it (a lookup that succeeded), so the main window's
// shortcuts work again without a click.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "platform/QtDialogs.h"
#include "support/QtTestSupport.h"

namespace {

constexpr std::chrono::seconds kWait{2};

// A dialog of `owner` run modally that, once shown, runs `inside` and then closes.
int RunDialog(QWidget* owner, const std::function<void(QDialog&)>& inside) {
    QDialog dialog(owner);
    QTimer::singleShot(0, &dialog, [&] {
        inside(dialog);
        dialog.accept();
    });
    return platform::QtDialogs().ExecModal(&dialog);
}

// A box of `owner` answered as soon as it is shown.
void RunBox(QWidget* owner) {
    QTimer::singleShot(0, owner, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->accept();
        }
    });
    platform::QtDialogs().MessageBox(owner, "Something failed", "Vellorine",
                                     platform::MbIcon::Error, platform::MbButtons::Ok,
                                     platform::MbResult::Ok);
}

TEST(DialogFocus, TheMainWindowHasTheFocusBackWhenADialogChainEnds) {
    struct Case {
        const char* what;
        std::function<void(QWidget&)> chain;
    };
    const Case cases[] = {
        {"one dialog", [](QWidget& main) { RunDialog(&main, [](QDialog&) {}); }},
        {"a dialog closing right after the one it opened",
         [](QWidget& main) {
             RunDialog(&main, [](QDialog& outer) { RunDialog(&outer, [](QDialog&) {}); });
         }},
        {"a box inside a dialog that then ends",
         [](QWidget& main) { RunDialog(&main, [](QDialog& outer) { RunBox(&outer); }); }},
        {"a box of the main window", [](QWidget& main) { RunBox(&main); }},
    };
    for (const Case& c : cases) {
        QWidget main;
        main.show();
        main.activateWindow();
        ASSERT_TRUE(
            testsupport::PumpUntil([&] { return QApplication::activeWindow() == &main; }, kWait))
            << c.what;
        c.chain(main);
        EXPECT_TRUE(
            testsupport::PumpUntil([&] { return QApplication::activeWindow() == &main; }, kWait))
            << c.what << ": active is "
            << (QApplication::activeWindow() != nullptr
                    ? QApplication::activeWindow()->metaObject()->className()
                    : "nothing");
    }
}

// While the chain goes on, the focus goes back one step: to the dialog still open.
TEST(DialogFocus, ADialogStillOpenGetsTheFocusBackFromItsBox) {
    QWidget main;
    main.show();
    QWidget* activeAfterBox = nullptr;
    QDialog* outerDialog = nullptr;
    RunDialog(&main, [&](QDialog& outer) {
        outerDialog = &outer;
        RunBox(&outer);
        testsupport::PumpUntil([&] { return QApplication::activeWindow() == &outer; }, kWait);
        activeAfterBox = QApplication::activeWindow();
    });
    EXPECT_EQ(activeAfterBox, outerDialog);
}

} // namespace
