#include "settings/CoverChoice.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "platform/Dialogs.h"

namespace settings {

TCoverChoice::TCoverChoice(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("CoverChoice"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    imgCover = new QLabel(this);
    imgCover->setObjectName(QStringLiteral("imgCover"));
    imgCover->setFixedSize(ThumbnailSide, ThumbnailSide);
    imgCover->setFrameShape(QFrame::Box);
    imgCover->setAlignment(Qt::AlignCenter);
    lCoverFile = new QLabel(this);
    lCoverFile->setObjectName(QStringLiteral("lCoverFile"));
    lCoverFile->setWordWrap(true);
    bCover = new QPushButton(QStringLiteral("C&over..."), this);
    bCover->setObjectName(QStringLiteral("bCover"));
    bCover->setAutoDefault(false);
    bNoCover = new QPushButton(QStringLiteral("&No cover"), this);
    bNoCover->setObjectName(QStringLiteral("bNoCover"));
    bNoCover->setAutoDefault(false);
    grid->addWidget(imgCover, 0, 0, 3, 1);
    grid->addWidget(lCoverFile, 0, 1, 1, 2);
    grid->addWidget(bCover, 1, 1);
    grid->addWidget(bNoCover, 1, 2);
    grid->setColumnStretch(3, 1);
    connect(bCover, &QPushButton::clicked, this, &TCoverChoice::bCoverClick);
    connect(bNoCover, &QPushButton::clicked, this, &TCoverChoice::bNoCoverClick);
    ShowThumbnail();
}

void TCoverChoice::SetFile(const std::string& file) {
    file_ = file;
    ShowThumbnail();
}

void TCoverChoice::bCoverClick() {
    platform::FileDialogRequest request;
    request.title = QStringLiteral("Cover");
    request.filter = QStringLiteral("Images|*.jpg;*.jpeg;*.png;*.JPG;*.JPEG;*.PNG|All files|*");
    request.initialDir = initialDir_;
    const QStringList files = platform::TheDialogs().OpenFiles(this, request);
    if (files.isEmpty()) {
        return;
    }
    const QString path = files.front();
    initialDir_ = QFileInfo(path).absolutePath();
    QImageReader reader(path);
    if (!reader.canRead()) {
        platform::ErrorBox(this, path + QStringLiteral(" is not an image the program can read."));
        return;
    }
    SetFile(path.toStdString());
}

void TCoverChoice::bNoCoverClick() {
    SetFile({});
}

void TCoverChoice::ShowThumbnail() {
    const QString path = QString::fromStdString(file_);
    bNoCover->setEnabled(!file_.empty());
    imgCover->setPixmap({});
    if (file_.empty()) {
        imgCover->setText(QStringLiteral("No cover"));
        lCoverFile->clear();
        return;
    }
    lCoverFile->setText(QFileInfo(path).fileName());
    lCoverFile->setToolTip(path);
    // Scaled while reading: a large photo is never held at full size for a thumbnail.
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid()) {
        reader.setScaledSize(size.scaled(ThumbnailSide, ThumbnailSide, Qt::KeepAspectRatio));
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        imgCover->setText(QStringLiteral("Missing"));
        return;
    }
    imgCover->setPixmap(QPixmap::fromImage(image));
}

} // namespace settings
