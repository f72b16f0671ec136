#include "platform/WaveIn.h"

#include <gtest/gtest.h>

#include "support/SoundFixtures.h"
#include "support/SoundServer.h"

#include <mutex>
#include <thread>
#include <vector>

using namespace platform;

namespace {

WAVEFORMATEX Pcm(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag = 1) {
    WAVEFORMATEX format = PcmWaveFormat(channels, rate, bits);
    format.wFormatTag = tag;
    return format;
}

struct Returned {
    std::mutex mutex;
    std::vector<WAVEHDR*> headers;
    static void Callback(HWAVEIN, uint32_t message, uintptr_t instance, uintptr_t param1,
                         uintptr_t) {
        if (message == WIM_DATA) {
            auto* self = reinterpret_cast<Returned*>(instance);
            std::lock_guard lock(self->mutex);
            self->headers.push_back(reinterpret_cast<WAVEHDR*>(param1));
        }
    }
    std::vector<WAVEHDR*> Take() {
        std::lock_guard lock(mutex);
        return std::exchange(headers, {});
    }
};

} // namespace

TEST(WaveIn, RefusesFormatsTheRecorderNeverAsksFor) {
    const WAVEFORMATEX refused[] = {Pcm(1, 44100, 24), Pcm(3, 44100, 16), Pcm(0, 44100, 16),
                                    Pcm(2, 0, 16), Pcm(2, 44100, 16, 0x11)};
    for (const WAVEFORMATEX& format : refused) {
        HWAVEIN device = reinterpret_cast<HWAVEIN>(1);
        EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, nullptr, 0, CALLBACK_NULL),
                  WAVERR_BADFORMAT);
        EXPECT_EQ(device, nullptr);
    }
}

// Buffers come back in the order they were added: full ones while recording, the one being
// filled on Stop (partly), the rest on Reset; a device holding buffers does not close.
TEST(WaveIn, BuffersComeBackInOrderAndStopReturnsThePartlyFilledOne) {
    REQUIRE_SOUND_SERVER();
    testsupport::MonitorAsDefaultSource monitor;
    testsupport::TonePlayer tone(1000);
    Returned returned;
    const WAVEFORMATEX format = Pcm(1, 8000, 16);
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, 0, &format, Returned::Callback,
                         reinterpret_cast<uintptr_t>(&returned), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    std::vector<std::vector<char>> data(4, std::vector<char>(1600)); // 100 ms each
    std::vector<WAVEHDR> headers(4);
    for (size_t i = 0; i < headers.size(); ++i) {
        headers[i].lpData = data[i].data();
        headers[i].dwBufferLength = 1600;
        ASSERT_EQ(waveInPrepareHeader(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveInClose(device), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    const std::vector<WAVEHDR*> stopped = returned.Take();
    ASSERT_EQ(stopped.size(), 3u);
    for (size_t i = 0; i < stopped.size(); ++i) {
        EXPECT_EQ(stopped[i], &headers[i]);
        EXPECT_TRUE(stopped[i]->dwFlags & WHDR_DONE);
    }
    EXPECT_EQ(headers[0].dwBytesRecorded, 1600u);
    EXPECT_EQ(headers[1].dwBytesRecorded, 1600u);
    EXPECT_GT(headers[2].dwBytesRecorded, 0u);
    EXPECT_LT(headers[2].dwBytesRecorded, 1600u);
    EXPECT_EQ(waveInUnprepareHeader(device, &headers[3], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);

    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(returned.Take(), std::vector<WAVEHDR*>{&headers[3]});
    EXPECT_EQ(headers[3].dwBytesRecorded, 0u);
    WaveInStatus status;
    ASSERT_EQ(waveInGetStatus(device, &status), MMSYSERR_NOERROR);
    EXPECT_FALSE(status.failed);
    EXPECT_EQ(status.overflows, 0u);
    EXPECT_EQ(status.recordedBytes, 3200u + headers[2].dwBytesRecorded);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}
