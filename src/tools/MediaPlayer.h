#pragma once
// A row of media-player buttons driving the wave-audio device (platform::MciWaveAudio) on
// one WAV file, as the recorder uses it.
//
// Contract (GUI thread only):
// - A click calls OnClick(button, doDefault) first; unless the handler clears doDefault the
//   control then performs the button's own command: Play plays from StartPos when one was
//   set (else from the current position), Stop stops (a recording is saved into the file),
//   Next seeks to the end, Prev to the start, Record records at StartPos (or the current
//   position). StartPos is used once and then forgotten.
// - Buttons are never enabled or disabled by the control itself (the owner sets
//   EnabledButtons).
// - OnNotify runs on the GUI thread when a play or recording started with Notify set ends;
//   the device's worker posts it here.
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "platform/MciWaveAudio.h"

class QToolButton;

namespace tools {

enum class TMPBtnType {
    btPlay,
    btPause,
    btStop,
    btNext,
    btPrev,
    btStep,
    btBack,
    btRecord,
    btEject
};
using TButtonSet = std::set<TMPBtnType>;

class TMediaPlayer : public QWidget {
    Q_OBJECT
public:
    explicit TMediaPlayer(QWidget* parent = nullptr);
    ~TMediaPlayer() override;

    // Opens the file with the wave-audio device, closing what was open.
    bool Open(const QString& fileName);
    void Close();
    bool IsOpen() const { return device_.IsOpen(); }
    platform::WaveAudioMode Mode() { return device_.Mode(); }
    int64_t Length() { return device_.LengthMs(); }
    bool Save() { return device_.Save(); }
    QString LastError() { return QString::fromStdString(device_.LastError()); }
    platform::MciWaveAudio& Device() { return device_; }

    // Starts a recording now (from StartPos when set), with notification when Notify is set.
    bool StartRecording();
    bool Play();
    bool Stop();

    void SetVisibleButtons(const TButtonSet& buttons);
    void SetEnabledButtons(const TButtonSet& buttons);
    TButtonSet EnabledButtons() const { return enabled_; }
    bool IsEnabled(TMPBtnType button) const { return enabled_.count(button) != 0; }
    QToolButton* Button(TMPBtnType button) const { return buttons_.at(button); }

    std::optional<int64_t> StartPos;
    bool Notify = false;
    std::function<void(TMPBtnType, bool&)> OnClick;
    std::function<void(platform::MciNotify)> OnNotify;

private:
    void Clicked(TMPBtnType button);
    void DoDefault(TMPBtnType button);
    platform::MciWaveAudio::Notify Notifier();

    platform::MciWaveAudio device_;
    std::map<TMPBtnType, QToolButton*> buttons_;
    TButtonSet enabled_;
};

} // namespace tools
