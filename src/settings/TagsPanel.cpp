#include "settings/TagsPanel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QVBoxLayout>

#include "settings/CoverChoice.h"

namespace settings {

namespace {

QCheckBox* Check(QWidget* parent, const char* name, const QString& caption) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(QLatin1String(name));
    return check;
}

} // namespace

TTagsPanel::TTagsPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TagsPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    cbID3v2 = Check(this, "cbID3v2", QStringLiteral("Also write ID3v2.4 tags (MP3, full length)"));
    cbVorbisComments =
        Check(this, "cbVorbisComments", QStringLiteral("Write Vorbis comments (OGG, Opus, FLAC)"));
    layout->addWidget(cbID3v2);
    layout->addWidget(cbVorbisComments);
    cbReplayGain = Check(this, "cbReplayGain",
                         QStringLiteral("Write ReplayGain tags (track and album gain and peak)"));
    layout->addWidget(cbReplayGain);
    auto* group = new QGroupBox(QStringLiteral("Front cover"), this);
    auto* groupLayout = new QVBoxLayout(group);
    Cover = new TCoverChoice(group);
    cbSaveCover = Check(group, "cbSaveCover", QStringLiteral("Save the cover beside the files"));
    groupLayout->addWidget(Cover);
    groupLayout->addWidget(cbSaveCover);
    layout->addWidget(group);
}

void TTagsPanel::Load(const TTagOptions& options, const TDiscInfo& disc) {
    cbID3v2->setChecked(options.ID3v2);
    cbVorbisComments->setChecked(options.VorbisComments);
    cbSaveCover->setChecked(options.SaveCover);
    Cover->SetFile(disc.CoverFile);
}

void TTagsPanel::Store(TTagOptions& options, TDiscInfo& disc) const {
    options.ID3v2 = cbID3v2->isChecked();
    options.VorbisComments = cbVorbisComments->isChecked();
    options.SaveCover = cbSaveCover->isChecked();
    disc.CoverFile = Cover->File();
}

} // namespace settings
