#pragma once
// The "ID3 Tag Edit" window: loads the ID3 version 1 tag of an MP3 file the user picks,
// lets the user edit it, saves it back or into another existing file, or removes it.
// When the loaded file also has an ID3 version 2 tag, a read-only group below shows it
// whole (full-length UTF-8 text, the fields version 1 cannot hold); the version 1 edits
// never touch it.
//
// The window owns one Tid3tag for its lifetime. Its caption doubles as its state: "ID3
// Tag Edit" until a file was chosen, then "<path>: ID3 Tag Edit"; Save Tag and Remove Tag
// are enabled only in the second state. A file that another process holds open, or that
// is read-only, is never written: the user is told the tag could not be saved (or
// removed). Message boxes and file dialogs go through platform::TheDialogs(). GUI thread
// only; the caller creates, runs modally and frees it.
#include <QDialog>
#include <memory>
#include <string>

#include "platform/Dialogs.h"

class QComboBox;
class QFormLayout;
class QGroupBox;
class QKeyEvent;
class QLayout;
class QLineEdit;
class QPushButton;

namespace tags {

class Tid3tag;

class TfrmID3Edit : public QDialog {
    Q_OBJECT
public:
    explicit TfrmID3Edit(QWidget* owner = nullptr);
    ~TfrmID3Edit() override;

    QLineEdit* ID3title = nullptr;
    QLineEdit* ID3artist = nullptr;
    QLineEdit* ID3album = nullptr;
    QLineEdit* ID3year = nullptr;
    QComboBox* ID3genre = nullptr;
    QLineEdit* ID3comment = nullptr;
    QLineEdit* ID3track = nullptr;
    QPushButton* bLoadTag = nullptr;
    QPushButton* bSaveTag = nullptr;
    QPushButton* bRemoveTag = nullptr;
    QPushButton* bSaveAS = nullptr;
    QPushButton* bClose = nullptr;

    // The version 2 tag, read-only; hidden while the file has none.
    QGroupBox* ID3v2group = nullptr;
    QLineEdit* v2title = nullptr;
    QLineEdit* v2artist = nullptr;
    QLineEdit* v2album = nullptr;
    QLineEdit* v2albumArtist = nullptr;
    QLineEdit* v2year = nullptr;
    QLineEdit* v2genre = nullptr;
    QLineEdit* v2comment = nullptr;
    QLineEdit* v2track = nullptr;
    QLineEdit* v2disc = nullptr;
    QLineEdit* v2cover = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    QLineEdit* AddEdit(QFormLayout* form, const QString& label, const char* name, int maxLength);
    void bLoadTagClick();
    void aSaveTagExecute();
    void aSaveTagUpdate();
    void aRemoveTagExecute();
    void bSaveASClick();
    bool ID3trackKeyPress(const QKeyEvent& key) const;
    QString ChooseFile(const QString& title);
    void ShowTag();
    void CreateVersion2Group(QLayout* layout);
    void ShowVersion2(const std::string& path);
    void ClearControls();
    void FillTag();
    bool WriteInto(const std::string& path);
    void SetFileCaption(const QString& path);

    std::unique_ptr<Tid3tag> tag_;
    std::string fileName_; // the file the caption names
    platform::FileDialogRequest OpenDialog1;
};

} // namespace tags
