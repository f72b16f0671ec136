#include "app/About.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadialGradient>
#include <QVBoxLayout>

#include "platform/Shell.h"

namespace app {

const char* const TAboutBox::kLinks[2] = {"https://lame.sourceforge.io/",
                                          "https://xiph.org/vorbis/"};

namespace {
// A compact disc seen from above: a silver disc with a rainbow sheen and the hole.
QPixmap DiscPicture(int size) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(size / 2.0, size / 2.0);
    const qreal radius = size / 2.0 - 2;
    QConicalGradient sheen(centre, 30);
    sheen.setColorAt(0.0, QColor(214, 223, 247));
    sheen.setColorAt(0.15, QColor(255, 236, 200));
    sheen.setColorAt(0.3, QColor(200, 240, 220));
    sheen.setColorAt(0.5, QColor(190, 200, 250));
    sheen.setColorAt(0.65, QColor(250, 210, 240));
    sheen.setColorAt(0.85, QColor(230, 230, 255));
    sheen.setColorAt(1.0, QColor(214, 223, 247));
    p.setPen(QPen(QColor(90, 100, 140), 1.5));
    p.setBrush(sheen);
    p.drawEllipse(centre, radius, radius);
    p.setBrush(QColor(239, 239, 255));
    p.drawEllipse(centre, radius * 0.32, radius * 0.32);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, radius * 0.12, radius * 0.12);
    return picture;
}
} // namespace

TAboutBox::TAboutBox(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("ProgramIcon"));
    picture->setPixmap(DiscPicture(72));
    top->addWidget(picture, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    auto* product = new QLabel(QStringLiteral("Vellorine"), this);
    product->setObjectName(QStringLiteral("ProductName"));
    QFont big = product->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    product->setFont(big);
    texts->addWidget(product);
    auto* version = new QLabel(QStringLiteral("Version: 2.5   Bulid 20081009"), this);
    version->setObjectName(QStringLiteral("Version"));
    texts->addWidget(version);
    texts->addSpacing(8);
    Link1 = AddLink(QStringLiteral("MP3 encoding by LAME"), kLinks[0]);
    Link2 = AddLink(QStringLiteral("OGG encoding by Ogg Vorbis"), kLinks[1]);
    texts->addWidget(Link1, 0, Qt::AlignLeft);
    texts->addWidget(Link2, 0, Qt::AlignLeft);
    top->addLayout(texts);
    layout->addLayout(top);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(320, 0)));
}

QPushButton* TAboutBox::AddLink(const QString& caption, const char* url) {
    auto* link = new QPushButton(caption, this);
    link->setFlat(true);
    link->setAutoDefault(false);
    link->setCursor(Qt::PointingHandCursor);
    link->setToolTip(QLatin1String(url));
    link->setStyleSheet(
        QStringLiteral("QPushButton { color: #1a3fb0; text-decoration: underline; border: none; "
                       "padding: 0; text-align: left; }"));
    connect(link, &QPushButton::clicked, this,
            [url] { platform::TheShell().Open(QLatin1String(url)); });
    return link;
}

} // namespace app
