#include "tools/NewRecordFileForm.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tools {

namespace {

QWidget* RadioPair(QWidget* parent, const QString& name, QRadioButton*& first,
                   const QString& firstText, QRadioButton*& second, const QString& secondText) {
    auto* box = new QWidget(parent);
    box->setObjectName(name);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    first = new QRadioButton(firstText, box);
    second = new QRadioButton(secondText, box);
    second->setChecked(true);
    row->addWidget(first);
    row->addWidget(second);
    row->addStretch(1);
    return box;
}

} // namespace

TfrmNewRecordFile::TfrmNewRecordFile(QWidget* parent) : QDialog(parent) {
    setObjectName("frmNewRecordFile");
    setWindowTitle("New sound file");
    auto* group = new QGroupBox("Record Property", this);
    auto* form = new QFormLayout(group);
    cbBitSamples = new QComboBox(group);
    cbBitSamples->setObjectName("cbBitSamples");
    cbBitSamples->addItems(
        {"  8000", "11025", "12000", "16000", "22050", "24000", "32000", "44100", "48000"});
    cbBitSamples->setCurrentText("44100");
    form->addRow(QString::fromUtf8("Bitrate\uFF1A"), cbBitSamples);
    form->addRow(QString::fromUtf8("Data\uFF1A"),
                 RadioPair(group, "rbBitNumber", rb8Bit, "8bit", rb16Bit, "16bit"));
    form->addRow(QString::fromUtf8("Mode\uFF1A"),
                 RadioPair(group, "rbChannelNumber", rbMono, "Mono", rbStereo, "Stereo"));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("btnOK");
    ok->setDefault(true);
    buttons->addButton("Cancel", QDialogButtonBox::RejectRole)->setObjectName("btnCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
}

uint32_t TfrmNewRecordFile::SampleRate() const {
    return cbBitSamples->currentText().trimmed().toUInt();
}

uint16_t TfrmNewRecordFile::Bits() const {
    return rb8Bit->isChecked() ? 8 : 16;
}

uint16_t TfrmNewRecordFile::Channels() const {
    return rbMono->isChecked() ? 1 : 2;
}

} // namespace tools
