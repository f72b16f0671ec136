#pragma once
// The panel the job window shows in place of its progress when a secure rip has ended: one
// row per track with how it ended, the disc's CTDB verdict under them, and a Close button.
// It only shows the rows it is given; the window refreshes them while a database answer is
// still on its way.
#include <QWidget>

#include <vector>

#include "cd/RipSummary.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace jobs {

class TRipSummaryPanel : public QWidget {
    Q_OBJECT
public:
    explicit TRipSummaryPanel(QWidget* parent);

    void SetRows(const std::vector<cd::RipSummaryRow>& rows, const std::string& disc);
    QPushButton* CloseButton() const { return close_; }

private:
    QTreeWidget* table_ = nullptr;
    QLabel* disc_ = nullptr;
    QPushButton* close_ = nullptr;
};

} // namespace jobs
