#pragma once
// TAudioOut: a sink that plays its input's PCM on a sound device.
//
// Threads: Prepare runs on the thread calling Run; steps and Finish on the sink's worker; the
// device's own thread reports played buffers through a callback that only touches the played
// list and the queued count, under one lock shared by every TAudioOut.
// Flow: each step takes back the buffers the device has played and tops the queue up to nine
// blocks of 8192 bytes; at the end of the input (or after Stop) Finish waits until every
// queued block has been played, then closes the device.
// Failures: a device that cannot be opened makes Prepare raise, so the run ends at once
// through OnThreadException; the BaseChannel setter raises when busy or out of range.
#include "audio/ACS_Classes.h"

#include <cstdint>
#include <memory>

namespace platform {
struct WaveOutDevice;
struct WAVEHDR;
} // namespace platform

namespace audio {

class TAudioOut : public TACSOutput {
public:
    TAudioOut();
    ~TAudioOut() override;

    // Sound devices found when first asked (the count stays for the life of the process).
    static std::int32_t OutputDeviceCount();
    static std::int32_t InputDeviceCount();

    std::int32_t BaseChannel() const { return FBaseChannel; }
    void SetBaseChannel(std::int32_t value);
    // 255 leaves samples unchanged; lower values scale them down in proportion.
    std::uint8_t Volume() const { return FVolume.load(); }
    void SetVolume(std::uint8_t value) { FVolume.store(value); }

    // Blocks written to the device and not yet reported played.
    std::int32_t QueuedCount() const;
    // Times the device ran out of data while the last run still had input to play (the
    // running out after the last block is not counted).
    std::int32_t UnderflowCount() const { return FUnderflowCount.load(); }

protected:
    void Prepare() override;
    bool OutputStep(bool Abort) override;
    void Finish() override;

private:
    struct TBlock;

    static void DeviceCallback(platform::WaveOutDevice* device, std::uint32_t message,
                               std::uintptr_t instance, std::uintptr_t param1,
                               std::uintptr_t param2);
    void ReleasePlayed();
    void ApplyVolume(std::uint8_t* data, std::int32_t bytes) const;

    static constexpr std::int32_t kBlockBytes = 8192;

    // Guarded by the module-wide lock.
    platform::WAVEHDR* FPlayedHead = nullptr;
    platform::WAVEHDR* FPlayedTail = nullptr;
    std::int32_t FQueuedCount = 0;

    std::int32_t FBaseChannel = 0;
    std::atomic<std::uint8_t> FVolume{255};
    std::atomic<std::int32_t> FUnderflowCount{0};
    platform::WaveOutDevice* FDevice = nullptr;
    std::int32_t FBufferCount = 8;
    std::int32_t FBitsPerSample = 16;
};

} // namespace audio
