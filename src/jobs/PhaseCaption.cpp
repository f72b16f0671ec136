#include "jobs/PhaseCaption.h"

#include <QFontMetrics>
#include <QGuiApplication>

#include <algorithm>

#include "settings/Global.h"

namespace jobs {

QString PhaseCaption(const QString& phase, int i, int count, const QString& name, int width) {
    const QString head = phase + "(" + QString::fromStdString(settings::TwoDigits(i + 1)) + "/" +
                         QString::fromStdString(settings::TwoDigits(count)) + "): ";
    const QFontMetrics metrics(QGuiApplication::font());
    const int room = std::max(0, width - kTitleBarReserve - metrics.horizontalAdvance(head));
    return head + metrics.elidedText(name, Qt::ElideRight, room);
}

} // namespace jobs
