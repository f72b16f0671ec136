#include "audio/ACS_Audio.h"

#include "audio/TestSources.h"
#include "platform/WaveOut.h"

#include <gtest/gtest.h>

#include "support/SoundServer.h"
#include "support/TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

using namespace audio;
using namespace audio::test;
using testsupport::Goertzel;
using testsupport::MonitorRecording;
using testsupport::TestSink;
namespace fs = std::filesystem;

namespace {

Bytes EightBitSine(std::int32_t rate, double freq, double seconds) {
    Bytes out(static_cast<size_t>(rate * seconds));
    for (size_t n = 0; n < out.size(); ++n) {
        out[n] = static_cast<std::uint8_t>(std::lround(
            128 + 100 * std::sin(2 * std::numbers::pi * freq * static_cast<double>(n) / rate)));
    }
    return out;
}

} // namespace

TEST(AudioOut, AToneSentToTheDeviceArrivesAtTheSinkInItsOwnFormat) {
    REQUIRE_SOUND_SERVER();
    const auto [channel, sink] = TestSink();
    struct Case {
        double freq;
        std::int32_t rate;
        std::int32_t channels;
        std::int32_t bits;
    };
    for (const Case& c : {Case{1000, 44100, 2, 16}, Case{750, 22050, 1, 8}}) {
        SCOPED_TRACE(c.freq);
        const double seconds = 1.2;
        Bytes pcm =
            c.bits == 16
                ? SinePcm(c.rate, std::vector<double>(static_cast<std::size_t>(c.channels), c.freq),
                          seconds, 12000)
                : EightBitSine(c.rate, c.freq, seconds);
        TMemorySource source(pcm, c.rate, c.channels, c.bits);
        TAudioOut out;
        EXPECT_EQ(out.Delay(), 6);
        out.SetBaseChannel(channel);
        TEventLog log;
        log.Attach(out);
        out.SetInput(&source);
        MonitorRecording recording(sink);
        const auto start = std::chrono::steady_clock::now();
        out.Run();
        ASSERT_TRUE(log.WaitForEnds(1, std::chrono::seconds(10)));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(log.Done(), 1) << log.LastMessage();
        // The run ends only once the queued buffers have been played.
        EXPECT_GT(took, std::chrono::milliseconds(static_cast<int>(seconds * 1000) - 150));
        EXPECT_EQ(source.flushes.load(), 1);
        if (pcm.size() > 9 * 8192) { // more than the first step queues
            ASSERT_FALSE(log.Progress().empty());
            EXPECT_GE(log.Progress().back(), 90);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto recorded = recording.Stop();
        ASSERT_GT(recorded.size(), 44100u / 2) << "nothing recorded from " << sink << ".monitor";
        const double tone = Goertzel(recorded, c.freq, 44100);
        for (double other : {c.freq * 0.5, c.freq * 1.37, c.freq * 2.6}) {
            EXPECT_GT(tone, 100 * Goertzel(recorded, other, 44100)) << other;
        }
    }
}

TEST(AudioOut, StopEndsTheRunThroughOnDoneOnceTheQueuedBuffersHavePlayed) {
    REQUIRE_SOUND_SERVER();
    TMemorySource source(SinePcm(44100, {500.0, 500.0}, 10.0, 5000), 44100, 2, 16);
    TAudioOut out;
    out.SetBaseChannel(TestSink().first);
    TEventLog log;
    log.Attach(out);
    out.SetInput(&source);
    out.Run();
    EXPECT_THROW(out.SetBaseChannel(0), EACSException);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(out.Status(), osRunning);
    // At least the queue's worth is ahead of the sound: 9 blocks of 8192 bytes.
    EXPECT_GE(source.Position(), 9 * 8192);
    const auto stopped = std::chrono::steady_clock::now();
    out.Stop();
    ASSERT_TRUE(log.WaitForEnds(1, std::chrono::seconds(5)));
    EXPECT_EQ(log.Done(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(3));
    EXPECT_EQ(out.Status(), osIdle);
    EXPECT_LT(source.Position(), source.Size() / 2);
}

TEST(AudioOut, ADeviceThatCannotBeOpenedEndsTheRunAtOnceWithAnError) {
    TAudioOut::OutputDeviceCount(); // read the device count before the server disappears
    testsupport::ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/vellorine-no-server");
    TMemorySource source(SinePcm(44100, {500.0, 500.0}, 5.0, 5000), 44100, 2, 16);
    TAudioOut out;
    TEventLog log;
    log.Attach(out);
    out.SetInput(&source);
    const auto start = std::chrono::steady_clock::now();
    out.Run();
    ASSERT_TRUE(log.WaitForEnds(1, std::chrono::seconds(5)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(log.Failures(), 1);
    EXPECT_NE(log.LastMessage().find("could not be opened"), std::string::npos);
    EXPECT_FALSE(out.Busy());
    EXPECT_EQ(source.inits.load(), source.flushes.load());
}

TEST(AudioOut, BaseChannelTakesOnlyDevicesThatExist) {
    TAudioOut out;
    const std::int32_t count = TAudioOut::OutputDeviceCount();
    if (count == 0) {
        out.SetBaseChannel(5);
        EXPECT_EQ(out.BaseChannel(), 0);
        return;
    }
    try {
        out.SetBaseChannel(count + 4);
        FAIL() << "an absent channel was taken";
    } catch (const EACSException& e) {
        EXPECT_STREQ(e.what(),
                     ("Channel " + std::to_string(count + 4) + " is not available").c_str());
    }
    out.SetBaseChannel(count - 1);
    EXPECT_EQ(out.BaseChannel(), count - 1);
}
