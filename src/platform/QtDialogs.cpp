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

QString BreakableText(const QString& text) {
    constexpr QChar kZeroWidthSpace(0x200B);
    QString out;
    out.reserve(text.size() + text.size() / kBreakEvery);
    int run = 0; // characters since the last place a line may break
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        out += c;
        if (c.isSpace() || c == kZeroWidthSpace || c == QLatin1Char('-')) {
            run = 0;
            continue;
        }
        ++run;
        // Never inside a character: not between the halves of a surrogate pair, nor before
        // an accent that belongs to the letter before it.
        const bool inside =
            i + 1 < text.size() &&
            (text[i + 1].isLowSurrogate() || text[i + 1].category() == QChar::Mark_NonSpacing);
        if (!inside && (c == QLatin1Char('/') || run >= kBreakEvery)) {
            out += kZeroWidthSpace;
            run = 0;
        }
    }
    return out;
}

MbResult QtDialogs::MessageBox(QWidget* parent, const QString& text, const QString& caption,
                               MbIcon icon, MbButtons buttons, MbResult defaultButton) {
    QMessageBox box(ToQt(icon), caption, BreakableText(text), ToQt(buttons), parent);
    box.setDefaultButton(ToQt(defaultButton));
    const int answer = box.exec();
    ReturnFocusToOwner(parent);
    return FromQt(answer);
}

QStringList QtDialogs::OpenFiles(QWidget* parent, const FileDialogRequest& request) {
    const QString filter = ConvertFilter(request.filter);
    QStringList files;
    if (request.multiSelect) {
        files = QFileDialog::getOpenFileNames(parent, request.title, StartPath(request), filter);
    } else if (const QString file =
                   QFileDialog::getOpenFileName(parent, request.title, StartPath(request), filter);
               !file.isEmpty()) {
        files << file;
    }
    ReturnFocusToOwner(parent);
    return files;
}

QString QtDialogs::SaveFile(QWidget* parent, const FileDialogRequest& request) {
    const QString file = QFileDialog::getSaveFileName(parent, request.title, StartPath(request),
                                                      ConvertFilter(request.filter));
    ReturnFocusToOwner(parent);
    return file;
}

QString QtDialogs::BrowseFolder(QWidget* parent, const QString& title, const QString& initialDir) {
    const QString folder = QFileDialog::getExistingDirectory(parent, title, initialDir);
    ReturnFocusToOwner(parent);
    return folder;
}

} // namespace platform
