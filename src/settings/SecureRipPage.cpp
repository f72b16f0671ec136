#include "settings/SecureRipPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Dialogs.h"

namespace settings {

namespace {

ReadOffsetFinder& Finder() {
    static ReadOffsetFinder finder;
    return finder;
}

// Samples either way the search covers: a few frames, well beyond what drives need.
constexpr int DefaultOffsetSearch = 5 * 588;

QString Signed(int value) {
    return value > 0 ? QStringLiteral("+%1").arg(value) : QString::number(value);
}

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
    bDetectOffset = new QPushButton(QStringLiteral("Detect..."), this);
    bDetectOffset->setObjectName(QStringLiteral("bDetectOffset"));
    bDetectOffset->setToolTip(
        QStringLiteral("Find the offset from the AccurateRip database with the disc in the "
                       "first drive"));
    auto* offsetRow = new QHBoxLayout;
    offsetRow->addWidget(seReadOffset, 1);
    offsetRow->addWidget(bDetectOffset);
    form->addRow(QStringLiteral("Drive read offset:"), offsetRow);
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
    ckFastFirst = NamedCheck(this, "ckFastFirst",
                             QStringLiteral("Fast first (read once; re-read securely only the "
                                            "tracks the databases do not verify)"));
    page->addWidget(ckFastFirst);
    page->addStretch();
    connect(ckSecureRip, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    connect(ckAccurateRip, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    connect(ckCTDB, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    connect(bDetectOffset, &QPushButton::clicked, this, [this] { bDetectOffsetClick(); });
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
    ckFastFirst->setChecked(options.FastFirst);
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
    options.FastFirst = ckFastFirst->isChecked();
}

void TSecureRipPage::UpdateEnabled() {
    const bool on = ckSecureRip->isChecked();
    seReadOffset->setEnabled(on);
    bDetectOffset->setEnabled(on && Finder() != nullptr);
    ckTestAndCopy->setEnabled(on);
    ckAccurateRip->setEnabled(on);
    eAccurateRipServer->setEnabled(on && ckAccurateRip->isChecked());
    ckCTDB->setEnabled(on);
    eCTDBServer->setEnabled(on && ckCTDB->isChecked());
    ckFastFirst->setEnabled(on && (ckAccurateRip->isChecked() || ckCTDB->isChecked()));
}

ReadOffsetFinder TSecureRipPage::InstallFinder(ReadOffsetFinder finder) {
    std::swap(Finder(), finder);
    return finder;
}

void TSecureRipPage::bDetectOffsetClick() {
    if (!Finder()) {
        return;
    }
    std::string server = eAccurateRipServer->text().trimmed().toStdString();
    if (server.empty()) {
        server = TSecureRip{}.AccurateRipServer;
    }
    cd::LookupOptions lookup;
    lookup.proxy = Settings.QueryCDDB.Proxy();
    const int maxOffset = std::min(DefaultOffsetSearch, TSecureRip::MaxReadOffset);
    TReadOffsetSearch search(this, Finder(), server, lookup, maxOffset);
    if (platform::TheDialogs().ExecModal(&search) == QDialog::Accepted) {
        ShowOutcome(search.Result(), maxOffset);
    }
}

void TSecureRipPage::ShowOutcome(const DetectedOffset& result, int maxOffset) {
    using Kind = DetectedOffset::Kind;
    switch (result.kind) {
    case Kind::Found:
        if (platform::YesNoBox(this, QStringLiteral("Read offset %1 found (confidence %2, "
                                                    "track %3). Use it?")
                                         .arg(Signed(result.offset))
                                         .arg(result.confidence)
                                         .arg(result.track))) {
            seReadOffset->setValue(result.offset);
        }
        break;
    case Kind::NotInDatabase:
        platform::InfoBox(this, QStringLiteral("The disc in the first drive is not in the "
                                               "AccurateRip database.\nInsert a better-known "
                                               "disc (a widely sold album) and try again."));
        break;
    case Kind::NoMatch:
        platform::InfoBox(this, QStringLiteral("The AccurateRip database knows this disc, but no "
                                               "read offset within %1 samples matches it.\n"
                                               "Try a better-known disc (one with more "
                                               "submissions).")
                                    .arg(QChar(0x00B1) + QString::number(maxOffset)));
        break;
    case Kind::Failed:
        platform::ErrorBox(this, QStringLiteral("The read offset could not be found: %1.")
                                     .arg(QString::fromStdString(result.error)));
        break;
    }
}

} // namespace settings
