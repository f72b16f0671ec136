#pragma once
// TfrmResample: the modal "WAV to WAV" window. Converts one WAV file into another with a
// chosen sample rate, channel count, sample size and encoding (PCM or IMA ADPCM) through
// WaveIn1 -> [SampleConverter1] -> [MSConverter1] -> [RateConverter1] -> [SampleConverter2]
// -> WaveOut1, the converters in brackets chained per run as the input and the choices need.
//
// Threads: the conversion runs on WaveOut1's worker. Its progress, done and exception events
// fire there and only queue their effect (progress bar, Convert button, message box) to the
// GUI thread; an event still queued when the window is gone is dropped.
// Ownership: the window owns the components; WaveOut1 is destroyed first, which ends a
// conversion still running (the output file then holds what was written, with a correct
// header).
#include <QDialog>

#include "audio/ACS_Converters.h"
#include "audio/ACS_Wave.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace tools {

class TfrmResample : public QDialog {
    Q_OBJECT
public:
    explicit TfrmResample(QWidget* owner);
    ~TfrmResample() override;

    // The encoding names shown for what the reader found.
    static QString EncodingName(audio::TWavType type);

private:
    void bInputFileClick();
    void bOutputFileClick();
    void bConvertClick();
    void WaveOut1Progress();
    void WaveOut1Done();
    void WaveOut1Exception(const QString& message);
    void BuildControls();
    // The chain for this run, ending at the source WaveOut1 is to read.
    audio::TACSInput* BuildChain(int channels, int rate, int bits);

    audio::TWaveIn WaveIn1;
    audio::TSampleConverter SampleConverter1;
    audio::TMSConverter MSConverter1;
    audio::TRateConverter RateConverter1;
    audio::TSampleConverter SampleConverter2;
    audio::TWaveOut WaveOut1; // last: destroyed first

    QLabel* lInputFileName = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* lOutputFileName = nullptr;
    QComboBox* cbBitSamples = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QSpinBox* SpinEdit3 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* bInputFile = nullptr;
    QPushButton* bOutputFile = nullptr;
    QPushButton* bConvert = nullptr;
    QPushButton* Button4 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
};

} // namespace tools
