#pragma once
// The Options dialog's "Secure rip" page: secure extraction on or off, the drive's read
// offset in samples, test and copy, the AccurateRip check with its server and the CTDB
// check with its server. The other controls follow the main box (disabled while secure
// extraction is off), and each server box follows its check box.
//
// Load fills the controls from a record; Store copies them back (the dialog calls it on
// OK only). GUI thread only; the dialog's page control owns the page.
#include <QWidget>

#include "settings/Global.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace settings {

class TSecureRipPage : public QWidget {
    Q_OBJECT
public:
    explicit TSecureRipPage(QWidget* parent = nullptr);

    void Load(const TSecureRip& options);
    void Store(TSecureRip& options) const;

    QCheckBox* ckSecureRip = nullptr;
    QSpinBox* seReadOffset = nullptr;
    QCheckBox* ckTestAndCopy = nullptr;
    QCheckBox* ckAccurateRip = nullptr;
    QLineEdit* eAccurateRipServer = nullptr;
    QCheckBox* ckCTDB = nullptr;
    QLineEdit* eCTDBServer = nullptr;

private:
    void UpdateEnabled();
};

} // namespace settings
