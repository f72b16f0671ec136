#pragma once
// Dialogs for tests: records every box shown and answers from a prepared queue
// (an empty queue answers the box's default button, or Cancel for file dialogs).
#include <QList>
#include <deque>
#include <functional>

#include "platform/Dialogs.h"

namespace platform {

struct RecordedBox {
    QString text;
    QString caption;
    MbIcon icon;
    MbButtons buttons;
};

class ScriptedDialogs : public Dialogs {
public:
    MbResult MessageBox(QWidget* parent, const QString& text, const QString& caption, MbIcon icon,
                        MbButtons buttons, MbResult defaultButton) override;
    QStringList OpenFiles(QWidget* parent, const FileDialogRequest& request) override;
    QString SaveFile(QWidget* parent, const FileDialogRequest& request) override;
    QString BrowseFolder(QWidget* parent, const QString& title, const QString& initialDir) override;
    int ExecModal(QWidget* dialog) override;

    std::deque<MbResult> answers;
    std::deque<QStringList> openAnswers;
    std::deque<QString> saveAnswers;
    std::deque<QString> folderAnswers;
    // Called instead of a modal loop; returns the dialog's result. Unset: 0 (rejected).
    std::function<int(QWidget*)> onModal;

    QList<RecordedBox> boxes;
    // The texts of the boxes shown, in order.
    QStringList BoxTexts() const;
    QList<FileDialogRequest> fileRequests;
    QList<QWidget*> modalDialogs;
};

} // namespace platform
