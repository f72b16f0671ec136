#include "tags/EditTrackName.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tags {

TfrmEditTrackName::TfrmEditTrackName(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmEditTrackName"));
    setWindowTitle(QStringLiteral("Rename Track Title"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Please enter the new track title"), this);
    auto* groupLayout = new QVBoxLayout(group);
    eName = new QLineEdit(group);
    eName->setObjectName(QStringLiteral("eName"));
    eName->installEventFilter(this);
    groupLayout->addWidget(eName);
    layout->addWidget(group);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    bOK = new QPushButton(QStringLiteral("&OK"), this);
    bOK->setObjectName(QStringLiteral("bOK"));
    bCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    // Enter is handled by the edit box itself; no button is the default.
    bOK->setAutoDefault(false);
    bCancel->setAutoDefault(false);
    buttons->addWidget(bOK);
    buttons->addWidget(bCancel);
    layout->addLayout(buttons);

    connect(bOK, &QPushButton::clicked, this, &TfrmEditTrackName::aOKExecute);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(eName, &QLineEdit::textChanged, this, &TfrmEditTrackName::aOKUpdate);
    aOKUpdate();
    setMinimumWidth(360);
}

void TfrmEditTrackName::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TfrmEditTrackName::FormShow() {
    eName->selectAll();
    eName->setFocus();
}

void TfrmEditTrackName::aOKUpdate() {
    bOK->setEnabled(!eName->text().isEmpty());
}

void TfrmEditTrackName::aOKExecute() {
    done(QDialog::Accepted);
}

bool TfrmEditTrackName::eventFilter(QObject* watched, QEvent* event) {
    if (watched == eName && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            aOKExecute(); // an empty title is accepted this way too
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace tags
