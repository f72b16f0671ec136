#pragma once
// The Options dialog's "Secure rip" page: secure extraction on or off, the drive's read
// offset in samples, test and copy, the AccurateRip check with its server and the CTDB
// check with its server, and fast first (a single read of each track, re-read securely
// only when no database verifies it). The other controls follow the main box (disabled
// while secure extraction is off), each server box follows its check box, and fast first
// needs a database to verify against.
//
// Detect looks the read offset up for the disc in the first drive (see TReadOffsetSearch)
// with the AccurateRip server of the page and the user's proxy, and on the user's Yes puts
// it in the offset box; it needs the finder the program installs (the button is disabled
// without one).
//
// Load fills the controls from a record; Store copies them back (the dialog calls it on
// OK only). GUI thread only; the dialog's page control owns the page.
#include <QWidget>

#include "settings/Global.h"
#include "settings/ReadOffsetSearch.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace settings {

class TSecureRipPage : public QWidget {
    Q_OBJECT
public:
    explicit TSecureRipPage(QWidget* parent = nullptr);

    void Load(const TSecureRip& options);
    void Store(TSecureRip& options) const;

    // The search Detect runs; the program installs it once at start-up. Returns the
    // previous one.
    static ReadOffsetFinder InstallFinder(ReadOffsetFinder finder);

    QCheckBox* ckSecureRip = nullptr;
    QSpinBox* seReadOffset = nullptr;
    QPushButton* bDetectOffset = nullptr;
    QCheckBox* ckTestAndCopy = nullptr;
    QCheckBox* ckAccurateRip = nullptr;
    QLineEdit* eAccurateRipServer = nullptr;
    QCheckBox* ckCTDB = nullptr;
    QLineEdit* eCTDBServer = nullptr;
    QCheckBox* ckFastFirst = nullptr;

private:
    void UpdateEnabled();
    void bDetectOffsetClick();
    void ShowOutcome(const DetectedOffset& result, int maxOffset);
};

} // namespace settings
