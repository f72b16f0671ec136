#include "platform/MciCdAudio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>

#include "support/SoundServer.h"

using namespace platform;

namespace {

constexpr std::uint32_t kSecond = 75; // frames

// A disc whose track t holds a tone of 330 * t Hz; reads from failFrame on fail.
class ToneDisc : public CdAudioSource {
public:
    explicit ToneDisc(std::vector<std::uint32_t> starts, std::uint32_t failFrame = ~0u)
        : starts_(std::move(starts)), failFrame_(failFrame) {}
    bool TrackStarts(std::vector<std::uint32_t>& starts) override {
        starts = starts_;
        return !starts_.empty();
    }
    bool ReadFrames(std::uint32_t first, std::uint32_t count, std::uint8_t* out) override {
        if (first + count > failFrame_) {
            return false;
        }
        for (std::uint32_t f = first; f < first + count; ++f) {
            const double freq = 330.0 * TrackOf(f);
            for (std::uint32_t j = 0; j < 588; ++j, out += 4) {
                const double t = (f * 588.0 + j) / 44100.0;
                const auto v = static_cast<std::int16_t>(
                    std::lround(12000 * std::sin(2 * std::numbers::pi * freq * t)));
                for (int c = 0; c < 2; ++c) {
                    out[2 * c] = static_cast<std::uint8_t>(v & 0xFF);
                    out[2 * c + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
                }
            }
        }
        return true;
    }

private:
    int TrackOf(std::uint32_t frame) const {
        int t = 1;
        while (t < static_cast<int>(starts_.size()) - 1 &&
               frame >= starts_[static_cast<std::size_t>(t)]) {
            ++t;
        }
        return t;
    }
    std::vector<std::uint32_t> starts_;
    std::uint32_t failFrame_;
};

// Notifications as they arrive, from whichever thread.
class NotifyLog {
public:
    MciCdAudio::NotifyFn Fn() {
        return [this](std::uint32_t result) {
            std::lock_guard lock(m_);
            results_.push_back(result);
            cv_.notify_all();
        };
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, timeout, [&] { return results_.size() >= count; });
    }
    std::vector<std::uint32_t> Results() {
        std::lock_guard lock(m_);
        return results_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::uint32_t> results_;
};

std::unique_ptr<ToneDisc> TwoTracks(std::uint32_t failFrame = ~0u) {
    return std::make_unique<ToneDisc>(std::vector<std::uint32_t>{0, kSecond, 4 * kSecond},
                                      failFrame);
}

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST(CdAudioDevice, ATrackPlaysToTheNextTrackIsHeardAndNotifiesSuccessOnce) {
    REQUIRE_SOUND_SERVER();
    const auto [id, sink] = testsupport::TestSink();
    MciCdAudio device(static_cast<std::uint32_t>(id));
    ASSERT_EQ(device.Open(TwoTracks()), MCIERR_NOERROR);
    EXPECT_EQ(device.TrackCount(), 2);
    EXPECT_EQ(device.TrackPosition(2), kSecond);
    EXPECT_EQ(device.Length(), 4 * kSecond);
    NotifyLog log;
    testsupport::MonitorRecording recording(sink);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(device.Play(device.TrackPosition(1), device.TrackPosition(2), log.Fn()),
              MCIERR_NOERROR);
    EXPECT_EQ(device.Mode(), MciMode::Playing);
    ASSERT_TRUE(log.WaitFor(1, std::chrono::seconds(5)));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(took, std::chrono::milliseconds(900)) << "notified only once the track was heard";
    EXPECT_LT(took, std::chrono::seconds(5)); // the null sink reports late: it buffers up to 2 s
    Sleep(300);
    const auto heard = recording.Stop();
    EXPECT_EQ(log.Results(), std::vector<std::uint32_t>{MCI_NOTIFY_SUCCESSFUL});
    EXPECT_EQ(device.Mode(), MciMode::Stopped);
    EXPECT_EQ(device.Position(), kSecond);
    ASSERT_GT(heard.size(), 44100u / 2);
    const double tone = testsupport::Goertzel(heard, 330, 44100);
    EXPECT_GT(tone, 100 * testsupport::Goertzel(heard, 660, 44100)) << "track 2 was not played";
    EXPECT_GT(tone, 100 * testsupport::Goertzel(heard, 500, 44100));
}

TEST(CdAudioDevice, PauseHoldsThePositionResumePlaysOnAndStopAborts) {
    REQUIRE_SOUND_SERVER();
    MciCdAudio device(static_cast<std::uint32_t>(testsupport::TestSink().first));
    ASSERT_EQ(device.Open(TwoTracks()), MCIERR_NOERROR);
    NotifyLog log;
    ASSERT_EQ(device.Play(device.TrackPosition(2), device.Length(), log.Fn()), MCIERR_NOERROR);
    // Wait until some of the track has been heard (the sink's latency comes first).
    testsupport::WaitUntil(
        [&] { return device.Position() >= device.TrackPosition(2) + kSecond / 4; },
        std::chrono::seconds(2));
    const auto pausedAt = device.Position();
    ASSERT_GE(pausedAt, device.TrackPosition(2) + kSecond / 4);
    ASSERT_EQ(device.Pause(), MCIERR_NOERROR);
    EXPECT_EQ(device.Mode(), MciMode::Paused);
    Sleep(150);
    const std::uint32_t held = device.Position();
    // What was queued but not heard yet counts as not played.
    EXPECT_GE(held, pausedAt);
    EXPECT_LT(held, pausedAt + kSecond / 2);
    Sleep(400);
    EXPECT_EQ(device.Position(), held) << "nothing plays while paused";
    EXPECT_EQ(device.Pause(), MCIERR_NONAPPLICABLE_FUNCTION);

    ASSERT_EQ(device.Resume(), MCIERR_NOERROR);
    EXPECT_EQ(device.Mode(), MciMode::Playing);
    EXPECT_EQ(device.Resume(), MCIERR_NONAPPLICABLE_FUNCTION);
    EXPECT_TRUE(
        testsupport::WaitUntil([&] { return device.Position() > held; }, std::chrono::seconds(2)))
        << "resumed play goes on";
    EXPECT_TRUE(log.Results().empty());

    ASSERT_EQ(device.Stop(), MCIERR_NOERROR);
    EXPECT_EQ(device.Mode(), MciMode::Stopped);
    EXPECT_EQ(log.Results(), std::vector<std::uint32_t>{MCI_NOTIFY_ABORTED});
    EXPECT_EQ(device.Pause(), MCIERR_NONAPPLICABLE_FUNCTION);
    EXPECT_EQ(device.Close(), MCIERR_NOERROR);
    EXPECT_EQ(device.Mode(), MciMode::NotOpen);
}

TEST(CdAudioDevice, CommandsFollowTheStateRulesAndEachPlayEndsOnce) {
    REQUIRE_SOUND_SERVER();
    MciCdAudio device(static_cast<std::uint32_t>(testsupport::TestSink().first));
    EXPECT_EQ(device.Mode(), MciMode::NotOpen);
    for (MCIERROR error :
         {device.Play(0, 10, {}), device.Pause(), device.Resume(), device.Stop(), device.Close()}) {
        EXPECT_EQ(error, MCIERR_DEVICE_NOT_OPEN);
    }
    EXPECT_EQ(device.Open(std::make_unique<ToneDisc>(std::vector<std::uint32_t>{})),
              MCIERR_DEVICE_NOT_READY);
    EXPECT_EQ(device.Mode(), MciMode::NotOpen);

    ASSERT_EQ(device.Open(TwoTracks()), MCIERR_NOERROR);
    EXPECT_EQ(device.Play(4 * kSecond, 5 * kSecond, {}), MCIERR_OUTOFRANGE);
    EXPECT_EQ(device.Play(10, 10, {}), MCIERR_OUTOFRANGE);
    NotifyLog first;
    NotifyLog second;
    ASSERT_EQ(device.Play(0, kSecond, first.Fn()), MCIERR_NOERROR);
    ASSERT_EQ(device.Play(2 * kSecond, 9 * kSecond, second.Fn()), MCIERR_NOERROR)
        << "the end is cut to the disc's end";
    EXPECT_EQ(first.Results(), std::vector<std::uint32_t>{MCI_NOTIFY_SUPERSEDED});
    // Reopening ends the play in progress too.
    ASSERT_EQ(device.Open(TwoTracks()), MCIERR_NOERROR);
    EXPECT_EQ(second.Results(), std::vector<std::uint32_t>{MCI_NOTIFY_ABORTED});
    EXPECT_EQ(device.Mode(), MciMode::Stopped);
}

TEST(CdAudioDevice, AFrameThatCannotBeReadEndsThePlayWithFailure) {
    REQUIRE_SOUND_SERVER();
    MciCdAudio device(static_cast<std::uint32_t>(testsupport::TestSink().first));
    ASSERT_EQ(device.Open(TwoTracks(kSecond / 3)), MCIERR_NOERROR);
    NotifyLog log;
    ASSERT_EQ(device.Play(0, kSecond, log.Fn()), MCIERR_NOERROR);
    ASSERT_TRUE(log.WaitFor(1, std::chrono::seconds(5)));
    EXPECT_EQ(log.Results(), std::vector<std::uint32_t>{MCI_NOTIFY_FAILURE});
    EXPECT_EQ(device.Mode(), MciMode::Stopped);
    EXPECT_EQ(device.Stop(), MCIERR_NOERROR);
    EXPECT_EQ(log.Results().size(), 1u) << "a play ends exactly once";
}

} // namespace
