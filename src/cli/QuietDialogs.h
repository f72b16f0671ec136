#pragma once
// The message boxes of the engine, for a process without windows: the text goes to standard
// error and a question takes its default answer (an existing output is replaced, as the
// window's default button does). File and folder choosers are never asked for from the
// command line and answer "cancelled".
#include "platform/Dialogs.h"

namespace cli {

class TQuietDialogs : public platform::Dialogs {
public:
    platform::MbResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                                  platform::MbIcon icon, platform::MbButtons buttons,
                                  platform::MbResult defaultButton) override;
    QStringList OpenFiles(QWidget* parent, const platform::FileDialogRequest& request) override;
    QString SaveFile(QWidget* parent, const platform::FileDialogRequest& request) override;
    QString BrowseFolder(QWidget* parent, const QString& title, const QString& initialDir) override;
    int ExecModal(QWidget* dialog) override;
};

} // namespace cli
