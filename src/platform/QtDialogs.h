#pragma once
// The real dialogs: QMessageBox, QFileDialog.
#include "platform/Dialogs.h"

namespace platform {

// The text as a box shows it: a box wraps only where a line may break, so a long run
// without one (a path, a title without blanks) would be cut off at the box's edge. Such runs
// get invisible break opportunities (U+200B) after each "/" and every kBreakEvery characters.
constexpr int kBreakEvery = 24;
QString BreakableText(const QString& text);

class QtDialogs : public Dialogs {
public:
    MbResult MessageBox(QWidget* parent, const QString& text, const QString& caption, MbIcon icon,
                        MbButtons buttons, MbResult defaultButton) override;
    QStringList OpenFiles(QWidget* parent, const FileDialogRequest& request) override;
    QString SaveFile(QWidget* parent, const FileDialogRequest& request) override;
    QString BrowseFolder(QWidget* parent, const QString& title, const QString& initialDir) override;
};

} // namespace platform
