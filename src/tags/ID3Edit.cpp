#include "tags/ID3Edit.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "settings/Global.h"
#include "tags/Genres.h"
#include "tags/TagReader.h"
#include "tags/id3.h"

namespace tags {

namespace {
const QString kCaption = QStringLiteral("ID3 Tag Edit");
const QString kCouldNotSave = QStringLiteral("Could not save Tag!");
const QString kCouldNotRemove = QStringLiteral("Could not remove Tag!");
const QString kAskRemove = QStringLiteral("Do you want to remove these tags?");

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

// Another process writing the file (an encoder, a player saving its tags) must never
// see us change it underneath; a read-only file is refused the same way.
bool MayWrite(const std::string& path) {
    return !settings::IsFileInUse(path);
}
} // namespace

TfrmID3Edit::TfrmID3Edit(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmID3Edit"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("ID3 Tag"), this);
    auto* form = new QFormLayout(group);
    ID3title = AddEdit(form, QStringLiteral("Title:"), "ID3title", 30);
    ID3artist = AddEdit(form, QStringLiteral("Artist:"), "ID3artist", 30);
    ID3album = AddEdit(form, QStringLiteral("Album:"), "ID3album", 30);
    ID3year = AddEdit(form, QStringLiteral("Year:"), "ID3year", 4);
    ID3genre = new QComboBox(group);
    ID3genre->setObjectName(QStringLiteral("ID3genre"));
    for (const char* name : GenreList) {
        ID3genre->addItem(QString::fromLatin1(name));
    }
    ID3genre->setMaxVisibleItems(20);
    form->addRow(QStringLiteral("Genre:"), ID3genre);
    ID3comment = AddEdit(form, QStringLiteral("Comment:"), "ID3comment", 30);
    ID3track = AddEdit(form, QStringLiteral("Track #:"), "ID3track", 2);
    ID3track->setMaximumWidth(60);
    // The key filter drops typed letters; the validator also keeps pasted ones out.
    ID3track->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), this));
    ID3track->installEventFilter(this);
    // The version 2 tag stands beside the version 1 fields, so the window stays low.
    auto* groups = new QHBoxLayout;
    groups->addWidget(group, 1);
    CreateVersion2Group(groups);
    layout->addLayout(groups);

    auto* buttons = new QHBoxLayout;
    auto button = [this, buttons](const QString& caption, const char* name) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    bLoadTag = button(QStringLiteral("&Load Tag..."), "bLoadTag");
    bSaveTag = button(QStringLiteral("&Save Tag"), "bSaveTag");
    bRemoveTag = button(QStringLiteral("&Remove Tag"), "bRemoveTag");
    bSaveAS = button(QStringLiteral("&Save As..."), "bSaveAS");
    bClose = button(QStringLiteral("&Close"), "bClose");
    layout->addLayout(buttons);

    connect(bLoadTag, &QPushButton::clicked, this, &TfrmID3Edit::bLoadTagClick);
    connect(bSaveTag, &QPushButton::clicked, this, &TfrmID3Edit::aSaveTagExecute);
    connect(bRemoveTag, &QPushButton::clicked, this, &TfrmID3Edit::aRemoveTagExecute);
    connect(bSaveAS, &QPushButton::clicked, this, &TfrmID3Edit::bSaveASClick);
    connect(bClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QWidget::windowTitleChanged, this, &TfrmID3Edit::aSaveTagUpdate);

    OpenDialog1.filter = QStringLiteral("Index files (*.mp3)|*.mp3");
    FormCreate();
}

TfrmID3Edit::~TfrmID3Edit() = default;

QLineEdit* TfrmID3Edit::AddEdit(QFormLayout* form, const QString& label, const char* name,
                                int maxLength) {
    auto* edit = new QLineEdit(form->parentWidget());
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(maxLength);
    form->addRow(label, edit);
    return edit;
}

void TfrmID3Edit::CreateVersion2Group(QLayout* layout) {
    ID3v2group = new QGroupBox(QStringLiteral("ID3v2 Tag (read-only)"), this);
    ID3v2group->setObjectName(QStringLiteral("ID3v2group"));
    auto* form = new QFormLayout(ID3v2group);
    auto edit = [form](const QString& label, const char* name) {
        auto* e = new QLineEdit(form->parentWidget());
        e->setObjectName(QLatin1String(name));
        e->setReadOnly(true);
        form->addRow(label, e);
        return e;
    };
    v2title = edit(QStringLiteral("Title:"), "v2title");
    v2artist = edit(QStringLiteral("Artist:"), "v2artist");
    v2album = edit(QStringLiteral("Album:"), "v2album");
    v2albumArtist = edit(QStringLiteral("Album artist:"), "v2albumArtist");
    v2year = edit(QStringLiteral("Year:"), "v2year");
    v2genre = edit(QStringLiteral("Genre:"), "v2genre");
    v2comment = edit(QStringLiteral("Comment:"), "v2comment");
    v2track = edit(QStringLiteral("Track #:"), "v2track");
    v2disc = edit(QStringLiteral("Disc #:"), "v2disc");
    v2cover = edit(QStringLiteral("Cover:"), "v2cover");
    ID3v2group->setMinimumWidth(360);
    ID3v2group->hide();
    layout->addWidget(ID3v2group);
}

