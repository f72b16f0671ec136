#include "platform/WaveOut.h"

#include <gtest/gtest.h>

#include "support/SoundServer.h"
#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

WAVEFORMATEX Format(uint16_t channels, uint32_t rate, uint16_t bits) {
    return PcmWaveFormat(channels, rate, bits);
}

// Collects what the device reports, with the thread it came from and when.
struct Recorder {
    std::mutex mutex;
    std::vector<uint32_t> messages;
    std::vector<WAVEHDR*> done;
    std::vector<std::chrono::steady_clock::time_point> doneAt;
    std::atomic<bool> doneOnCallerThread{false};
    std::thread::id caller = std::this_thread::get_id();

    static void Callback(HWAVEOUT, uint32_t message, uintptr_t instance, uintptr_t param1,
                         uintptr_t) {
        auto* self = reinterpret_cast<Recorder*>(instance);
        std::lock_guard lock(self->mutex);
        self->messages.push_back(message);
        if (message == WOM_DONE) {
            self->done.push_back(reinterpret_cast<WAVEHDR*>(param1));
            self->doneAt.push_back(std::chrono::steady_clock::now());
            if (std::this_thread::get_id() == self->caller) {
                self->doneOnCallerThread = true;
            }
        }
    }
    // Opens a device that reports here.
    MMRESULT Open(HWAVEOUT& device, uint32_t id, const WAVEFORMATEX& format,
                  uint32_t flags = CALLBACK_FUNCTION) {
        return waveOutOpen(&device, id, &format, &Recorder::Callback,
                           reinterpret_cast<uintptr_t>(this), flags);
    }
    size_t DoneCount() {
        std::lock_guard lock(mutex);
        return done.size();
    }
    bool WaitForDone(size_t count, std::chrono::milliseconds limit) {
        return testsupport::WaitUntil([&] { return DoneCount() >= count; }, limit);
    }
};

} // namespace

