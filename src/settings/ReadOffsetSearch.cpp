#include "settings/ReadOffsetSearch.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace settings {

namespace {

DetectedOffset Failure(std::string why) {
    DetectedOffset result;
    result.kind = DetectedOffset::Kind::Failed;
    result.error = std::move(why);
    return result;
}

} // namespace

DetectedOffset SearchFirstDrive(const ReadOffsetFinder& finder, const std::string& server,
                                int maxOffset, const cd::LookupOptions& lookup,
                                const std::atomic<bool>* cancel) {
    cd::TCDList list{};
    list.max = 1;
    if (cd::GetCDList(list) != 1 || list.num == 0) {
        return Failure("no CD drive was found");
    }
    const cd::TCDEntry& entry = list.cd[0];
    const cd::TCDHandleRequest request{12, 1, entry.ha, entry.tgt, entry.lun, 0, 0, 0, 0};
    const cd::HCDROM handle = cd::GetCDHandle(request);
    if (handle <= 0) {
        return Failure("the drive could not be opened (is a disc in it?)");
    }
    DetectedOffset result = finder(handle, server, maxOffset, lookup, cancel);
    cd::CloseCDHandle(handle);
    return result;
}

TReadOffsetSearch::TReadOffsetSearch(QWidget* owner, ReadOffsetFinder finder, std::string server,
                                     cd::LookupOptions lookup, int maxOffset)
    : QDialog(owner), finder_(std::move(finder)), server_(std::move(server)),
      lookup_(std::move(lookup)), maxOffset_(maxOffset) {
    setObjectName(QStringLiteral("frmReadOffsetSearch"));
    setWindowTitle(QStringLiteral("Detect read offset"));
    // No system-menu buttons: the search ends through Cancel only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);
    lStatus = new QLabel(QStringLiteral("Reading the disc in the first drive and asking the\n"
                                        "AccurateRip database for its checksums..."),
                         this);
    lStatus->setObjectName(QStringLiteral("lStatus"));
    lStatus->setAlignment(Qt::AlignCenter);
    bCancel = new QPushButton(QStringLiteral("Cancel"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    layout->addWidget(lStatus);
    layout->addWidget(bCancel, 0, Qt::AlignHCenter);
    setMinimumWidth(300);
    connect(bCancel, &QPushButton::clicked, this, &TReadOffsetSearch::reject);
}

TReadOffsetSearch::~TReadOffsetSearch() {
    cancel_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

void TReadOffsetSearch::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!worker_.joinable()) {
        Start();
    }
}

void TReadOffsetSearch::Start() {
    worker_ = std::thread([this] {
        const DetectedOffset result =
            SearchFirstDrive(finder_, server_, maxOffset_, lookup_, &cancel_);
        // A posted call: it runs on the GUI thread, or is dropped with the box if the
        // destructor (which waits for this thread) comes first.
        QMetaObject::invokeMethod(
            this, [this, result] { Finished(result); }, Qt::QueuedConnection);
    });
}

void TReadOffsetSearch::Finished(const DetectedOffset& result) {
    if (cancel_) {
        return;
    }
    result_ = result;
    accept();
}

void TReadOffsetSearch::reject() {
    cancel_ = true;
    QDialog::reject();
}

} // namespace settings
