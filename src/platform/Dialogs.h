#pragma once
// Message boxes, file dialogs and the folder browser, behind one interface so that
// windows can be driven by tests. The program installs QtDialogs; tests install
// ScriptedDialogs, which records every box and returns prepared answers.
#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

namespace platform {

enum class MbIcon { None, Information, Warning, Error, Question };
enum class MbButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MbResult { Ok, Cancel, Yes, No };

struct FileDialogRequest {
    QString title;
    QString filter;   // "Name|pattern|Name|pattern" form
    QString fileName; // initial name
    QString initialDir;
    bool multiSelect = false;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MbResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                                MbIcon icon, MbButtons buttons,
                                MbResult defaultButton = MbResult::Ok) = 0;
    // Empty list = cancelled.
    virtual QStringList OpenFiles(QWidget* parent, const FileDialogRequest& request) = 0;
    // Empty = cancelled.
    virtual QString SaveFile(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual QString BrowseFolder(QWidget* parent, const QString& title,
                                 const QString& initialDir) = 0;
    // Runs a modal dialog; the scripted version lets tests act on it instead.
    virtual int ExecModal(QWidget* dialog);
};

// The process-wide instance (QtDialogs unless a test installed another).
Dialogs& TheDialogs();
// Installs a new instance and returns the previous one.
std::unique_ptr<Dialogs> InstallDialogs(std::unique_ptr<Dialogs> dialogs);

// Gives the keyboard focus back to the window of `owner` (or, when that has gone, of its
// nearest visible owner) once a dialog of it has closed. Window managers do not always do
// it: a dialog chain whose last dialog closes right after the one it opened (a lookup that
// succeeded, a box inside a job that then ends) left the focus nowhere and every shortcut
// dead until a click. Nothing is done while another modal window is open elsewhere.
void ReturnFocusToOwner(QWidget* owner);

// Converts "Name|pattern|Name|pattern" into Qt's "Name (pattern);;Name (pattern)".
QString ConvertFilter(const QString& filter);

// Shorthands used across the windows; every box is titled "Vellorine".
void InfoBox(QWidget* parent, const QString& text);
void ErrorBox(QWidget* parent, const QString& text);
bool YesNoBox(QWidget* parent, const QString& text, MbIcon icon = MbIcon::Question);

} // namespace platform
