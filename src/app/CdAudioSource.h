#pragma once
// What the CD playback device plays from: the open drive (or disc image) behind a CD
// handle, read through the CD layer. Made by the main window for each Open of the
// device; used by the device's play thread while a play runs. Does not own the handle.
#include "platform/MciCdAudio.h"

namespace app {

class TCdAudioSource : public platform::CdAudioSource {
public:
    explicit TCdAudioSource(int cdHandle) : handle_(cdHandle) {}
    bool TrackStarts(std::vector<std::uint32_t>& starts) override;
    bool ReadFrames(std::uint32_t first, std::uint32_t count, std::uint8_t* out) override;

private:
    int handle_;
    std::vector<std::uint8_t> buffer_; // a track buffer record and its data area
};

} // namespace app
