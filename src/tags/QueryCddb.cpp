#include "tags/QueryCddb.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/Dialogs.h"
#include "settings/Global.h"
#include "tags/QueryCddbThread.h"
#include "tags/StopQuery.h"

namespace tags {

namespace {
constexpr int TitleColumn = 1;
const char* const DefaultScript = "/~cddb/cddb.cgi";

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

const QStringList& TfrmQueryCDDB::ServerNames() {
    // gnudb carries on the freedb database and is the public server still answering; the
    // national mirrors of the original network have closed.
    static const QStringList names = {"gnudb.gnudb.org", "gnudb.org", "www.gnudb.org"};
    return names;
}

TfrmQueryCDDB::TfrmQueryCDDB(QWidget* owner, std::uint8_t firstTrack, std::uint8_t lastTrack,
                             int cdHandle, QTreeWidget* trackList)
    : QDialog(owner), FirstTrack(firstTrack), LastTrack(lastTrack), CDHandle(cdHandle),
      TrackList(trackList) {
    setObjectName("frmQueryCDDB");
    setWindowTitle("Query CDDB");

    auto* server = new QGroupBox("Server", this);
    auto* serverForm = new QFormLayout(server);
    cbServer = new QComboBox(server);
    cbServer->setObjectName("cbServer");
    cbServer->setEditable(true);
    cbServer->addItems(ServerNames());
    eScript = new QLineEdit(server);
    eScript->setObjectName("eScript");
    serverForm->addRow("Freedb Server:", cbServer);
    serverForm->addRow("Query Script:", eScript);

    auto* proxy = new QGroupBox("Proxy server", this);
    auto* proxyForm = new QFormLayout(proxy);
    cbProxy = new QCheckBox("Use a proxy server", proxy);
    cbProxy->setObjectName("cbProxy");
    eAddress = new QLineEdit(proxy);
    eAddress->setObjectName("eAddress");
    ePort = new QLineEdit(proxy);
    ePort->setObjectName("ePort");
    proxyForm->addRow(cbProxy);
    proxyForm->addRow("Address:", eAddress);
    proxyForm->addRow("Port:", ePort);

    bQuery = new QPushButton("Query", this);
    bQuery->setObjectName("bQuery");
    bQuery->setDefault(true);
    bClose = new QPushButton("Close", this);
    bClose->setObjectName("bClose");
    bDefault = new QPushButton("Default", this);
    bDefault->setObjectName("bDefault");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bDefault);
    buttons->addStretch();
    buttons->addWidget(bQuery);
    buttons->addWidget(bClose);

    // The public server asks clients for a real address in the hello.
    auto* identity = new QGroupBox("Identification", this);
    auto* identityForm = new QFormLayout(identity);
    eEmail = new QLineEdit(identity);
    eEmail->setObjectName("eEmail");
    eEmail->setPlaceholderText(QString::fromStdString(TQueryCDDBThread::UserEmail()));
    identityForm->addRow("E-mail:", eEmail);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(proxy);
    layout->addWidget(identity);
    layout->addLayout(buttons);
    setMinimumWidth(360);

    connect(cbProxy, &QCheckBox::clicked, this, &TfrmQueryCDDB::cbProxyClick);
    connect(bDefault, &QPushButton::clicked, this, &TfrmQueryCDDB::bDefaultClick);
    connect(bQuery, &QPushButton::clicked, this, &TfrmQueryCDDB::bQueryClick);
    connect(bClose, &QPushButton::clicked, this, &TfrmQueryCDDB::bCloseClick);
}

void TfrmQueryCDDB::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormShow();
}

void TfrmQueryCDDB::FormShow() {
    const settings::TQueryCDDB& q = settings::Settings.QueryCDDB;
    // Exact, case-sensitive; the list is a handful of names, so its index fits an int.
    const auto stored = static_cast<int>(ServerNames().indexOf(Text(q.Server)));
    cbServer->setCurrentIndex(stored < 0 ? 0 : stored);
    eScript->setText(Text(q.Script));
    cbProxy->setChecked(q.UseProxy);
    eAddress->setText(Text(q.ProxyAddress));
    ePort->setText(Text(q.Port));
    eEmail->setText(Text(settings::Settings.Metadata.CddbEmail));
    cbProxyClick();
}

void TfrmQueryCDDB::cbProxyClick() {
    eAddress->setEnabled(cbProxy->isChecked());
    ePort->setEnabled(cbProxy->isChecked());
}

void TfrmQueryCDDB::bDefaultClick() {
    cbServer->setCurrentIndex(0);
    eScript->setText(DefaultScript);
    cbProxy->setChecked(false);
    cbProxyClick();
}

void TfrmQueryCDDB::bQueryClick() {
    settings::TQueryCDDB& q = settings::Settings.QueryCDDB;
    q.Server = cbServer->currentText().trimmed().toStdString();
    q.Script = eScript->text().toStdString();
    q.UseProxy = cbProxy->isChecked();
    q.ProxyAddress = eAddress->text().toStdString();
    q.Port = ePort->text().toStdString();
    settings::Settings.Metadata.CddbEmail = eEmail->text().trimmed().toStdString();
    TfrmStopQuery stop(this, FirstTrack, LastTrack, CDHandle);
    if (platform::TheDialogs().ExecModal(&stop) == ModalYes) {
        ApplyResult(stop.Result(), TrackList);
        accept();
    }
}

void TfrmQueryCDDB::bCloseClick() {
    reject();
}

void TfrmQueryCDDB::ApplyResult(const TCddbRecord& result, QTreeWidget* trackList) {
    settings::TDiscInfo& disc = settings::DiscInfo;
    if (result.artist) {
        disc.Artist = *result.artist;
        disc.Album = result.album.value_or(*result.artist);
    }
    if (result.year) {
        disc.Year = *result.year;
    }
    if (result.genre) {
        disc.Genre = *result.genre;
    }
    if (!result.HasTitles() || trackList == nullptr) {
        return;
    }
    trackList->headerItem()->setTextAlignment(TitleColumn, Qt::AlignLeft | Qt::AlignVCenter);
    const int rows =
        std::min<int>(trackList->topLevelItemCount(), static_cast<int>(result.titles.size()));
    for (int k = 0; k < rows; ++k) {
        if (const auto& title = result.titles[static_cast<std::size_t>(k)]) {
            trackList->topLevelItem(k)->setText(TitleColumn, Text(*title));
        }
    }
}

} // namespace tags
