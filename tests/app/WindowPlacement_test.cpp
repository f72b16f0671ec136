#include "app/WindowPlacement.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTreeWidget>
#include <QWidget>
#include <algorithm>

#include "support/QtTestSupport.h"

namespace {

TEST(WindowPlacement, AStoredPlaceIsKeptOnAScreenAndNothingStoredKeepsTheDesignedLayout) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case {
        const char* name;
        settings::TWindowOptions stored;
        QRect expected;
    };
    const Case cases[] = {
        {"nothing stored", {}, QRect(5, 6, 300, 200)},
        {"on screen", {20, 30, 400, 250, false, {}}, QRect(20, 30, 400, 250)},
        {"on a screen that is gone",
         {screen.right() + 5000, 10, 400, 250, false, {}},
         QRect(screen.center().x() - 199, screen.center().y() - 124, 400, 250)},
        {"larger than the screen",
         {0, 0, screen.width() + 900, screen.height() + 900, false, {}},
         QRect(0, 0, screen.width(), screen.height())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget window;
        window.setGeometry(5, 6, 300, 200);
        QTreeWidget list(&window);
        list.setColumnCount(4);
        list.setColumnWidth(2, 77);
        app::RestoreWindowPlacement(window, list, c.stored);
        EXPECT_EQ(QRect(window.pos(), window.size()), c.expected);
        EXPECT_EQ(list.columnWidth(2), 77);

        // What is taken back is what restoring gives again.
        const settings::TWindowOptions taken = app::WindowPlacementOf(window, list);
        EXPECT_EQ(QRect(taken.Left, taken.Top, taken.Width, taken.Height), c.expected);
        EXPECT_EQ(taken.ColumnWidths[2], 77);
    }
}

TEST(WindowPlacement, ColumnWidthsAreRestoredWithinSaneBounds) {
    QWidget window;
    QTreeWidget list(&window);
    list.setColumnCount(4);
    const int before = list.columnWidth(0);
    settings::TWindowOptions stored;
    stored.ColumnWidths = {0, 3, 250, 1000000};
    app::RestoreWindowPlacement(window, list, stored);
    EXPECT_EQ(list.columnWidth(0), before); // 0: never stored
    EXPECT_EQ(list.columnWidth(1), std::max(16, list.header()->minimumSectionSize()));
    EXPECT_EQ(list.columnWidth(2), 250);
    EXPECT_EQ(list.columnWidth(3), 4000);
}

} // namespace
