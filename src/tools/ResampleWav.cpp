#include "tools/ResampleWav.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "settings/Global.h"
#include "tools/OutputEvents.h"

namespace tools {

namespace {

platform::FileDialogRequest WaveRequest(const QString& title) {
    platform::FileDialogRequest request;
    request.title = title;
    request.filter = "Wave Files|*.wav";
    return request;
}

// A save dialog's name gets the default extension when it has none.
QString WithWavExtension(const QString& path) {
    return QFileInfo(path).suffix().isEmpty() ? path + ".wav" : path;
}

bool SameFile(const QString& a, const QString& b) {
    const QFileInfo first(a);
    const QFileInfo second(b);
    return first.exists() && second.exists() &&
           first.canonicalFilePath() == second.canonicalFilePath();
}

} // namespace

TfrmResample::TfrmResample(QWidget* owner) : QDialog(owner) {
    setObjectName("frmResample");
    setWindowTitle("WAV to WAV");
    BuildControls();

    WaveIn1.SetLoop(false);
    WaveIn1.SetStartSample(0);
    WaveIn1.SetEndSample(-1);
    MSConverter1.SetMode(audio::msmMonoToBoth);
    RateConverter1.SetFilterWindow(audio::fwBlackman);
    RateConverter1.SetKernelWidth(30);
    WaveOut1.SetFileMode(audio::foRewrite);
    WaveOut1.SetBlockSize(512);
    WaveOut1.SetSuspendWhenIdle(true);
    // The worker's events only queue their effect for the GUI thread.
    RouteOutputEvents(this, WaveOut1,
                      {[this] { WaveOut1Progress(); }, [this] { WaveOut1Done(); },
                       [this](const QString& message) { WaveOut1Exception(message); }});
}

TfrmResample::~TfrmResample() = default;

void TfrmResample::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        return l;
    };

    auto* input = new QGroupBox("Input File Parameters", this);
    auto* inputForm = new QFormLayout(input);
    lInputFileName = label("lInputFileName", "");
    Label6 = label("Label6", "");
    Label7 = label("Label7", "");
    Label8 = label("Label8", "");
    Label15 = label("Label15", "");
    inputForm->addRow("File Name", lInputFileName);
    inputForm->addRow("Channels:", Label6);
    inputForm->addRow("Sample Rate:", Label7);
    inputForm->addRow("Bits Per Sample:", Label8);
    inputForm->addRow("Encoding", Label15);
    layout->addWidget(input);

    auto* output = new QGroupBox(" Output File Parameters ", this);
    auto* outputForm = new QFormLayout(output);
    lOutputFileName = label("lOutputFileName", "");
    outputForm->addRow("File Name", lOutputFileName);
    cbBitSamples = new QComboBox(this);
    cbBitSamples->setObjectName("cbBitSamples");
    cbBitSamples->setEditable(true);
    cbBitSamples->addItems(
        {"  8000", "11025", "12000", "16000", "22050", "24000", "32000", "44100", "48000"});
    cbBitSamples->setCurrentText("44100");
    outputForm->addRow("Sample Rate:", cbBitSamples);
    SpinEdit1 = new QSpinBox(this);
    SpinEdit1->setObjectName("SpinEdit1");
    SpinEdit1->setRange(1, 2);
    SpinEdit1->setValue(1);
    outputForm->addRow("Channels:", SpinEdit1);
    SpinEdit3 = new QSpinBox(this);
    SpinEdit3->setObjectName("SpinEdit3");
    SpinEdit3->setRange(8, 16);
    SpinEdit3->setSingleStep(8);
    SpinEdit3->setValue(16);
    outputForm->addRow("Bits Per Sample:", SpinEdit3);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->addItems({"RAW PCM", "DVI IMA ADPCM"});
    outputForm->addRow("Encoding", ComboBox1);
    layout->addWidget(output);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    layout->addWidget(ProgressBar1);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    bInputFile = button("bInputFile", "Input File...");
    bOutputFile = button("bOutputFile", "Output File...");
    bConvert = button("bConvert", "Convert");
    Button4 = button("Button4", "Close");
    connect(bInputFile, &QPushButton::clicked, this, &TfrmResample::bInputFileClick);
    connect(bOutputFile, &QPushButton::clicked, this, &TfrmResample::bOutputFileClick);
    connect(bConvert, &QPushButton::clicked, this, &TfrmResample::bConvertClick);
    connect(Button4, &QPushButton::clicked, this, &QDialog::reject);
    layout->addLayout(buttons);
}