void TfrmID3Edit::ShowVersion2(const std::string& path) {
    TId3v2Contents contents;
    if (!ReadId3v2(path, contents)) {
        ID3v2group->hide();
        adjustSize();
        return;
    }
    const TTagSet& set = contents.Set;
    ID3v2group->setTitle(QStringLiteral("ID3v2.%1 Tag (read-only)").arg(contents.Version));
    v2title->setText(FromUtf8(set.Title));
    v2artist->setText(FromUtf8(set.Artist));
    v2album->setText(FromUtf8(set.Album));
    v2albumArtist->setText(FromUtf8(set.AlbumArtist));
    v2year->setText(FromUtf8(set.Year));
    v2genre->setText(FromUtf8(set.Genre));
    v2comment->setText(FromUtf8(set.Comment));
    v2track->setText(FromUtf8(CountText(set.Track, set.TrackTotal)));
    v2disc->setText(FromUtf8(CountText(set.Disc, set.DiscTotal)));
    v2cover->setText(set.Cover ? QStringLiteral("%1, %2 bytes")
                                     .arg(FromUtf8(set.Cover->Mime))
                                     .arg(set.Cover->Bytes.size())
                               : QString());
    for (QLineEdit* e : {v2title, v2artist, v2album, v2albumArtist, v2comment}) {
        e->setCursorPosition(0); // the start of a long text, not its end
    }
    ID3v2group->show();
}

void TfrmID3Edit::FormCreate() {
    tag_ = std::make_unique<Tid3tag>();
    setWindowTitle(kCaption);
    aSaveTagUpdate();
}

bool TfrmID3Edit::ID3trackKeyPress(const QKeyEvent& key) const {
    // Keys that type nothing printable (Backspace, Delete, arrows, Tab, Enter) keep their
    // work; of the printable ones only digits get through.
    const QString text = key.text();
    if (text.isEmpty() || !text[0].isPrint()) {
        return true;
    }
    return text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9');
}

bool TfrmID3Edit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ID3track && event->type() == QEvent::KeyPress &&
        !ID3trackKeyPress(*static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmID3Edit::aSaveTagUpdate() {
    const bool chosen = windowTitle() != kCaption;
    bSaveTag->setEnabled(chosen);
    bRemoveTag->setEnabled(chosen);
}

void TfrmID3Edit::SetFileCaption(const QString& path) {
    fileName_ = path.toStdString();
    setWindowTitle(path + QStringLiteral(": ") + kCaption);
}

QString TfrmID3Edit::ChooseFile(const QString& title) {
    platform::FileDialogRequest request = OpenDialog1;
    request.title = title;
    const QStringList files = platform::TheDialogs().OpenFiles(this, request);
    if (files.isEmpty()) {
        return {};
    }
    OpenDialog1.initialDir = QFileInfo(files.front()).absolutePath();
    return files.front();
}

void TfrmID3Edit::ShowTag() {
    ID3title->setText(FromUtf8(tag_->Title));
    ID3artist->setText(FromUtf8(tag_->Artist));
    ID3album->setText(FromUtf8(tag_->Album));
    ID3year->setText(FromUtf8(tag_->Year));
    ID3comment->setText(FromUtf8(tag_->Comment));
    ID3genre->setCurrentIndex(GenreCodeToIndex(tag_->Genre));
    ID3track->setText(QString::number(tag_->Track));
}

void TfrmID3Edit::ClearControls() {
    for (QLineEdit* edit : {ID3title, ID3artist, ID3album, ID3year, ID3comment}) {
        edit->clear();
    }
    ID3genre->setCurrentIndex(-1);
    ID3track->setText(QStringLiteral("0"));
}

void TfrmID3Edit::bLoadTagClick() {
    const QString path = ChooseFile(QStringLiteral("Load Tag"));
    if (path.isEmpty()) {
        return;
    }
    if (Id3Succeeded(tag_->ReadTag(path.toStdString()))) {
        ShowTag();
    } else {
        ClearControls(); // no tag, or the file could not be read: start from blank
    }
    ShowVersion2(path.toStdString());
    SetFileCaption(path);
}

void TfrmID3Edit::FillTag() {
    tag_->SetTitle(ID3title->text().toStdString());
    tag_->SetArtist(ID3artist->text().toStdString());
    tag_->SetAlbum(ID3album->text().toStdString());
    tag_->SetYear(ID3year->text().toStdString());
    tag_->SetComment(ID3comment->text().toStdString());
    tag_->Genre = GenreIndexToCode(ID3genre->currentIndex());
    if (!ID3track->text().isEmpty()) {
        tag_->SetTrack(static_cast<std::uint8_t>(ID3track->text().toInt()));
    }
}

bool TfrmID3Edit::WriteInto(const std::string& path) {
    FillTag();
    if (!MayWrite(path) || !Id3Succeeded(tag_->WriteTag(path))) {
        platform::InfoBox(this, kCouldNotSave);
        return false;
    }
    return true;
}

void TfrmID3Edit::aSaveTagExecute() {
    // The file the caption names: a file that vanished before it could be read must not
    // send the tag into the file loaded before it.
    WriteInto(fileName_);
}

void TfrmID3Edit::bSaveASClick() {
    const QString path = ChooseFile(QStringLiteral("Save As"));
    if (path.isEmpty()) {
        return;
    }
    if (WriteInto(path.toStdString())) {
        ShowVersion2(path.toStdString());
        SetFileCaption(path);
    }
}

void TfrmID3Edit::aRemoveTagExecute() {
    if (platform::TheDialogs().MessageBox(this, kAskRemove, QStringLiteral("Vellorine"),
                                          platform::MbIcon::Information, platform::MbButtons::YesNo,
                                          platform::MbResult::No) != platform::MbResult::Yes) {
        return;
    }
    const std::string path = fileName_;
    if (MayWrite(path)) {
        tag_->FileName = path;
        tag_->RemoveTag();
    }
    // Clearing the fields while the tag is still there would tell the user it is gone.
    Tid3tag check;
    if (Id3Succeeded(check.ReadTag(path))) {
        platform::InfoBox(this, kCouldNotRemove);
        return;
    }
    ClearControls();
}

} // namespace tags
