#pragma once
// The Options dialog's "Opus" page: the encoder's variable bit rate in kbit/s.
//
// Load fills the control from a record (clamping a rate out of range); Store copies it back
// (the dialog calls it on OK only). GUI thread only; the dialog's page control owns the page.
#include <QWidget>

#include "settings/Global.h"

class QSpinBox;

namespace settings {

class TOpusPage : public QWidget {
    Q_OBJECT
public:
    explicit TOpusPage(QWidget* parent = nullptr);

    void Load(const TOpusOptions& options);
    void Store(TOpusOptions& options) const;

    QSpinBox* seOpusBitRate = nullptr;
};

} // namespace settings
