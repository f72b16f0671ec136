#pragma once
// The "Rename Track Title" dialog: one edit box holding a track's title.
//
// The main window fills eName with the row's title, runs the dialog modally and, when it
// ends with Accepted, copies eName back into the row. OK is enabled only while the text is
// not empty, but Enter in the edit box accepts even an empty title. GUI thread only; the
// caller owns the dialog.
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace tags {

class TfrmEditTrackName : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEditTrackName(QWidget* owner = nullptr);

    QLineEdit* eName = nullptr;
    QPushButton* bOK = nullptr;
    QPushButton* bCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void aOKUpdate();
    void aOKExecute();
};

} // namespace tags
