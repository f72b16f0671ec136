#include "tools/MediaPlayer.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QStyle>
#include <QToolButton>

namespace tools {

namespace {

struct ButtonLook {
    TMPBtnType type;
    const char* name;
    const char* text;
    QStyle::StandardPixmap icon;
};

constexpr ButtonLook kButtons[] = {
    {TMPBtnType::btPlay, "btPlay", "Play", QStyle::SP_MediaPlay},
    {TMPBtnType::btPause, "btPause", "Pause", QStyle::SP_MediaPause},
    {TMPBtnType::btStop, "btStop", "Stop", QStyle::SP_MediaStop},
    {TMPBtnType::btNext, "btNext", "Next", QStyle::SP_MediaSkipForward},
    {TMPBtnType::btPrev, "btPrev", "Previous", QStyle::SP_MediaSkipBackward},
    {TMPBtnType::btStep, "btStep", "Step", QStyle::SP_MediaSeekForward},
    {TMPBtnType::btBack, "btBack", "Back", QStyle::SP_MediaSeekBackward},
    {TMPBtnType::btRecord, "btRecord", "Record", QStyle::SP_DialogYesButton},
    {TMPBtnType::btEject, "btEject", "Eject", QStyle::SP_DriveCDIcon},
};

} // namespace

TMediaPlayer::TMediaPlayer(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    for (const ButtonLook& look : kButtons) {
        auto* button = new QToolButton(this);
        button->setObjectName(look.name);
        button->setIcon(style()->standardIcon(look.icon));
        button->setToolTip(look.text);
        button->setAccessibleName(look.text);
        button->setEnabled(false);
        const TMPBtnType type = look.type;
        connect(button, &QToolButton::clicked, this, [this, type] { Clicked(type); });
        layout->addWidget(button);
        buttons_[type] = button;
    }
    layout->addStretch(1);
}

TMediaPlayer::~TMediaPlayer() = default;

bool TMediaPlayer::Open(const QString& fileName) {
    StartPos.reset();
    return device_.Open(fileName.toStdString());
}

void TMediaPlayer::Close() {
    StartPos.reset();
    device_.Close();
}

platform::MciWaveAudio::Notify TMediaPlayer::Notifier() {
    if (!Notify) {
        return {};
    }
    // The device's worker calls this; the news reaches OnNotify on the GUI thread, and not
    // at all once the control is gone.
    QPointer<TMediaPlayer> self(this);
    return [self](platform::MciNotify result) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, result] {
                if (self && self->OnNotify) {
                    self->OnNotify(result);
                }
            },
            Qt::QueuedConnection);
    };
}

bool TMediaPlayer::StartRecording() {
    const std::optional<int64_t> from = StartPos;
    StartPos.reset();
    return device_.Record(from, Notifier());
}

bool TMediaPlayer::Play() {
    const std::optional<int64_t> from = StartPos;
    StartPos.reset();
    return device_.Play(from, Notifier());
}

bool TMediaPlayer::Stop() {
    return device_.Stop();
}

void TMediaPlayer::SetVisibleButtons(const TButtonSet& buttons) {
    for (auto& [type, button] : buttons_) {
        button->setVisible(buttons.count(type) != 0);
    }
}

void TMediaPlayer::SetEnabledButtons(const TButtonSet& buttons) {
    enabled_ = buttons;
    for (auto& [type, button] : buttons_) {
        button->setEnabled(buttons.count(type) != 0);
    }
}

void TMediaPlayer::Clicked(TMPBtnType button) {
    bool doDefault = true;
    if (OnClick) {
        OnClick(button, doDefault);
    }
    if (doDefault) {
        DoDefault(button);
    }
}

void TMediaPlayer::DoDefault(TMPBtnType button) {
    if (!device_.IsOpen()) {
        return;
    }
    switch (button) {
    case TMPBtnType::btPlay:
        Play();
        break;
    case TMPBtnType::btStop:
        Stop();
        break;
    case TMPBtnType::btNext:
        device_.SeekToEnd();
        break;
    case TMPBtnType::btPrev:
        device_.SeekToStart();
        break;
    case TMPBtnType::btRecord:
        StartRecording();
        break;
    default:
        break;
    }
}

} // namespace tools
