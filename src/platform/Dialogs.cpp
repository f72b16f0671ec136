#include "platform/Dialogs.h"

#include <QApplication>
#include <QDialog>

#include "platform/QtDialogs.h"

namespace platform {

namespace {
std::unique_ptr<Dialogs>& Instance() {
    static std::unique_ptr<Dialogs> instance = std::make_unique<QtDialogs>();
    return instance;
}
const QString kProductName = QStringLiteral("Vellorine");
} // namespace

int Dialogs::ExecModal(QWidget* dialog) {
    auto* d = qobject_cast<QDialog*>(dialog);
    if (d == nullptr) {
        return 0;
    }
    const int result = d->exec();
    ReturnFocusToOwner(d->parentWidget());
    return result;
}

void ReturnFocusToOwner(QWidget* owner) {
    QWidget* window = owner != nullptr ? owner->window() : nullptr;
    while (window != nullptr && !window->isVisible()) {
        QWidget* parent = window->parentWidget();
        window = parent != nullptr ? parent->window() : nullptr;
    }
    if (window == nullptr) {
        return;
    }
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == window) {
        window->activateWindow();
    }
}

Dialogs& TheDialogs() {
    return *Instance();
}

std::unique_ptr<Dialogs> InstallDialogs(std::unique_ptr<Dialogs> dialogs) {
    std::swap(Instance(), dialogs);
    return dialogs;
}

QString ConvertFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return out.join(QStringLiteral(";;"));
}

void InfoBox(QWidget* parent, const QString& text) {
    TheDialogs().MessageBox(parent, text, kProductName, MbIcon::Information, MbButtons::Ok);
}

void ErrorBox(QWidget* parent, const QString& text) {
    TheDialogs().MessageBox(parent, text, kProductName, MbIcon::Error, MbButtons::Ok);
}

bool YesNoBox(QWidget* parent, const QString& text, MbIcon icon) {
    return TheDialogs().MessageBox(parent, text, kProductName, icon, MbButtons::YesNo,
                                   MbResult::Yes) == MbResult::Yes;
}

} // namespace platform
