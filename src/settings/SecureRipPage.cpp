#include "settings/SecureRipPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

namespace settings {

namespace {

QCheckBox* NamedCheck(QWidget* parent, const char* name, const QString& caption) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

} // namespace

TSecureRipPage::TSecureRipPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet7"));
    auto* page = new QVBoxLayout(this);
    ckSecureRip = NamedCheck(this, "ckSecureRip",
                             QStringLiteral("Secure extraction (verified reads, rip log)"));
    page->addWidget(ckSecureRip);
    auto* form = new QFormLayout;
    seReadOffset = new QSpinBox(this);
    seReadOffset->setObjectName(QStringLiteral("seReadOffset"));
    seReadOffset->setRange(-TSecureRip::MaxReadOffset, TSecureRip::MaxReadOffset);
    seReadOffset->setSuffix(QStringLiteral(" samples"));
    form->addRow(QStringLiteral("Drive read offset:"), seReadOffset);
    page->addLayout(form);
    ckTestAndCopy =
        NamedCheck(this, "ckTestAndCopy", QStringLiteral("Test and copy (read every track twice)"));
    page->addWidget(ckTestAndCopy);
    ckAccurateRip =
        NamedCheck(this, "ckAccurateRip", QStringLiteral("Verify tracks with AccurateRip"));
    page->addWidget(ckAccurateRip);
    auto* server = new QFormLayout;
    eAccurateRipServer = new QLineEdit(this);
    eAccurateRipServer->setObjectName(QStringLiteral("eAccurateRipServer"));
    eAccurateRipServer->setMaxLength(2047); // what an INI value holds
    server->addRow(QStringLiteral("AccurateRip server:"), eAccurateRipServer);
    page->addLayout(server);
    ckCTDB = NamedCheck(this, "ckCTDB",
                        QStringLiteral("Verify the disc with the CUETools database (CTDB)"));
    page->addWidget(ckCTDB);
    auto* ctdbServer = new QFormLayout;
    eCTDBServer = new QLineEdit(this);
    eCTDBServer->setObjectName(QStringLiteral("eCTDBServer"));
    eCTDBServer->setMaxLength(2047);
    ctdbServer->addRow(QStringLiteral("CTDB server:"), eCTDBServer);
    page->addLayout(ctdbServer);
    page->addStretch();
    connect(ckSecureRip, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    connect(ckAccurateRip, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    connect(ckCTDB, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    UpdateEnabled();
}

void TSecureRipPage::Load(const TSecureRip& options) {
    ckSecureRip->setChecked(options.Enabled);
    seReadOffset->setValue(options.ReadOffset);
    ckTestAndCopy->setChecked(options.TestAndCopy);
    ckAccurateRip->setChecked(options.AccurateRip);
    eAccurateRipServer->setText(QString::fromStdString(options.AccurateRipServer));
    ckCTDB->setChecked(options.CTDB);
    eCTDBServer->setText(QString::fromStdString(options.CTDBServer));
    UpdateEnabled();
}

void TSecureRipPage::Store(TSecureRip& options) const {
    options.Enabled = ckSecureRip->isChecked();
    options.ReadOffset = seReadOffset->value();
    options.TestAndCopy = ckTestAndCopy->isChecked();
    options.AccurateRip = ckAccurateRip->isChecked();
    options.AccurateRipServer = eAccurateRipServer->text().trimmed().toStdString();
    options.CTDB = ckCTDB->isChecked();
    options.CTDBServer = eCTDBServer->text().trimmed().toStdString();
}

void TSecureRipPage::UpdateEnabled() {
    const bool on = ckSecureRip->isChecked();
    seReadOffset->setEnabled(on);
    ckTestAndCopy->setEnabled(on);
    ckAccurateRip->setEnabled(on);
    eAccurateRipServer->setEnabled(on && ckAccurateRip->isChecked());
    ckCTDB->setEnabled(on);
    eCTDBServer->setEnabled(on && ckCTDB->isChecked());
}

} // namespace settings
