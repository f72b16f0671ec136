#include "cd/VerifyFilesForm.h"

#include "cd/DiscToc.h"
#include "platform/Dialogs.h"
#include "settings/Global.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <fstream>
#include <sstream>

namespace cd {

namespace {

enum Column { ColTrack, ColFile, ColResult, ColumnCount };

VerifyOptions OptionsFromSettings() {
    const settings::TSecureRip& s = settings::Settings.SecureRip;
    VerifyOptions options;
    options.accurateRipServer = s.AccurateRipServer;
    options.ctdbServer = s.CTDBServer;
    options.lookup.proxy = settings::Settings.QueryCDDB.Proxy();
    return options;
}

std::optional<std::string> ReadText(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

VerifyFilesForm::VerifyFilesForm(QWidget* parent, int cdHandle, const QString& folder)
    : QDialog(parent), cdHandle_(cdHandle) {
    setWindowTitle("Verify Files");
    setModal(true);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("&Folder:"), 0, 0);
    folderEdit_ = new QLineEdit(folder);
    folderEdit_->setObjectName("FolderEdit");
    grid->addWidget(folderEdit_, 0, 1);
    auto* folderBrowse = new QPushButton("B&rowse...");
    folderBrowse->setObjectName("FolderBrowse");
    grid->addWidget(folderBrowse, 0, 2);
    grid->addWidget(new QLabel("&Layout from:"), 1, 0);
    sourceBox_ = new QComboBox;
    sourceBox_->setObjectName("SourceBox");
    sourceBox_->addItems({"The disc in the drive", "A cue sheet or rip log"});
    grid->addWidget(sourceBox_, 1, 1);
    tocEdit_ = new QLineEdit;
    tocEdit_->setObjectName("TocEdit");
    grid->addWidget(tocEdit_, 2, 1);
    tocBrowse_ = new QPushButton("Br&owse...");
    tocBrowse_->setObjectName("TocBrowse");
    grid->addWidget(tocBrowse_, 2, 2);
    static_cast<QLabel*>(grid->itemAtPosition(0, 0)->widget())->setBuddy(folderEdit_);
    static_cast<QLabel*>(grid->itemAtPosition(1, 0)->widget())->setBuddy(sourceBox_);

    progress_ = new QProgressBar;
    progress_->setObjectName("Progress");
    progress_->setRange(0, 100);
    progress_->setValue(0);
    table_ = new QTableWidget(0, ColumnCount);
    table_->setObjectName("ResultTable");
    table_->setHorizontalHeaderLabels({"Track", "File", "Result"});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setColumnWidth(ColTrack, 50);
    table_->setColumnWidth(ColFile, 240);
    ctdbLabel_ = new QLabel;
    ctdbLabel_->setObjectName("CtdbLabel");
    statusLabel_ = new QLabel;
    statusLabel_->setObjectName("StatusLabel");
    statusLabel_->setWordWrap(true);

    verifyButton_ = new QPushButton("&Verify");
    verifyButton_->setObjectName("VerifyButton");
    verifyButton_->setDefault(true);
    stopButton_ = new QPushButton("&Stop");
    stopButton_->setObjectName("StopButton");
    closeButton_ = new QPushButton("&Close");
    closeButton_->setObjectName("CloseButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(verifyButton_);
    buttons->addWidget(stopButton_);
    buttons->addWidget(closeButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(progress_);
    layout->addWidget(table_, 1);
    layout->addWidget(ctdbLabel_);
    layout->addWidget(statusLabel_);
    layout->addLayout(buttons);
    resize(620, 420);

    connect(folderBrowse, &QPushButton::clicked, this, [this] { BrowseFolderClick(); });
    connect(tocBrowse_, &QPushButton::clicked, this, [this] { BrowseTocClick(); });
    connect(verifyButton_, &QPushButton::clicked, this, [this] { VerifyClick(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { StopClick(); });
    connect(closeButton_, &QPushButton::clicked, this, [this] { reject(); });
    connect(sourceBox_, &QComboBox::currentIndexChanged, this, [this] { SourceChanged(); });
    sourceBox_->setCurrentIndex(cdHandle_ > 0 ? FromDrive : FromFile);
    SourceChanged();
    UpdateButtons();
}

VerifyFilesForm::~VerifyFilesForm() {
    EndWorker();
}

void VerifyFilesForm::EndWorker() {
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool VerifyFilesForm::event(QEvent* e) {
    return DispatchMessageEvent(e) || QDialog::event(e);
}

void VerifyFilesForm::reject() {
    EndWorker();
    QDialog::reject();
}

void VerifyFilesForm::SourceChanged() {
    const bool file = sourceBox_->currentIndex() == FromFile;
    tocEdit_->setEnabled(file);
    tocBrowse_->setEnabled(file);
}

void VerifyFilesForm::BrowseFolderClick() {
    const QString folder = platform::TheDialogs().BrowseFolder(this, "Folder of the ripped files",
                                                               folderEdit_->text());
    if (!folder.isEmpty()) {
        folderEdit_->setText(folder);
    }
}

void VerifyFilesForm::BrowseTocClick() {
    platform::FileDialogRequest request;
    request.title = "Cue sheet or rip log";
    request.filter = "Cue sheets and rip logs|*.cue *.log|All files|*";
    request.initialDir = folderEdit_->text();
    const QStringList chosen = platform::TheDialogs().OpenFiles(this, request);
    if (!chosen.isEmpty()) {
        tocEdit_->setText(chosen.front());
        sourceBox_->setCurrentIndex(FromFile);
    }
}

std::optional<RipDisc> VerifyFilesForm::ChosenDisc() {
    if (sourceBox_->currentIndex() == FromDrive) {
        auto disc = cdHandle_ > 0 ? ReadDiscOf(cdHandle_) : std::nullopt;
        if (!disc) {
            statusLabel_->setText("The disc in the drive cannot be read.");
        }
        return disc;
    }
    const QString path = tocEdit_->text();
    if (path.endsWith(".cue", Qt::CaseInsensitive)) {
        std::string error;
        auto disc = ReadCueSheetDisc(path.toStdString(), error);
        if (!disc) {
            statusLabel_->setText(
                QString("The cue sheet cannot be used: %1.").arg(QString::fromStdString(error)));
        }
        return disc;
    }
    const auto text = ReadText(path);
    auto disc = text ? ReadRipLogDisc(*text) : std::nullopt;
    if (!disc) {
        statusLabel_->setText(path.isEmpty() ? QString("Choose a cue sheet or a rip log.")
                                             : "\"" + path + "\" is not a rip log or cue sheet.");
    }
    return disc;
}

void VerifyFilesForm::VerifyClick() {
    if (Running()) {
        return;
    }
    statusLabel_->clear();
    ctdbLabel_->clear();
    const QString folder = folderEdit_->text();
    if (!QFileInfo(folder).isDir()) {
        statusLabel_->setText("\"" + folder + "\" is not a folder.");
        return;
    }
    const std::optional<RipDisc> disc = ChosenDisc();
    if (!disc) {
        return;
    }
    table_->setRowCount(0);
    progress_->setValue(0);
    stop_ = false;
    statusLabel_->setText("Checking the files...");
    worker_ = std::thread(
        [this, verifier = DiscVerifier(*disc, folder.toStdString(), OptionsFromSettings())] {
            VerifyReport report = verifier.Run(stop_, [this](int percent) {
                platform::PostMessage(this, WM_VERIFY_PROGRESS, percent, 0);
            });
            {
                std::lock_guard lock(mutex_);
                finished_ = std::move(report);
            }
            platform::PostMessage(this, WM_VERIFY_DONE, 0, 0);
        });
    UpdateButtons();
}

void VerifyFilesForm::StopClick() {
    stop_ = true;
}

std::intptr_t VerifyFilesForm::HandleMessage(unsigned msg, std::intptr_t wParam, std::intptr_t) {
    if (msg == WM_VERIFY_PROGRESS) {
        progress_->setValue(static_cast<int>(wParam));
    } else if (msg == WM_VERIFY_DONE) {
        if (worker_.joinable()) {
            worker_.join();
        }
        std::optional<VerifyReport> report;
        {
            std::lock_guard lock(mutex_);
            report.swap(finished_);
        }
        if (report) {
            ShowReport(*report);
        }
        UpdateButtons();
    }
    return 0;
}

void VerifyFilesForm::ShowReport(const VerifyReport& report) {
    table_->setRowCount(static_cast<int>(report.tracks.size()));
    int row = 0;
    for (const VerifyTrack& t : report.tracks) {
        table_->setItem(row, ColTrack, new QTableWidgetItem(QString::number(t.number)));
        table_->setItem(row, ColFile, new QTableWidgetItem(QString::fromStdString(t.file)));
        table_->setItem(row, ColResult,
                        new QTableWidgetItem(QString::fromStdString(VerifyStatusText(t))));
        ++row;
    }
    ctdbLabel_->setText("CTDB (whole disc): " +
                        QString::fromStdString(CtdbVerdictText(report.ctdb)));
    if (!report.stopped) {
        progress_->setValue(100);
    }
    statusLabel_->setText(report.stopped ? "Stopped." : "Done.");
    shown_ = report;
}

void VerifyFilesForm::UpdateButtons() {
    verifyButton_->setEnabled(!Running());
    stopButton_->setEnabled(Running());
}

} // namespace cd
