#pragma once
// "New sound file": asks for the sample rate, sample size and channels of a new recording.
// Shown modally by the recorder (GUI thread); OK accepts, Cancel rejects.
#include <QDialog>

class QComboBox;
class QRadioButton;

namespace tools {

class TfrmNewRecordFile : public QDialog {
    Q_OBJECT
public:
    explicit TfrmNewRecordFile(QWidget* parent = nullptr);

    uint32_t SampleRate() const; // the selected list entry as a number
    uint16_t Bits() const;       // 8 or 16
    uint16_t Channels() const;   // 1 or 2

    QComboBox* cbBitSamples = nullptr;
    QRadioButton* rb8Bit = nullptr;
    QRadioButton* rb16Bit = nullptr;
    QRadioButton* rbMono = nullptr;
    QRadioButton* rbStereo = nullptr;
};

} // namespace tools
