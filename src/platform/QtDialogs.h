#pragma once
// The real dialogs: QMessageBox, QFileDialog.
#include "platform/Dialogs.h"

namespace platform {

class QtDialogs : public Dialogs {
public:
    MbResult MessageBox(QWidget* parent, const QString& text, const QString& caption, MbIcon icon,
                        MbButtons buttons, MbResult defaultButton) override;
    QStringList OpenFiles(QWidget* parent, const FileDialogRequest& request) override;
    QString SaveFile(QWidget* parent, const FileDialogRequest& request) override;
    QString BrowseFolder(QWidget* parent, const QString& title, const QString& initialDir) override;
};

} // namespace platform
