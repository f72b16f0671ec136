#include "jobs/RipSummaryPanel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace jobs {

TRipSummaryPanel::TRipSummaryPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("RipSummary"));
    table_ = new QTreeWidget(this);
    table_->setObjectName(QStringLiteral("SummaryTable"));
    table_->setRootIsDecorated(false);
    table_->setHeaderLabels(
        {QStringLiteral("Track"), QStringLiteral("File"), QStringLiteral("Result")});
    table_->header()->setStretchLastSection(true);
    disc_ = new QLabel(this);
    disc_->setObjectName(QStringLiteral("SummaryDisc"));
    disc_->setWordWrap(true);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->setObjectName(QStringLiteral("SummaryClose"));
    close_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(disc_);
    layout->addLayout(buttons);
}

void TRipSummaryPanel::SetRows(const std::vector<cd::RipSummaryRow>& rows,
                               const std::string& disc) {
    table_->clear();
    for (const cd::RipSummaryRow& row : rows) {
        auto* item = new QTreeWidgetItem(table_);
        item->setText(0, QString::number(row.number));
        item->setText(1, QString::fromStdString(row.name));
        item->setText(2, QString::fromStdString(row.result));
    }
    for (int c = 0; c < 2; ++c) {
        table_->resizeColumnToContents(c);
    }
    disc_->setText(QString::fromStdString(disc));
}

} // namespace jobs