TEST(WaveOut, WithoutAServerThereAreNoDevicesAndOpeningFailsQuickly) {
    testsupport::ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/vellorine-no-server");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    const WAVEFORMATEX format = Format(2, 44100, 16);
    HWAVEOUT device = reinterpret_cast<HWAVEOUT>(1);
    EXPECT_NE(waveOutOpen(&device, 0, &format, nullptr, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(device, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(WaveOut, OpeningRejectsUnknownDevicesAndFormatsItCannotPlay) {
    REQUIRE_SOUND_SERVER();
    HWAVEOUT device = nullptr;
    WAVEFORMATEX format = Format(2, 44100, 16);
    EXPECT_EQ(waveOutOpen(&device, waveOutGetNumDevs() + 3, &format, nullptr, 0, 0),
              MMSYSERR_BADDEVICEID);
    EXPECT_EQ(device, nullptr);
    format.wBitsPerSample = 12;
    EXPECT_EQ(waveOutOpen(&device, 0, &format, nullptr, 0, 0), WAVERR_BADFORMAT);
    format = Format(2, 44100, 16);
    format.wFormatTag = 2;
    EXPECT_EQ(waveOutOpen(&device, 0, &format, nullptr, 0, 0), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(&device, 0, nullptr, nullptr, 0, 0), MMSYSERR_INVALPARAM);
}

TEST(WaveOut, EveryWrittenBufferIsReportedDoneOnceInOrderAfterItHasPlayed) {
    REQUIRE_SOUND_SERVER();
    Recorder recorder;
    const WAVEFORMATEX format = Format(2, 44100, 16);
    HWAVEOUT device = nullptr;
    ASSERT_EQ(recorder.Open(device, 0, format, CALLBACK_FUNCTION | WAVE_MAPPED), MMSYSERR_NOERROR);
    ASSERT_NE(device, nullptr);

    // Six blocks of 8192 bytes: about 0.28 s of sound; the last one is short, as the end of
    // a file would be, and must still be played without anything following it.
    std::vector<std::vector<char>> blocks(6, std::vector<char>(8192, 0));
    blocks.back().resize(1000);
    std::vector<WAVEHDR> headers(blocks.size());
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < blocks.size(); ++i) {
        headers[i].lpData = blocks[i].data();
        headers[i].dwBufferLength = static_cast<uint32_t>(blocks[i].size());
        ASSERT_EQ(waveOutWrite(device, &headers[i], sizeof(WAVEHDR)), WAVERR_UNPREPARED);
        ASSERT_EQ(waveOutPrepareHeader(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutUnprepareHeader(device, &headers[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING);

    ASSERT_TRUE(recorder.WaitForDone(blocks.size(), std::chrono::seconds(5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard lock(recorder.mutex);
        ASSERT_EQ(recorder.done.size(), blocks.size());
        for (size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(recorder.done[i], &headers[i]);
            EXPECT_NE(headers[i].dwFlags & WHDR_DONE, 0u);
            EXPECT_EQ(headers[i].dwFlags & WHDR_INQUEUE, 0u);
        }
        EXPECT_FALSE(recorder.doneOnCallerThread);
        // 40960 + 1000 bytes at 176400 bytes/s is 0.238 s: the device cannot finish sooner.
        EXPECT_GT(recorder.doneAt.back() - start, std::chrono::milliseconds(180));
        EXPECT_EQ(recorder.messages.front(), WOM_OPEN);
    }

    for (auto& header : headers) {
        EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(recorder.messages.back(), WOM_CLOSE);
}

TEST(WaveOut, ResetHandsBackEveryQueuedBufferAndPlaybackGoesOnAfterIt) {
    REQUIRE_SOUND_SERVER();
    Recorder recorder;
    const WAVEFORMATEX format = Format(1, 8000, 8);
    HWAVEOUT device = nullptr;
    ASSERT_EQ(recorder.Open(device, WAVE_MAPPER, format), MMSYSERR_NOERROR);
    // Ten seconds of sound: a reset must not wait for it.
    std::vector<char> data(80000, static_cast<char>(128));
    WAVEHDR header;
    header.lpData = data.data();
    header.dwBufferLength = static_cast<uint32_t>(data.size());
    ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, &header, sizeof header), MMSYSERR_NOERROR);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(recorder.DoneCount(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    WAVEHDR second;
    second.lpData = data.data();
    second.dwBufferLength = 800;
    ASSERT_EQ(waveOutPrepareHeader(device, &second, sizeof second), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, &second, sizeof second), MMSYSERR_NOERROR);
    EXPECT_TRUE(recorder.WaitForDone(2, std::chrono::seconds(3)));
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST(WaveOut, NoBufferIsReportedBeforeTheSinkCanHavePlayedItsLastByte) {
    REQUIRE_SOUND_SERVER();
    Recorder recorder;
    const WAVEFORMATEX format = Format(2, 44100, 16);
    HWAVEOUT device = nullptr;
    ASSERT_EQ(recorder.Open(device, WAVE_MAPPER, format), MMSYSERR_NOERROR);
    // Twelve blocks: the server reads them in bursts of several, yet each one ends at its
    // own moment of playback and must not be handed back before it.
    std::vector<std::vector<char>> blocks(12, std::vector<char>(8192, 0));
    std::vector<WAVEHDR> headers(blocks.size());
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < blocks.size(); ++i) {
        headers[i].lpData = blocks[i].data();
        headers[i].dwBufferLength = 8192;
        ASSERT_EQ(waveOutPrepareHeader(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(recorder.WaitForDone(blocks.size(), std::chrono::seconds(5)));
    {
        std::lock_guard lock(recorder.mutex);
        for (size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(recorder.done[i], &headers[i]);
            const auto playedBy = std::chrono::microseconds((i + 1) * 8192 * 1000000 / 176400);
            EXPECT_GE(recorder.doneAt[i] - start, playedBy - std::chrono::milliseconds(3))
                << "block " << i;
        }
    }
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST(WaveOut, RunningOutOfDataIsCountedAsAnUnderflow) {
    REQUIRE_SOUND_SERVER();
    Recorder recorder;
    const WAVEFORMATEX format = Format(2, 44100, 16);
    HWAVEOUT device = nullptr;
    uint32_t count = 7;
    EXPECT_EQ(waveOutGetUnderflowCount(nullptr, &count), MMSYSERR_INVALHANDLE);
    ASSERT_EQ(recorder.Open(device, WAVE_MAPPER, format), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutGetUnderflowCount(device, nullptr), MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveOutGetUnderflowCount(device, &count), MMSYSERR_NOERROR);
    EXPECT_EQ(count, 0u);

    std::vector<char> data(8192, 0);
    WAVEHDR header;
    header.lpData = data.data();
    header.dwBufferLength = static_cast<uint32_t>(data.size());
    ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_TRUE(recorder.WaitForDone(1, std::chrono::seconds(3)));
    // Nothing follows the block, so the sink finds the stream empty when it asks for more.
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] { return waveOutGetUnderflowCount(device, &count) == MMSYSERR_NOERROR && count > 0; },
        std::chrono::seconds(8)));
    EXPECT_GE(count, 1u);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST(WaveOut, DeviceZeroAndTheMapperPlayOnTheDefaultSinkWhateverItsPlaceInTheList) {
    REQUIRE_SOUND_SERVER();
    // A second sink, made the default: it comes after the test's own sink in the list.
    const auto load =
        testsupport::RunCommand("pactl load-module module-null-sink sink_name=vellorine_second");
    ASSERT_EQ(load.ExitCode, 0) << load.Output;
    const std::string module = load.Output.substr(0, load.Output.find_first_of("\r\n"));
    const std::string previous =
        testsupport::RunCommand("pactl get-default-sink").Output.substr(0, 200);
    ASSERT_EQ(testsupport::RunCommand("pactl set-default-sink vellorine_second").ExitCode, 0);
    struct Restore {
        std::string module, previous;
        ~Restore() {
            testsupport::RunCommand("pactl set-default-sink " +
                                    previous.substr(0, previous.find('\n')));
            testsupport::RunCommand("pactl unload-module " + module);
        }
    } restore{module, previous};

    const WAVEFORMATEX format = Format(1, 44100, 16);
    std::vector<int16_t> tone(44100 / 2);
    for (size_t n = 0; n < tone.size(); ++n) {
        tone[n] = static_cast<int16_t>(
            12000 * std::sin(2 * std::numbers::pi * 880.0 * static_cast<double>(n) / 44100));
    }
    for (uint32_t id : {0u, WAVE_MAPPER}) {
        SCOPED_TRACE(id);
        testsupport::ScratchFolder dir;
        testsupport::MonitorRecording second("vellorine_second", dir.File("second.raw"));
        Recorder recorder;
        HWAVEOUT device = nullptr;
        ASSERT_EQ(recorder.Open(device, id, format), MMSYSERR_NOERROR);
        WAVEHDR header{};
        header.lpData = reinterpret_cast<char*>(tone.data());
        header.dwBufferLength = static_cast<uint32_t>(tone.size() * 2);
        waveOutPrepareHeader(device, &header, sizeof header);
        waveOutWrite(device, &header, sizeof header);
        EXPECT_TRUE(recorder.WaitForDone(1, std::chrono::seconds(5)));
        waveOutUnprepareHeader(device, &header, sizeof header);
        waveOutClose(device);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto heard = second.Stop();
        ASSERT_GT(heard.size(), 44100u / 4);
        EXPECT_GT(testsupport::Goertzel(heard, 880, 44100),
                  100 * testsupport::Goertzel(heard, 1500, 44100));
    }
}
