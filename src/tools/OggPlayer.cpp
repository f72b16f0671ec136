#include "tools/OggPlayer.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <chrono>
#include <cmath>
#include <thread>

#include "platform/Dialogs.h"
#include "tools/OutputEvents.h"

namespace tools {

namespace {

constexpr int kBars = audio::TSoundIndicator::kBands;
// Stop lets the queued buffers (about 0.4 s) play out; a stuck device must not hang the window.
constexpr auto kIdleWaitLimit = std::chrono::seconds(10);

QString TwoDigits(int value) {
    return QString("%1").arg(value, 2, 10, QChar('0'));
}

} // namespace

void TSpectrumImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

TfrmOggPlayer::TfrmOggPlayer(QWidget* owner) : QDialog(owner) {
    setObjectName("frmOggPlayer");
    setWindowTitle("Ogg Player");
    BuildControls();

    VorbisIn1.SetLoop(false);
    VorbisIn1.SetStartSample(0);
    VorbisIn1.SetEndSample(-1);
    SoundIndicator1.SetInput(&VorbisIn1);
    StereoBalance1.SetInput(&SoundIndicator1);
    StereoBalance1.SetBalance(0.5f);
    AudioOut1.SetInput(&StereoBalance1);
    AudioOut1.SetBaseChannel(0);
    AudioOut1.SetVolume(255);
    AudioOut1.SetSuspendWhenIdle(true);
    // The worker's events only queue their effect for the GUI thread.
    RouteOutputEvents(this, AudioOut1,
                      {[this] { AudioOut1Progress(); }, [this] { AudioOut1Done(); },
                       [this](const QString& message) { AudioOut1Exception(message); }});
    FormCreate();
}

TfrmOggPlayer::~TfrmOggPlayer() = default;

void TfrmOggPlayer::BuildControls() {
    auto* layout = new QVBoxLayout(this);

    auto* Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setToolTip("Press 'Play' button to open and play ogg file.");
    auto* info = new QHBoxLayout(Panel1);
    lFileName = new QLabel("OGG", Panel1);
    lFileName->setObjectName("lFileName");
    lSampleRate = new QLabel("bps", Panel1);
    lSampleRate->setObjectName("lSampleRate");
    lCurrentTime = new QLabel("0:00", Panel1);
    lCurrentTime->setObjectName("lCurrentTime");
    lTotalTime = new QLabel("0:00", Panel1);
    lTotalTime->setObjectName("lTotalTime");
    info->addWidget(lFileName, 1);
    info->addWidget(lSampleRate);
    info->addSpacing(12);
    info->addWidget(lCurrentTime);
    info->addWidget(new QLabel("/", Panel1));
    info->addWidget(lTotalTime);
    layout->addWidget(Panel1);

    ScrollBar1 = new QScrollBar(Qt::Horizontal, this);
    ScrollBar1->setObjectName("ScrollBar1");
    ScrollBar1->setRange(0, 100);
    ScrollBar1->setEnabled(false);
    connect(ScrollBar1, &QAbstractSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderNoAction) {
            ScrollBar1Scroll(ScrollBar1->sliderPosition());
        }
    });
    layout->addWidget(ScrollBar1);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, const QString& text, QStyle::StandardPixmap icon) {
        auto* b = new QPushButton(style()->standardIcon(icon), text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    BitBtn1 = button("BitBtn1", "Play", QStyle::SP_MediaPlay);
    BitBtn1->setToolTip("Press to open and play ogg file.");
    BitBtn2 = button("BitBtn2", "Pause", QStyle::SP_MediaPause);
    bStop = button("bStop", "Stop", QStyle::SP_MediaStop);
    bClose = button("bClose", "Close", QStyle::SP_DialogCloseButton);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmOggPlayer::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmOggPlayer::BitBtn2Click);
    connect(bStop, &QPushButton::clicked, this, &TfrmOggPlayer::bStopClick);
    connect(bClose, &QPushButton::clicked, this, &TfrmOggPlayer::bCloseClick);
    layout->addLayout(buttons);

    auto* balance = new QHBoxLayout;
    balance->addWidget(new QLabel("L", this));
    TrackBar1 = new QSlider(Qt::Horizontal, this);
    TrackBar1->setObjectName("TrackBar1");
    TrackBar1->setRange(0, 10);
    TrackBar1->setValue(5);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    connect(TrackBar1, &QSlider::valueChanged, this, &TfrmOggPlayer::TrackBar1Change);
    balance->addWidget(TrackBar1, 1);
    balance->addWidget(new QLabel("R", this));
    layout->addLayout(balance);

    auto* spectrum = new QFrame(this);
    // A palette rather than a style sheet: a sheet would restyle the picture too and make
    // each of its twenty repaints a second cost more.
    QPalette black = spectrum->palette();
    black.setColor(QPalette::Window, Qt::black);
    spectrum->setPalette(black);
    spectrum->setAutoFillBackground(true);
    auto* spectrumLayout = new QVBoxLayout(spectrum);
    spectrumLayout->setContentsMargins(2, 2, 2, 2);
    Image1 = new TSpectrumImage(spectrum);
    Image1->setObjectName("Image1");
    Image1->setFixedSize(kBars * 9, 90);
    Image1->setAttribute(Qt::WA_OpaquePaintEvent); // the picture covers it: nothing beneath
    spectrumLayout->addWidget(Image1, 0, Qt::AlignCenter);
    layout->addWidget(spectrum);

    Timer1 = new QTimer(this);
    Timer1->setInterval(50);
    connect(Timer1, &QTimer::timeout, this, &TfrmOggPlayer::Timer1Timer);
    Timer2 = new QTimer(this);
    Timer2->setInterval(500);
    connect(Timer2, &QTimer::timeout, this, &TfrmOggPlayer::Timer2Timer);
}

