#include "tags/StopQuery.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "cd/akrip32.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"
#include "tags/QueryCddbThread.h"

namespace tags {

TfrmStopQuery::TfrmStopQuery(QWidget* owner, std::uint8_t firstTrack, std::uint8_t lastTrack,
                             int cdHandle)
    : QDialog(owner), FirstTrack(firstTrack), LastTrack(lastTrack), CDHandle(cdHandle) {
    setObjectName("frmStopQuery");
    setWindowTitle("Query CDDB...");
    // No system-menu buttons: the lookup ends through Stop only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);
    lHint = new QLabel("Query CDDB...", this);
    lHint->setObjectName("lHint");
    lHint->setAlignment(Qt::AlignCenter);
    Panel1 = new QLabel("No match found,perhaps:\n1.No information in CDDB server\n"
                        "2.error CDDB options\n3.check the network",
                        this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setMargin(6);
    Panel1->hide();
    bStop = new QPushButton("Stop", this);
    bStop->setObjectName("bStop");
    layout->addWidget(lHint);
    layout->addWidget(Panel1);
    layout->addWidget(bStop, 0, Qt::AlignHCenter);
    setMinimumWidth(260);
    connect(bStop, &QPushButton::clicked, this, &TfrmStopQuery::bStopClick);
}

TfrmStopQuery::~TfrmStopQuery() {
    if (lookup_) {
        lookup_->Abandon();
    }
}

bool TfrmStopQuery::NoMatchShown() const {
    return !Panel1->isHidden();
}

bool TfrmStopQuery::event(QEvent* e) {
    return DispatchMessageEvent(e) || QDialog::event(e);
}

void TfrmStopQuery::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!lookup_) {
        FormShow();
    }
}

void TfrmStopQuery::FormShow() {
    lookup_ = std::make_shared<TCddbLookupState>(this);
    TQueryCDDBThread::Start(FirstTrack, LastTrack, CDHandle, settings::Settings.QueryCDDB, lookup_);
}

std::intptr_t TfrmStopQuery::HandleMessage(unsigned msg, std::intptr_t wParam,
                                           std::intptr_t lParam) {
    if (msg != settings::WM_CDDB || !lookup_ || lookup_->Abandoned()) {
        return 0;
    }
    if (wParam == CddbNoMatch) {
        if (lParam == cd::ALERR_CDDB_NETWORK) {
            // Not "no match": nobody answered, and the user should know that.
            Panel1->setText("The CDDB server could not be reached.\n"
                            "Check the server name, the proxy and the network.");
        }
        lHint->hide();
        Panel1->show();
        bStop->setText("Close");
        adjustSize();
    } else if (wParam == CddbFinished) {
        {
            std::lock_guard lock(lookup_->mutex);
            result_ = std::move(lookup_->result);
        }
        done(ModalYes);
    }
    return 0;
}

void TfrmStopQuery::bStopClick() {
    // A running lookup is abandoned, not killed: its transfer is cancelled and it ends
    // by itself; after it has ended this only closes the window.
    if (lookup_) {
        lookup_->Abandon();
    }
    done(ModalCancel);
}

void TfrmStopQuery::reject() {
    bStopClick();
}

} // namespace tags
