#pragma once
// The window that lets the user pick one of several releases found for the disc: a row
// per candidate (its source, artist, title, date, country, label, track count and
// barcode), the remembered release selected when it is among them, else the first row.
// OK (or a double click) accepts the selected row; Cancel, Escape or closing rejects.
//
// GUI thread only; the candidates are copied in.
#include <QDialog>
#include <vector>

#include "tags/MbReply.h"

class QPushButton;
class QTreeWidget;

namespace tags {

class TfrmMbReleaseChooser : public QDialog {
    Q_OBJECT
public:
    TfrmMbReleaseChooser(QWidget* owner, std::vector<MbRelease> candidates,
                         const std::string& rememberedId);

    // The row selected (an index into the candidates), or -1 when none.
    int Chosen() const;
    // The row of `id` among releases, or -1 (ids are compared exactly; "" matches none).
    static int IndexOfRelease(const std::vector<MbRelease>& releases, const std::string& id);

private:
    std::vector<MbRelease> candidates_;
    QTreeWidget* lvReleases = nullptr;
    QPushButton* bOK = nullptr;
    QPushButton* bCancel = nullptr;
};

} // namespace tags