QString TfrmResample::EncodingName(audio::TWavType type) {
    switch (type) {
    case audio::wtPCM:
        return "Raw PCM";
    case audio::wtDVIADPCM:
        return "DVI IMA ADPCM";
    case audio::wtMSADPCM:
        return "Microsoft ADPCM";
    case audio::wtACM:
        return "ACM";
    case audio::wtUnsupported:
        break;
    }
    return "Unsupported";
}

void TfrmResample::bInputFileClick() {
    platform::FileDialogRequest request = WaveRequest("Open");
    const QStringList chosen = platform::TheDialogs().OpenFiles(this, request);
    if (chosen.isEmpty() || WaveIn1.Busy()) {
        return;
    }
    const QString path = chosen.first();
    WaveIn1.SetFileName(path.toStdString());
    if (!WaveIn1.Valid()) {
        return;
    }
    lInputFileName->setText(QFileInfo(path).fileName());
    lInputFileName->setToolTip(path);
    Label6->setText(QString::number(WaveIn1.Channels()));
    Label7->setText(QString::number(WaveIn1.SampleRate()));
    Label8->setText(QString::number(WaveIn1.BitsPerSample()));
    Label15->setText(EncodingName(WaveIn1.WavType()));
}

void TfrmResample::bOutputFileClick() {
    const QString chosen = platform::TheDialogs().SaveFile(this, WaveRequest("Save As"));
    if (chosen.isEmpty() || WaveOut1.Busy()) {
        return;
    }
    const QString path = WithWavExtension(chosen);
    WaveOut1.SetFileName(path.toStdString());
    lOutputFileName->setText(QFileInfo(path).fileName());
    lOutputFileName->setToolTip(path);
}

audio::TACSInput* TfrmResample::BuildChain(int channels, int rate, int bits) {
    audio::TACSInput* source = &WaveIn1;
    if (WaveIn1.BitsPerSample() == 8) {
        SampleConverter1.SetInput(source);
        source = &SampleConverter1;
    }
    if (channels != WaveIn1.Channels()) {
        MSConverter1.SetInput(source);
        source = &MSConverter1;
    }
    if (rate != WaveIn1.SampleRate()) {
        RateConverter1.SetInput(source);
        RateConverter1.SetOutSampleRate(rate);
        source = &RateConverter1;
    }
    if (bits == 8) {
        SampleConverter2.SetInput(source);
        source = &SampleConverter2;
    }
    return source;
}

void TfrmResample::bConvertClick() {
    const int channels = SpinEdit1->value();
    bool isNumber = false;
    const QString rateText = cbBitSamples->currentText();
    const int rate = rateText.trimmed().toInt(&isNumber);
    if (!isNumber) {
        platform::TApplication::ShowException("'" + rateText + "' is not a valid integer value");
        return;
    }
    const int bits = SpinEdit3->value();
    if (WaveOut1.Busy() || !WaveIn1.Valid() || WaveOut1.FileName().empty()) {
        return;
    }
    if (rate <= 0) {
        platform::ErrorBox(this, QString("%1 is not a valid sample rate.").arg(rate));
        return;
    }
    const QString input = QString::fromStdString(WaveIn1.FileName());
    const QString output = QString::fromStdString(WaveOut1.FileName());
    // Rewriting the file being read would destroy it before it has been read.
    if (SameFile(input, output)) {
        platform::ErrorBox(this, "The output file must not be the input file.");
        return;
    }
    if (settings::IsFileInUse(output.toStdString())) {
        platform::ErrorBox(this, "Cannot write to " + output +
                                     ": the file is read-only or in use by another program.");
        return;
    }
    if (WaveIn1.Channels() > 2) {
        platform::ErrorBox(this, "Only mono and stereo files can be converted.");
        return;
    }
    WaveOut1.SetInput(BuildChain(channels, rate, bits));
    WaveOut1.SetWavType(ComboBox1->currentIndex() == 1 ? audio::wtDVIADPCM : audio::wtPCM);
    bConvert->setEnabled(false);
    WaveOut1.Run();
}

void TfrmResample::WaveOut1Progress() {
    ProgressBar1->setValue(std::max(0, WaveOut1.Progress()));
}

void TfrmResample::WaveOut1Done() {
    bConvert->setEnabled(true);
    ProgressBar1->setValue(0);
}

void TfrmResample::WaveOut1Exception(const QString& message) {
    WaveOut1Done();
    platform::ErrorBox(this, message);
}

} // namespace tools
