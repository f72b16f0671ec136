#include "platform/QtDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace platform {

namespace {
QMessageBox::Icon ToQt(MbIcon icon) {
    switch (icon) {
    case MbIcon::Information:
        return QMessageBox::Information;
    case MbIcon::Warning:
        return QMessageBox::Warning;
    case MbIcon::Error:
        return QMessageBox::Critical;
    case MbIcon::Question:
        return QMessageBox::Question;
    case MbIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(MbButtons buttons) {
    switch (buttons) {
    case MbButtons::Ok:
        return QMessageBox::Ok;
    case MbButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MbButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MbButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButton ToQt(MbResult result) {
    switch (result) {
    case MbResult::Ok:
        return QMessageBox::Ok;
    case MbResult::Cancel:
        return QMessageBox::Cancel;
    case MbResult::Yes:
        return QMessageBox::Yes;
    case MbResult::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

MbResult FromQt(int button) {
    switch (button) {
    case QMessageBox::Yes:
        return MbResult::Yes;
    case QMessageBox::No:
        return MbResult::No;
    case QMessageBox::Cancel:
        return MbResult::Cancel;
    default:
        return MbResult::Ok;
    }
}

QString StartPath(const FileDialogRequest& request) {
    if (request.initialDir.isEmpty()) {
        return request.fileName;
    }
    return QDir(request.initialDir).filePath(request.fileName);
}
} // namespace

MbResult QtDialogs::MessageBox(QWidget* parent, const QString& text, const QString& caption,
                               MbIcon icon, MbButtons buttons, MbResult defaultButton) {
    QMessageBox box(ToQt(icon), caption, text, ToQt(buttons), parent);
    box.setDefaultButton(ToQt(defaultButton));
    return FromQt(box.exec());
}

QStringList QtDialogs::OpenFiles(QWidget* parent, const FileDialogRequest& request) {
    const QString filter = ConvertFilter(request.filter);
    if (request.multiSelect) {
        return QFileDialog::getOpenFileNames(parent, request.title, StartPath(request), filter);
    }
    const QString file =
        QFileDialog::getOpenFileName(parent, request.title, StartPath(request), filter);
    return file.isEmpty() ? QStringList() : QStringList{file};
}

QString QtDialogs::SaveFile(QWidget* parent, const FileDialogRequest& request) {
    return QFileDialog::getSaveFileName(parent, request.title, StartPath(request),
                                        ConvertFilter(request.filter));
}

QString QtDialogs::BrowseFolder(QWidget* parent, const QString& title, const QString& initialDir) {
    return QFileDialog::getExistingDirectory(parent, title, initialDir);
}

} // namespace platform
