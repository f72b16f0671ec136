#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTreeWidget>
#include <QWidget>
#include <algorithm>

namespace app {

namespace {

constexpr int kMinColumnWidth = 16;
constexpr int kMaxColumnWidth = 4000;

// The available area of the screen that shows most of the rectangle; empty when none does.
QRect ScreenShowing(const QRect& rect) {
    QRect best;
    int bestArea = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect overlap = screen->availableGeometry().intersected(rect);
        const int area = overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen->availableGeometry();
        }
    }
    return best;
}

QRect PrimaryArea() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary != nullptr ? primary->availableGeometry() : QRect();
}

} // namespace

void RestoreWindowPlacement(QWidget& window, QTreeWidget& list,
                            const settings::TWindowOptions& stored) {
    for (int c = 0; c < static_cast<int>(stored.ColumnWidths.size()) && c < list.columnCount();
         ++c) {
        const int width = stored.ColumnWidths[static_cast<std::size_t>(c)];
        if (width > 0) {
            list.setColumnWidth(c, std::clamp(width, kMinColumnWidth, kMaxColumnWidth));
        }
    }
    if (stored.Width <= 0 || stored.Height <= 0) {
        return;
    }
    QRect rect(stored.Left, stored.Top, stored.Width, stored.Height);
    QRect area = ScreenShowing(rect);
    const bool offScreen = area.isEmpty();
    if (offScreen) {
        area = PrimaryArea();
    }
    if (!area.isEmpty()) {
        rect.setSize(rect.size().boundedTo(area.size()).expandedTo(window.minimumSize()));
        if (offScreen) {
            rect.moveCenter(area.center());
        }
    }
    window.resize(rect.size());
    window.move(rect.topLeft());
    if (stored.Maximized) {
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
    }
}

settings::TWindowOptions WindowPlacementOf(const QWidget& window, const QTreeWidget& list) {
    settings::TWindowOptions placement;
    placement.Maximized = window.isMaximized();
    if (placement.Maximized) {
        const QRect normal = window.normalGeometry();
        placement.Left = normal.x();
        placement.Top = normal.y();
        placement.Width = normal.width();
        placement.Height = normal.height();
    } else {
        placement.Left = window.pos().x();
        placement.Top = window.pos().y();
        placement.Width = window.width();
        placement.Height = window.height();
    }
    for (int c = 0; c < static_cast<int>(placement.ColumnWidths.size()) && c < list.columnCount();
         ++c) {
        placement.ColumnWidths[static_cast<std::size_t>(c)] = list.columnWidth(c);
    }
    return placement;
}

} // namespace app
