#include "settings/NamingPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cstddef>

namespace settings {

namespace {

constexpr const char* kCommonTemplates[] = {"%t", "%n - %t", "%a/%l/%n - %t", "%A/%l (%y)/%n - %t"};

// An example for a disc that has no names yet.
TNameFields MadeUpFields() {
    TNameFields f;
    f.Track = 1;
    f.Title = "Morning Song";
    f.Artist = "Some Artist";
    f.AlbumArtist = "Some Artist";
    f.Album = "First Album";
    f.Year = "1999";
    f.Genre = "Rock";
    f.Disc = "1";
    return f;
}

} // namespace

TNameFields NameFieldsOf(const TDiscInfo& disc, int track) {
    TNameFields f;
    f.Track = track;
    const bool inList = track >= 1 && track < static_cast<int>(disc.Titles.size());
    const auto t = static_cast<std::size_t>(inList ? track : 0);
    f.Title = inList ? disc.Titles[t] : std::string();
    const std::string trackArtist = inList ? disc.TrackArtists[t] : std::string();
    f.Artist = trackArtist.empty() ? disc.Artist : trackArtist;
    f.AlbumArtist = disc.AlbumArtist.empty() ? disc.Artist : disc.AlbumArtist;
    f.Album = disc.Album;
    f.Year = disc.Year;
    if (disc.Genre >= 0 && disc.Genre < static_cast<int>(GenreNames.size())) {
        f.Genre = GenreNames[static_cast<std::size_t>(disc.Genre)];
    }
    f.Disc = disc.DiscNumber;
    return f;
}

TNamingPage::TNamingPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet9"));
    auto* page = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    cbTemplate = new QComboBox(this);
    cbTemplate->setObjectName(QStringLiteral("cbTemplate"));
    cbTemplate->setEditable(true);
    cbTemplate->setInsertPolicy(QComboBox::NoInsert);
    for (const char* common : kCommonTemplates) {
        cbTemplate->addItem(QString::fromUtf8(common));
    }
    form->addRow(QStringLiteral("File names:"), cbTemplate);
    lbExample = new QLabel(this);
    lbExample->setObjectName(QStringLiteral("lbExample"));
    lbExample->setTextFormat(Qt::PlainText);
    form->addRow(QStringLiteral("Example:"), lbExample);
    page->addLayout(form);
    auto* hint = new QLabel(QStringLiteral("%n track number, %t title, %a artist, %A album artist, "
                                           "%l album, %y year, %g genre, %d disc number; "
                                           "\"/\" makes folders in the output folder."),
                            this);
    hint->setWordWrap(true);
    page->addWidget(hint);
    ckPlaylist = new QCheckBox(QStringLiteral("Write an M3U8 playlist of each rip"), this);
    ckPlaylist->setObjectName(QStringLiteral("ckPlaylist"));
    page->addWidget(ckPlaylist);
    ckCueSheet = new QCheckBox(QStringLiteral("Write a cue sheet of each rip"), this);
    ckCueSheet->setObjectName(QStringLiteral("ckCueSheet"));
    page->addWidget(ckCueSheet);
    ckSingleFile = new QCheckBox(
        QStringLiteral("Rip the whole disc to one file with a cue sheet (WAV or FLAC)"), this);
    ckSingleFile->setObjectName(QStringLiteral("ckSingleFile"));
    page->addWidget(ckSingleFile);
    ckHiddenTrack = new QCheckBox(
        QStringLiteral("Rip audio hidden before track 1 as track 00 (with track 1)"), this);
    ckHiddenTrack->setObjectName(QStringLiteral("ckHiddenTrack"));
    page->addWidget(ckHiddenTrack);
    page->addStretch();
    connect(cbTemplate, &QComboBox::editTextChanged, this, [this] { ShowExample(); });
    connect(ckSingleFile, &QCheckBox::toggled, this, [this] { ShowExample(); });
}

void TNamingPage::Load(const TNaming& options, const TDiscInfo& disc,
                       const std::string& extension) {
    example_ = disc.Titles[1].empty() ? MadeUpFields() : NameFieldsOf(disc, 1);
    extension_ = extension;
    cbTemplate->setEditText(QString::fromStdString(options.Template));
    ckPlaylist->setChecked(options.Playlist);
    ckCueSheet->setChecked(options.CueSheet);
    ckSingleFile->setChecked(options.SingleFile);
    ckHiddenTrack->setChecked(options.HiddenTrack);
    ShowExample();
}

void TNamingPage::Store(TNaming& options) const {
    const std::string text = cbTemplate->currentText().toStdString();
    options.Template = text.empty() ? std::string(kDefaultNameTemplate) : text;
    options.Playlist = ckPlaylist->isChecked();
    options.CueSheet = ckCueSheet->isChecked();
    options.SingleFile = ckSingleFile->isChecked();
    options.HiddenTrack = ckHiddenTrack->isChecked();
}

// A single file is the album's: the example names it with the disc's values.
void TNamingPage::ShowExample() {
    const std::string pattern = cbTemplate->currentText().toStdString();
    TNameFields fields = example_;
    if (ckSingleFile->isChecked()) {
        fields.Track = 0;
        fields.Title = fields.Album.empty() ? "Disc" : fields.Album;
    }
    const TItemName name = ExpandNameTemplate(
        ckSingleFile->isChecked() ? SingleFileTemplate(pattern, fields) : pattern, fields);
    // A single file is WAV unless the format is FLAC.
    const std::string extension =
        ckSingleFile->isChecked() && extension_ != ".flac" ? ".wav" : extension_;
    lbExample->setText(QString::fromStdString(name.Folders + name.Stem + extension));
}

} // namespace settings
