#pragma once
// The full-length tags' switches and the disc's cover, appended to the Options dialog's
// "ID3 Tag" page below the disc's fields: "Also write ID3v2.4 tags (MP3)", "Write Vorbis
// comments (OGG, Opus, FLAC)", "Write ReplayGain tags (track and album gain and peak)", "Save
// the cover beside the files", and the cover choice.
//
// Load fills the controls from the records; Store copies them back (the dialog calls it on
// OK only). GUI thread only; the page owns the panel.
#include <QWidget>

#include "settings/Global.h"

class QCheckBox;

namespace settings {

class TCoverChoice;

class TTagsPanel : public QWidget {
    Q_OBJECT
public:
    explicit TTagsPanel(QWidget* parent = nullptr);

    void Load(const TTagOptions& options, const TDiscInfo& disc);
    void Store(TTagOptions& options, TDiscInfo& disc) const;

    QCheckBox* cbID3v2 = nullptr;
    QCheckBox* cbVorbisComments = nullptr;
    QCheckBox* cbSaveCover = nullptr;
    // [ReplayGain] Enabled, loaded and stored by the dialog beside the other two.
    QCheckBox* cbReplayGain = nullptr;
    TCoverChoice* Cover = nullptr;
};

} // namespace settings
