#include "app/NoDeviceHint.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace app {

TNoDeviceHintForm::TNoDeviceHintForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Vellorine"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(
        tr("<p><b>No CD device was found.</b></p>"
           "<p>This can happen when:</p><ul>"
           "<li>the drive is locked by another program (close other players and burners);</li>"
           "<li>you lack the rights for low-level access to the drive (on most systems, "
           "membership of the <i>cdrom</i> or <i>optical</i> group);</li>"
           "<li>the drive's driver is missing, or no drive is attached.</li></ul>"
           "<p>To work with a disc image instead, name its .cue, .toc or .nrg file in the "
           "environment variable VELLORINE_CD_IMAGES.</p>"
           "<p><a href=\"https://www.kernel.org/doc/html/latest/cdrom/index.html\">Linux "
           "CD-ROM drivers</a> &middot; "
           "<a href=\"https://www.gnu.org/software/libcdio/\">libcdio</a></p>"),
        this);
    text->setWordWrap(true);
    text->setOpenExternalLinks(true);
    text->setTextFormat(Qt::RichText);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    setFixedWidth(420);
}

} // namespace app
