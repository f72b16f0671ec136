#pragma once
// The Options dialog's "Naming" page: the template that names a rip's files (with the
// common ones offered and an example from the current disc), and whether a rip writes a
// playlist and a cue sheet beside them.
//
// Load fills the controls from a record; Store copies them back (the dialog calls it on OK
// only). GUI thread only; the dialog's page control owns the page.
#include <QWidget>

#include "settings/Global.h"
#include "settings/NameTemplate.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace settings {

// The fields of track `track` of a disc record, as a template sees them.
TNameFields NameFieldsOf(const TDiscInfo& disc, int track);

class TNamingPage : public QWidget {
    Q_OBJECT
public:
    explicit TNamingPage(QWidget* parent = nullptr);

    // `disc` gives the example's values (made-up ones when its first track has no title);
    // `extension` ends the example's file name.
    void Load(const TNaming& options, const TDiscInfo& disc, const std::string& extension);
    void Store(TNaming& options) const;

    QComboBox* cbTemplate = nullptr;
    QLabel* lbExample = nullptr;
    QCheckBox* ckPlaylist = nullptr;
    QCheckBox* ckCueSheet = nullptr;
    QCheckBox* ckSingleFile = nullptr;
    QCheckBox* ckHiddenTrack = nullptr;

private:
    void ShowExample();

    TNameFields example_;
    std::string extension_;
};

} // namespace settings
