#include "audio/ACS_Audio.h"

#include "bytes/LittleEndian.h"
#include "platform/Log.h"
#include "platform/WaveIn.h"
#include "platform/WaveOut.h"

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace audio {

namespace {

// Guards the played lists and queued counts of every TAudioOut against the device threads.
std::mutex& ModuleLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

struct TAudioOut::TBlock {
    platform::WAVEHDR header;
    std::vector<std::uint8_t> data;
};

std::int32_t TAudioOut::OutputDeviceCount() {
    static const auto count = static_cast<std::int32_t>(platform::waveOutGetNumDevs());
    return count;
}

std::int32_t TAudioOut::InputDeviceCount() {
    static const auto count = static_cast<std::int32_t>(platform::waveInGetNumDevs());
    return count;
}

TAudioOut::TAudioOut() {
    SetDelay(6);
}

TAudioOut::~TAudioOut() {
    ShutdownWorker();
    if (FDevice != nullptr) {
        platform::waveOutReset(FDevice);
        ReleasePlayed();
        platform::waveOutClose(FDevice);
        FDevice = nullptr;
    }
}

void TAudioOut::SetBaseChannel(std::int32_t value) {
    if (FBusy) {
        throw EACSException("Component is buisy");
    }
    const std::int32_t count = OutputDeviceCount();
    if (count == 0) {
        FBaseChannel = 0;
        return;
    }
    // -1 is the system's default device.
    if (value >= count || value < -1) {
        throw EACSException("Channel " + std::to_string(value) + " is not available");
    }
    FBaseChannel = value;
}

void TAudioOut::DeviceCallback(platform::WaveOutDevice*, std::uint32_t message,
                               std::uintptr_t instance, std::uintptr_t param1, std::uintptr_t) {
    if (message != platform::WOM_DONE) {
        return;
    }
    auto* self = reinterpret_cast<TAudioOut*>(instance);
    auto* header = reinterpret_cast<platform::WAVEHDR*>(param1);
    std::lock_guard lock(ModuleLock());
    header->lpNext = nullptr;
    if (self->FPlayedTail != nullptr) {
        self->FPlayedTail->lpNext = header;
    } else {
        self->FPlayedHead = header;
    }
    self->FPlayedTail = header;
    --self->FQueuedCount;
}

std::int32_t TAudioOut::QueuedCount() const {
    std::lock_guard lock(ModuleLock());
    return FQueuedCount;
}

void TAudioOut::ReleasePlayed() {
    platform::WAVEHDR* header = nullptr;
    {
        std::lock_guard lock(ModuleLock());
        header = FPlayedHead;
        FPlayedHead = nullptr;
        FPlayedTail = nullptr;
    }
    while (header != nullptr) {
        platform::WAVEHDR* next = header->lpNext;
        platform::waveOutUnprepareHeader(FDevice, header, sizeof(platform::WAVEHDR));
        std::unique_ptr<TBlock> block(reinterpret_cast<TBlock*>(header->dwUser));
        header = next;
    }
}

void TAudioOut::Prepare() {
    TACSInput* input = FInput.load();
    input->Init();
    try {
        platform::WAVEFORMATEX format =
            platform::PcmWaveFormat(static_cast<std::uint16_t>(input->Channels()),
                                    static_cast<std::uint32_t>(input->SampleRate()),
                                    static_cast<std::uint16_t>(input->BitsPerSample()));
        FBitsPerSample = format.wBitsPerSample;
        FUnderflowCount.store(0);
        {
            std::lock_guard lock(ModuleLock());
            FQueuedCount = 0;
            FPlayedHead = nullptr;
            FPlayedTail = nullptr;
        }
        const platform::MMRESULT result =
            platform::waveOutOpen(&FDevice, static_cast<std::uint32_t>(FBaseChannel), &format,
                                  DeviceCallback, reinterpret_cast<std::uintptr_t>(this),
                                  platform::CALLBACK_FUNCTION | platform::WAVE_MAPPED);
        // Without a device no buffer would ever come back: end the run here instead.
        if (result != platform::MMSYSERR_NOERROR) {
            FDevice = nullptr;
            throw EACSException("The sound device " + std::to_string(FBaseChannel) +
                                " could not be opened (error " + std::to_string(result) + ")");
        }
    } catch (...) {
        try {
            input->Flush();
        } catch (...) {
            platform::LogSwallowedException("sound output: flushing the input after a failed open");
        }
        throw;
    }
}

void TAudioOut::ApplyVolume(std::uint8_t* data, std::int32_t bytes) const {
    const std::int32_t volume = FVolume.load();
    if (volume == 255) {
        return;
    }
    if (FBitsPerSample == 8) {
        for (std::int32_t i = 0; i < bytes; ++i) {
            data[i] = static_cast<std::uint8_t>(128 + (data[i] - 128) * volume / 255);
        }
        return;
    }
    for (std::int32_t i = 0; i + 1 < bytes; i += 2) {
        const std::int16_t sample = bytes::GetLeI16(data + i);
        bytes::PutLeI16(data + i, static_cast<std::int16_t>(sample * volume / 255));
    }
}

bool TAudioOut::OutputStep(bool Abort) {
    if (!FBusy) {
        return true;
    }
    if (Abort || !FOutputEnabled) {
        return false;
    }
    ReleasePlayed();
    for (std::int32_t k = QueuedCount(); k <= FBufferCount; ++k) {
        auto block = std::make_unique<TBlock>();
        block->data.resize(kBlockBytes);
        const std::int32_t bytes = ReadInput(block->data.data(), kBlockBytes);
        if (bytes <= 0) {
            return false;
        }
        ApplyVolume(block->data.data(), bytes);
        block->header.lpData = reinterpret_cast<char*>(block->data.data());
        block->header.dwBufferLength = static_cast<std::uint32_t>(bytes);
        block->header.dwUser = reinterpret_cast<std::uintptr_t>(block.get());
        {
            std::lock_guard lock(ModuleLock());
            ++FQueuedCount;
        }
        TBlock* queued = block.release(); // owned by the device until it reports it played
        platform::waveOutPrepareHeader(FDevice, &queued->header, sizeof(platform::WAVEHDR));
        platform::waveOutWrite(FDevice, &queued->header, sizeof(platform::WAVEHDR));
    }
    if (OnProgress) {
        TACSInput* input = FInput.load();
        if (input != nullptr && input->Size() > 0) {
            CheckProgress();
        }
    }
    return true;
}

void TAudioOut::Finish() {
    if (FDevice != nullptr) {
        std::uint32_t underflows = 0;
        if (platform::waveOutGetUnderflowCount(FDevice, &underflows) ==
            platform::MMSYSERR_NOERROR) {
            FUnderflowCount.store(static_cast<std::int32_t>(underflows));
        }
        // The device reports every buffer, even when its server goes away.
        while (QueuedCount() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ReleasePlayed();
        if (platform::waveOutClose(FDevice) == platform::WAVERR_STILLPLAYING) {
            platform::waveOutReset(FDevice);
            ReleasePlayed();
            platform::waveOutClose(FDevice);
        }
        FDevice = nullptr;
    }
    FlushInput();
}

} // namespace audio