void TfrmOggPlayer::FormCreate() {
    Image1->Picture() = QPixmap(Image1->size());
    Image1->Picture().fill(palette().color(QPalette::Window));
    Closing = false;
}

bool TfrmOggPlayer::Playing() const {
    return AudioOut1.Status() != audio::osIdle;
}

void TfrmOggPlayer::SetTimers(bool on) {
    if (on) {
        Timer1->start();
        Timer2->start();
    } else {
        Timer1->stop();
        Timer2->stop();
    }
}

void TfrmOggPlayer::BitBtn1Click() {
    platform::FileDialogRequest request;
    request.filter = "Sound file(*.ogg)|*.ogg| Any file(*.*)|*.*";
    const QStringList chosen = platform::TheDialogs().OpenFiles(this, request);
    if (chosen.isEmpty()) {
        return;
    }
    const QString path = chosen.first();
    try {
        VorbisIn1.SetFileName(path.toStdString());
        if (path.right(4).toUpper() != ".OGG" || !VorbisIn1.Valid()) {
            platform::TheDialogs().MessageBox(this, "Ogg file is not valid.", "",
                                              platform::MbIcon::None, platform::MbButtons::Ok);
            return;
        }
        BitBtn1->setEnabled(false);
        const QString name = QFileInfo(path).fileName();
        lFileName->setText(name.left(name.size() - 4));
        AudioOut1.Run();
        SetTimers(true);
        ElapsedMs = 0;
        lSampleRate->setText(QString("%1 bps").arg(VorbisIn1.SampleRate()));
        TotalSeconds = VorbisIn1.TotalTime();
        lTotalTime->setText(
            QString("%1:%2").arg(TotalSeconds / 60).arg(TwoDigits(TotalSeconds % 60)));
        ScrollBar1->setEnabled(true);
    } catch (const std::exception&) {
        // Opening failures leave the window as it is; a failed device reports through the
        // output's exception event instead.
    }
}

void TfrmOggPlayer::BitBtn2Click() {
    if (AudioOut1.Status() == audio::osRunning) {
        AudioOut1.Pause();
        SetTimers(false);
    } else {
        AudioOut1.Resume();
        SetTimers(true);
    }
}

void TfrmOggPlayer::bStopClick() {
    if (AudioOut1.Status() == audio::osPaused) {
        AudioOut1.Resume();
    }
    AudioOut1.Stop();
    SetTimers(false);
}

void TfrmOggPlayer::bCloseClick() {
    bStopClick();
    Closing = true;
    const auto until = std::chrono::steady_clock::now() + kIdleWaitLimit;
    while (AudioOut1.Status() != audio::osIdle && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    QMetaObject::invokeMethod(this, &QDialog::close, Qt::QueuedConnection);
}

void TfrmOggPlayer::reject() {
    if (!Closing) {
        bCloseClick(); // closes again once the output is idle
        return;
    }
    QDialog::reject();
}

void TfrmOggPlayer::closeEvent(QCloseEvent* event) {
    if (!Closing) {
        event->ignore();
        bCloseClick();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmOggPlayer::ScrollBar1Scroll(int position) {
    VorbisIn1.Jump(position - AudioOut1.Progress());
    ElapsedMs = TotalSeconds * position * 10;
}

void TfrmOggPlayer::TrackBar1Change(int position) {
    StereoBalance1.SetBalance(static_cast<float>(position) / 10.0f);
}

void TfrmOggPlayer::AudioOut1Progress() {
    if (!ScrollBar1->isSliderDown()) { // the user's drag wins over the player's position
        ScrollBar1->setValue(AudioOut1.Progress());
    }
}

void TfrmOggPlayer::AudioOut1Done() {
    BitBtn1->setEnabled(true);
    ScrollBar1->setEnabled(false);
    SetTimers(false);
}

void TfrmOggPlayer::AudioOut1Exception(const QString& message) {
    AudioOut1Done();
    platform::ErrorBox(this, message);
}

void TfrmOggPlayer::Timer1Timer() {
    QPixmap& bitmap = Image1->Picture();
    bitmap.fill(Qt::black);
    std::array<double, kBars> values{};
    SoundIndicator1.GetValues(values);
    QPainter painter(&bitmap);
    const QColor green(0, 128, 0);
    const int height = bitmap.height();
    for (int i = 0; i < kBars; ++i) {
        const int x = (bitmap.width() / kBars) * i + 1;
        const double top =
            std::nearbyint(static_cast<double>(height) - values[static_cast<std::size_t>(i)]);
        // The pixels of a 4-pixel-wide line from (x, height) up to `top` with square ends,
        // filled as a rectangle: a wide pen goes through the stroker, many times slower.
        const int end = static_cast<int>(std::max(top, -1.0e6));
        const int y0 = std::min(end, height) - 2;
        const int y1 = std::max(end, height) + 2;
        painter.fillRect(QRect(x - 2, y0, 4, y1 - y0), green);
    }
    painter.end();
    Image1->update();
}

void TfrmOggPlayer::Timer2Timer() {
    if (ElapsedMs < TotalSeconds * 1000) {
        ElapsedMs += 500;
        lCurrentTime->setText(
            QString("%1:%2").arg(ElapsedMs / 60000).arg(TwoDigits((ElapsedMs / 1000) % 60)));
    }
}

} // namespace tools
