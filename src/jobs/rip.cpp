#include "jobs/rip.h"

#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <filesystem>

#include "cd/HiddenTrack.h"

#include "cd/RipSession.h"
#include "cd/RipSummary.h"
#include "jobs/PhaseCaption.h"
#include "jobs/RipSummaryPanel.h"
#include "platform/Dialogs.h"

namespace jobs {

namespace {

using Clock = std::chrono::steady_clock;

// Progress rows of a parallel job, under the designed window.
constexpr int kDesignedHeight = 117;
constexpr int kRowHeight = 22;
// The summary of a secure rip, in place of the progress.
constexpr int kSummaryWidth = 420;
constexpr int kSummaryHeight = 260;
constexpr auto kSummaryRefresh = std::chrono::milliseconds(250);

const QString kCaption = QStringLiteral("Vellorine");
constexpr auto kDisplayInterval = std::chrono::milliseconds(40);

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::unique_ptr<TJobPlan> MakePlan(const QStringList& items, int jobKind, int cdHandle) {
    std::vector<std::string> list;
    for (const QString& item : items) {
        list.push_back(item.toStdString());
    }
    TJobSettings settings = SnapshotSettings();
    if (jobKind == jkExtract) {
        list = WithHiddenTrack(std::move(list), settings,
                               [cdHandle] { return cd::HiddenTrackFrames(cdHandle) > 0; });
    }
    return std::make_unique<TJobPlan>(static_cast<TJobKind>(jobKind), std::move(list),
                                      std::move(settings));
}

} // namespace

// ---- creation -------------------------------------------------------------------------

TRipForm::TRipForm(QWidget* owner, const QStringList& items, int cdHandle, int jobKind)
    : QDialog(owner) {
    setObjectName(QStringLiteral("RipForm"));
    TJobObserver& observer = *this;
    runner_ = std::make_unique<TJobRunner>(MakePlan(items, jobKind, cdHandle), cdHandle, observer);
    CreateLayout();
    Label1->clear();
    Label2->clear();
    FlatGauge1->setTextVisible(false);
    if (owner != nullptr) {
        const QWidget* main = owner->window();
        move(main->x() + (main->width() - width()) / 2,
             main->y() + (main->height() - height()) / 2);
    }
    runner_->Start();
}

TRipForm::~TRipForm() {
    runner_.reset();
}

void TRipForm::CreateLayout() {
    setFont(QFont(QStringLiteral("Verdana"), 9));
    setFixedSize(273, kDesignedHeight);
    GroupBox1 = new QGroupBox(QStringLiteral("Extracting"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 2, 257, 78);
    FlatGauge1 = new QProgressBar(GroupBox1);
    FlatGauge1->setObjectName(QStringLiteral("FlatGauge1"));
    FlatGauge1->setRange(0, 100);
    FlatGauge1->setValue(0);
    FlatGauge1->setGeometry(10, 20, 237, 16);
    Label3 = new QLabel(QStringLiteral("Initializing..."), GroupBox1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setGeometry(10, 20, 237, 16);
    Label10 = new QLabel(QStringLiteral("Time elapsed:"), GroupBox1);
    Label10->setGeometry(10, 40, 110, 16);
    Label1 = new QLabel(GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(130, 40, 110, 16);
    Label20 = new QLabel(QStringLiteral("Time estimated:"), GroupBox1);
    Label20->setGeometry(10, 56, 110, 16);
    Label2 = new QLabel(GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(130, 56, 110, 16);
    Image1 = new QLabel(this);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_DriveCDIcon).pixmap(24, 24));
    Image1->setGeometry(16, 86, 24, 24);
    btStop = new QPushButton(QStringLiteral("Stop"), this);
    btStop->setObjectName(QStringLiteral("btStop"));
    btStop->setGeometry(186, 86, 75, 25);
    btStop->setAutoDefault(false);
    connect(btStop, &QPushButton::clicked, this, &TRipForm::btStopClick);
    displayTimer_ = new QTimer(this);
    displayTimer_->setSingleShot(true);
    displayTimer_->setInterval(kDisplayInterval);
    connect(displayTimer_, &QTimer::timeout, this, &TRipForm::ShowProgress);
}

// ---- what the runner tells --------------------------------------------------------------

void TRipForm::PhaseChanged(const std::string& phase, int item) {
    const TJobPlan& plan = runner_->Plan();
    setWindowTitle(
        PhaseCaption(Q(phase), item, plan.ItemCount(), Q(plan.CaptionName(item)), width()));
}

void TRipForm::StageChanged(const std::string& stage) {
    GroupBox1->setTitle(Q(stage));
}

void TRipForm::ExtractionStarting(int) {
    Label3->setText(QStringLiteral("Initializing..."));
    Label3->show();
}

void TRipForm::Progressed(std::int32_t percent, const std::string& elapsed,
                          const std::string& estimated) {
    shownElapsed_ = Q(elapsed);
    shownEstimated_ = Q(estimated);
    shownCode_ = percent;
    if (Clock::now() - lastDisplay_ >= kDisplayInterval) {
        ShowProgress();
    } else if (!displayTimer_->isActive()) {
        displayTimer_->start();
    }
}

void TRipForm::ShowProgress() {
    displayTimer_->stop();
    lastDisplay_ = Clock::now();
    Label1->setText(shownElapsed_);
    Label2->setText(shownEstimated_);
    if (shownCode_ > 0) {
        Label3->hide();
        FlatGauge1->setTextVisible(true);
        FlatGauge1->setValue(shownCode_);
    }
}

void TRipForm::WmaStarting(bool clearEstimate) {
    displayTimer_->stop(); // the last step's progress is over
    FlatGauge1->setValue(0);
    if (clearEstimate) {
        Label2->clear();
    }
}

void TRipForm::WmaTicked(const TWmaClock& clock) {
    Label1->setText(Q(clock.Elapsed));
    if (!clock.Active) {
        return;
    }
    Label3->hide();
    if (clock.Estimated.empty()) {
        return;
    }
    Label2->setText(Q(clock.Estimated));
    FlatGauge1->setTextVisible(true);
    if (clock.Percent > FlatGauge1->value()) {
        FlatGauge1->setValue(clock.Percent);
    }
}

void TRipForm::Notify(const std::string& text, TNoticeKind kind) {
    const platform::MbIcon icon = kind == TNoticeKind::Error     ? platform::MbIcon::Error
                                  : kind == TNoticeKind::Warning ? platform::MbIcon::Warning
                                                                 : platform::MbIcon::None;
    platform::TheDialogs().MessageBox(this, Q(text), kCaption, icon, platform::MbButtons::Ok);
}

void TRipForm::Ended(bool completed) {
    displayTimer_->stop();
    if (completed && runner_->Session()) {
        ShowSummary(); // the user reads how each track ended, then closes the window
        return;
    }
    // Later, not now: this may run inside an encoder's sent hand-over, which must return
    // before the window goes.
    const int result = completed ? QDialog::Accepted : QDialog::Rejected;
    QTimer::singleShot(0, this, [this, result] { done(result); });
}

// ---- progress rows (parallel jobs) ----------------------------------------------------

void TRipForm::StepAdded(std::intptr_t step, int item) {
    TRow row;
    row.label = new QLabel(Q(runner_->Plan().CaptionName(item)), this);
    row.label->setObjectName(QStringLiteral("StepLabel"));
    row.gauge = new QProgressBar(this);
    row.gauge->setObjectName(QStringLiteral("StepGauge"));
    row.gauge->setRange(0, 100);
    row.gauge->setValue(0);
    row.label->show();
    row.gauge->show();
    rows_[step] = row;
    FitRows(); // the new row takes its place under the others
}

void TRipForm::StepProgressed(std::intptr_t step, int percent) {
    const auto found = rows_.find(step);
    if (found != rows_.end()) {
        found->second.gauge->setValue(percent);
    }
}

void TRipForm::StepRemoved(std::intptr_t step) {
    const auto found = rows_.find(step);
    if (found == rows_.end()) {
        return;
    }
    delete found->second.label;
    delete found->second.gauge;
    rows_.erase(found);
    FitRows();
}

void TRipForm::FitRows() {
    int row = 0;
    for (const auto& [id, shown] : rows_) {
        const int y = kDesignedHeight + row * kRowHeight;
        shown.label->setGeometry(16, y, 110, 16);
        shown.gauge->setGeometry(130, y, 135, 16);
        ++row;
    }
    setFixedSize(273, kDesignedHeight + row * kRowHeight + (row > 0 ? 4 : 0));
}

// ---- the end --------------------------------------------------------------------------

void TRipForm::ShowSummary() {
    GroupBox1->hide();
    Image1->hide();
    btStop->hide();
    summary_ = new TRipSummaryPanel(this);
    connect(summary_->CloseButton(), &QPushButton::clicked, this,
            [this] { done(QDialog::Accepted); });
    setFixedSize(kSummaryWidth, kSummaryHeight);
    summary_->setGeometry(0, 0, kSummaryWidth, kSummaryHeight);
    summary_->show();
    summary_->CloseButton()->setFocus();
    summaryTimer_ = new QTimer(this);
    summaryTimer_->setInterval(kSummaryRefresh);
    connect(summaryTimer_, &QTimer::timeout, this, &TRipForm::RefreshSummary);
    summaryTimer_->start();
    RefreshSummary();
}

void TRipForm::RefreshSummary() {
    const TJobPlan& plan = runner_->Plan();
    const std::shared_ptr<cd::RipSession>& session = runner_->Session();
    std::vector<cd::RipSummaryItem> items;
    for (int i = 0; i < plan.ItemCount(); ++i) {
        items.push_back({plan.Track(i), std::filesystem::path(plan.Output(i)).filename().string()});
    }
    const bool answered = session->WaitForLookup(std::chrono::milliseconds(0));
    summary_->SetRows(cd::SummarizeRip(items, session->Tracks()),
                      cd::DiscResultText(session->Ctdb()));
    if (answered) {
        summaryTimer_->stop();
    }
}

void TRipForm::btStopClick() {
    runner_->Stop();
    close();
}

void TRipForm::done(int result) {
    displayTimer_->stop();
    if (runner_) {
        runner_->Stop();
    }
    QDialog::done(result);
}

} // namespace jobs
