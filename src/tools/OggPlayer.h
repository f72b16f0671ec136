#pragma once
// TfrmOggPlayer: the modal "Ogg Player" window. Plays one Ogg Vorbis file at a time through
// the chain VorbisIn1 -> SoundIndicator1 -> StereoBalance1 -> AudioOut1, with a position bar
// that seeks, a balance slider, elapsed and total time, the sample rate and a 32-bar spectrum.
//
// Threads: everything here runs on the GUI thread except the output's events (progress, done,
// exception), which fire on the output's worker; each of them only queues its effect on the
// window (bar position, buttons, timers, message box) to the GUI thread, so no control is
// touched from the worker, and an event still queued when the window is gone is dropped.
// Ownership: the window owns the four components; the output is destroyed first, which ends
// a run still going. Closing (button, title bar or Escape) stops playback and waits until the
// output is idle before the window goes.
#include <QDialog>
#include <QPixmap>

#include <memory>

#include "audio/ACS_Audio.h"
#include "audio/ACS_Converters.h"
#include "audio/ACS_Indicator.h"
#include "audio/ACS_Vorbis.h"

class QLabel;
class QPushButton;
class QScrollBar;
class QSlider;
class QTimer;

namespace tools {

// The spectrum's picture: a bitmap the window draws into and this control shows as it is
// (a label would lay the window out again for every new picture).
class TSpectrumImage : public QWidget {
public:
    using QWidget::QWidget;
    QPixmap& Picture() { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
};

class TfrmOggPlayer : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOggPlayer(QWidget* owner);
    ~TfrmOggPlayer() override;

    // Whether the output is running or paused (not idle).
    bool Playing() const;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void BitBtn1Click();
    void BitBtn2Click();
    void bStopClick();
    void bCloseClick();
    void ScrollBar1Scroll(int position);
    void TrackBar1Change(int position);
    void AudioOut1Progress();
    void AudioOut1Done();
    void AudioOut1Exception(const QString& message);
    void Timer1Timer();
    void Timer2Timer();
    void SetTimers(bool on);
    void BuildControls();

    audio::TVorbisIn VorbisIn1;
    audio::TSoundIndicator SoundIndicator1;
    audio::TStereoBalance StereoBalance1;
    audio::TAudioOut AudioOut1; // last: destroyed first

    QLabel* lFileName = nullptr;
    QLabel* lSampleRate = nullptr;
    QLabel* lCurrentTime = nullptr;
    QLabel* lTotalTime = nullptr;
    QScrollBar* ScrollBar1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* bStop = nullptr;
    QPushButton* bClose = nullptr;
    QSlider* TrackBar1 = nullptr;
    TSpectrumImage* Image1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    int ElapsedMs = 0;
    int TotalSeconds = 0; // of the file playing, read once when it starts
    bool Closing = false;
};

} // namespace tools
