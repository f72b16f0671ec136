#include "tags/MbReleaseChooser.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tags {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TfrmMbReleaseChooser::TfrmMbReleaseChooser(QWidget* owner, std::vector<MbRelease> candidates,
                                           const std::string& rememberedId)
    : QDialog(owner), candidates_(std::move(candidates)) {
    setObjectName("frmMbReleaseChooser");
    setWindowTitle("Choose a Release");
    auto* hint = new QLabel("Several releases match this disc. Choose the one you have:", this);
    lvReleases = new QTreeWidget(this);
    lvReleases->setObjectName("lvReleases");
    lvReleases->setRootIsDecorated(false);
    lvReleases->setAllColumnsShowFocus(true);
    lvReleases->setHeaderLabels(
        {"Source", "Artist", "Title", "Date", "Country", "Label", "Tracks", "Barcode"});
    for (const MbRelease& r : candidates_) {
        auto* row = new QTreeWidgetItem(lvReleases);
        row->setText(0, Q(r.SourceText()));
        row->setText(1, Q(r.artist));
        row->setText(2, Q(r.title));
        row->setText(3, Q(r.date));
        row->setText(4, Q(r.country));
        row->setText(5, Q(r.label));
        row->setText(6, QString::number(r.tracks.size()));
        row->setText(7, Q(r.barcode));
    }
    for (int c = 0; c < lvReleases->columnCount(); ++c) {
        lvReleases->resizeColumnToContents(c);
        // The style's cell margins are not in the measured width.
        lvReleases->setColumnWidth(c, lvReleases->columnWidth(c) + 12);
    }
    const int remembered = IndexOfRelease(candidates_, rememberedId);
    if (!candidates_.empty()) {
        lvReleases->setCurrentItem(lvReleases->topLevelItem(remembered < 0 ? 0 : remembered));
    }

    bOK = new QPushButton("OK", this);
    bOK->setObjectName("bOK");
    bOK->setDefault(true);
    bCancel = new QPushButton("Cancel", this);
    bCancel->setObjectName("bCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK);
    buttons->addWidget(bCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(lvReleases);
    layout->addLayout(buttons);
    resize(720, 300);

    connect(bOK, &QPushButton::clicked, this, [this] {
        if (Chosen() >= 0) {
            accept();
        }
    });
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvReleases, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
}

int TfrmMbReleaseChooser::Chosen() const {
    QTreeWidgetItem* item = lvReleases->currentItem();
    return item == nullptr ? -1 : lvReleases->indexOfTopLevelItem(item);
}

int TfrmMbReleaseChooser::IndexOfRelease(const std::vector<MbRelease>& releases,
                                         const std::string& id) {
    for (std::size_t i = 0; i < releases.size() && !id.empty(); ++i) {
        if (releases[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace tags
