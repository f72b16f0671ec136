// How the main window looks: menu shortcuts, tool-bar captions, the list's columns.
#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "app/MainWindowFixture.h"

namespace {

using apptest::MainWindowCommands;

// The File menu's entry shows the key of the action it runs, and the key still runs it once.
TEST_F(MainWindowCommands, TheWavToMp3EntryShowsCtrlWWhichStillRunsTheCommand) {
    Start();
    QAction* entry = form_->Action("miWavToMp3");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->shortcut().toString(), "Ctrl+W");
    QApplication::setActiveWindow(form_.get());
    QTest::keyClick(form_.get(), Qt::Key_W, Qt::ControlModifier);
    ASSERT_EQ(dialogs_->fileRequests.size(), 1) << "one file dialog, not an ambiguous key";
    EXPECT_EQ(dialogs_->fileRequests[0].filter, "Sound file(*.wav)|*.wav| Any file(*.*)|*.*");
}

// A caption sits under its icon's pixmap: every button's pixmap has the bar's icon size, so
// the captions line up.
TEST_F(MainWindowCommands, ToolBarIconsAllHaveTheBarsIconSizeSoCaptionsLineUp) {
    Start();
    auto* bar = form_->findChild<QToolBar*>("ToolBar1");
    ASSERT_NE(bar, nullptr);
    const QSize size = bar->iconSize();
    int buttons = 0;
    for (QAction* a : bar->actions()) {
        if (a->isSeparator()) {
            continue;
        }
        ++buttons;
        const QPixmap pixmap = a->icon().pixmap(size);
        EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), size) << a->text().toStdString();
        auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(a));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->sizeHint().height(), ToolButton("Extract")->sizeHint().height())
            << a->text().toStdString();
    }
    EXPECT_EQ(buttons, 6);
}

// Width the window gains or loses goes to the title, which is what gets cut; the number,
// length and size columns keep theirs.
TEST_F(MainWindowCommands, ResizingTheWindowWidensOrNarrowsOnlyTheTitleColumn) {
    cdtest::UseImages({ThreeTrackImage()});
    Start();
    QTreeWidget* list = form_->ListView();
    const int number = list->columnWidth(0);
    const int length = list->columnWidth(2);
    const int size = list->columnWidth(3);
    const struct {
        int width;
        int titleChange; // against the designed width
    } steps[] = {{751, 200}, {651, 100}, {551, 0}, {501, -50}};
    const int title = list->columnWidth(1);
    for (const auto& step : steps) {
        form_->resize(step.width, form_->height());
        QCoreApplication::processEvents();
        EXPECT_EQ(list->columnWidth(1), title + step.titleChange) << step.width;
        EXPECT_EQ(list->columnWidth(0), number) << step.width;
        EXPECT_EQ(list->columnWidth(2), length) << step.width;
        EXPECT_EQ(list->columnWidth(3), size) << step.width;
    }
}

} // namespace
