#pragma once
// The Options dialog's "FLAC" page: the lossless encoder's compression level (0 fastest,
// 8 smallest; every level decodes to the same audio) and whether each encoded frame is
// checked against its input while the file is made.
//
// Load fills the controls from a record (clamping a level out of range); Store copies them
// back (the dialog calls it on OK only). GUI thread only; the dialog's page control owns
// the page.
#include <QWidget>

#include "settings/Global.h"

class QCheckBox;
class QSpinBox;

namespace settings {

class TFlacPage : public QWidget {
    Q_OBJECT
public:
    explicit TFlacPage(QWidget* parent = nullptr);

    void Load(const TFlacOptions& options);
    void Store(TFlacOptions& options) const;

    QSpinBox* seFlacLevel = nullptr;
    QCheckBox* ckFlacVerify = nullptr;
};

} // namespace settings
