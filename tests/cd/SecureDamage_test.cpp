// Secure rips of damaged disc images: wherever the damage lies (inside a verify block, on
// its edges, across track boundaries) every frame that comes out wrong is counted and only
// those, and no damage keeps a rip, or its Stop, waiting on the drive.
#include "cd/DiscImages.h"
#include "cd/FaultySectors.h"
#include "cd/RipHarness.h"
#include "cd/RipSession.h"
#include "cd/ripthread.h"
#include "settings/Global.h"
#include "support/QtTestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace {

using namespace cd;
using testsupport::Bytes;
using testsupport::ScopedEnv;
using testsupport::ScratchFolder;
using Clock = std::chrono::steady_clock;

constexpr std::size_t FrameBytes = 2352;
// A rip that takes longer than this has hung: it is stopped, and the case fails.
constexpr auto RipTimeLimit = std::chrono::seconds(60);

// An image made for one case; the damage must be in the environment before it opens.
struct Disc {
    Disc(const std::vector<int>& trackFrames, const std::string& extraArgs = "")
        : frames(trackFrames) {
        cdtest::UseImages({cdtest::MakeImage(dir, "disc", frames, extraArgs)});
        image = testsupport::ReadAll(dir.File("disc.bin"));
        handle = cdtest::OpenFirstDrive();
    }
    ~Disc() { CloseCDHandle(handle); }
    std::int64_t FirstFrame(int track) const {
        std::int64_t first = 0;
        for (int t = 1; t < track; ++t) {
            first += frames[static_cast<std::size_t>(t - 1)];
        }
        return first;
    }
    ScratchFolder dir;
    std::vector<int> frames;
    Bytes image;
    HCDROM handle = 0;
};

// Sets the flag after a time limit unless it is dismissed first.
class Watchdog {
public:
    Watchdog(std::atomic<bool>& flag, std::chrono::seconds limit)
        : thread_([this, &flag, limit] {
              std::unique_lock lock(mutex_);
              if (!wake_.wait_for(lock, limit, [this] { return dismissed_; })) {
                  flag = true;
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            dismissed_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool dismissed_ = false;
    std::thread thread_;
};

struct Outcome {
    std::int32_t status = -1; // -1: no completion event (stopped by the watchdog)
    Bytes audio;
    std::vector<RipLogTrack> records;
};

Outcome SecureRip(const Disc& disc, int track, RipSessionOptions options) {
    ScratchFolder out;
    settings::Settings.CommonOptions = settings::TCommonOptions{};
    settings::Settings.CommonOptions.OutputFolder = out.Path();
    options.outputFolder = out.Path();
    options.accurateRip = false;
    auto session = std::make_shared<RipSession>(options);
    testsupport::MessageRecorder receiver;
    std::unique_ptr<Watchdog> watchdog;
    cdtest::RunRip(track, "t", disc.handle, receiver, [&](TCDRipThread& t) {
        t.Session = session;
        watchdog = std::make_unique<Watchdog>(t.StopFlag, RipTimeLimit);
    });
    Outcome outcome;
    outcome.status = receiver.LastStatus(settings::PI_TRACK_EXTRACTED);
    const Bytes wav = testsupport::ReadAll(out.File("t.wav"));
    outcome.audio.assign(wav.begin() + std::min<long>(44, static_cast<long>(wav.size())),
                         wav.end());
    outcome.records = session->Tracks();
    return outcome;
}

// The frames of a track (counted on the disc) whose bytes differ from the image.
std::set<std::int64_t> WrongFrames(const Disc& disc, int track, const Bytes& audio) {
    std::set<std::int64_t> wrong;
    const std::int64_t first = disc.FirstFrame(track);
    const auto frames = disc.frames[static_cast<std::size_t>(track - 1)];
    for (std::int64_t f = 0; f < frames; ++f) {
        const auto at = static_cast<std::size_t>(f) * FrameBytes;
        const auto from = static_cast<std::size_t>(first + f) * FrameBytes;
        if (at + FrameBytes > audio.size() ||
            !std::equal(audio.begin() + static_cast<long>(at),
                        audio.begin() + static_cast<long>(at + FrameBytes),
                        disc.image.begin() + static_cast<long>(from))) {
            wrong.insert(first + f);
        }
    }
    return wrong;
}

std::set<std::int64_t> Range(std::int64_t first, std::int64_t last) {
    std::set<std::int64_t> frames;
    for (std::int64_t f = first; f <= last; ++f) {
        frames.insert(f);
    }
    return frames;
}

TEST(SecureDamage, EveryWrongFrameIsCountedWhereverTheDamageLies) {
    // Tracks 1-3 at frames 0, 750 and 1500; image drives verify blocks of 32 sectors from
    // the track's start, so track 2's blocks begin at 750, 782, 814, ...
    struct Case {
        const char* damage;
        int track;
        std::set<std::int64_t> wrong; // the frames of the track that cannot come out right
    };
    const Case cases[] = {
        {"750=fail", 2, {750}},               // first sector of the track and of a block
        {"751=noise", 2, {751}},              // next to the block's first
        {"766=fail", 2, {766}},               // inside a block
        {"781=noise", 2, {781}},              // last sector of a block
        {"779-784=fail", 2, Range(779, 784)}, // across two blocks
        {"1490=fail", 2, {1490}},             // near the end of the track
        {"1499=fail", 2, {1499}},             // its last sector
        {"749=fail", 2, {}},                  // the track before: paranoia reads across
        {"1500=fail", 2, {}},                 // the track after
        {"1500=fail", 3, {1500}},             // first sector of the last track
        {"1497-1502=noise", 2, Range(1497, 1499)},
        {"1497-1502=noise", 3, Range(1500, 1502)},
        {"770,790,1000-1001=fail", 2, {770, 790, 1000, 1001}},
        {"760=flaky", 2, {}}, // a second read gets it right
    };
    RipSessionOptions options;
    options.sectorRetries = 3; // keeps the sweep quick; the budget's size is not the point
    const Disc disc({750, 750, 750});
    ASSERT_GT(disc.handle, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.damage) + ", track " + std::to_string(c.track));
        // Secure reads take the damage from the environment at the start of each rip.
        ScopedEnv damage("VELLORINE_FAULTY_SECTORS", c.damage);
        const Outcome got = SecureRip(disc, c.track, options);
        ASSERT_NE(got.status, -1) << "the rip did not end by itself";
        EXPECT_EQ(got.status, c.wrong.empty() ? RipStatusOk : RipStatusUncorrectable);
        EXPECT_EQ(WrongFrames(disc, c.track, got.audio), c.wrong);
        ASSERT_EQ(got.records.size(), 1u);
        EXPECT_EQ(got.records[0].uncorrectableFrames, c.wrong.size());
        EXPECT_GE(got.records[0].rereadFrames, got.records[0].uncorrectableFrames);
    }
}

TEST(SecureDamage, TheReadmeExampleWithTheDefaultBudgetAndTestAndCopy) {
    ScopedEnv damage("VELLORINE_FAULTY_SECTORS", "1500,2000-2004=noise,3000=flaky");
    const Disc disc({750, 750, 2500});
    ASSERT_GT(disc.handle, 0);
    for (const bool testAndCopy : {false, true}) {
        SCOPED_TRACE(testAndCopy ? "test and copy" : "copy");
        RipSessionOptions options;
        options.testAndCopy = testAndCopy;
        const Outcome got = SecureRip(disc, 3, options);
        ASSERT_NE(got.status, -1) << "the rip did not end by itself";
        EXPECT_EQ(got.status, RipStatusUncorrectable);
        const std::set<std::int64_t> wrong = {1500, 2000, 2001, 2002, 2003, 2004};
        EXPECT_EQ(WrongFrames(disc, 3, got.audio), wrong);
        ASSERT_EQ(got.records.size(), 1u);
        EXPECT_EQ(got.records[0].uncorrectableFrames, wrong.size());
    }
}

TEST(SecureDamage, ASectorThatStallsEveryReadIsGivenUpWhenItsTimeIsSpent) {
    ScopedEnv damage("VELLORINE_FAULTY_SECTORS", "100=stall");
    const Disc disc({300});
    ASSERT_GT(disc.handle, 0);
    RipSessionOptions options;
    options.sectorRetries = 1000; // only the time limit can end it
    options.sectorTime = std::chrono::milliseconds(500);
    const Outcome got = SecureRip(disc, 1, options);
    ASSERT_NE(got.status, -1) << "the rip did not end by itself";
    EXPECT_EQ(got.status, RipStatusUncorrectable);
    EXPECT_EQ(WrongFrames(disc, 1, got.audio), std::set<std::int64_t>{100});
}

// Stop while the drive is stuck: the owner's delete must not wait for the drive.
TEST(SecureDamage, StopReturnsWithoutWaitingForAStuckRead) {
    struct Case {
        const char* what;
        const char* damage;
        bool secure;
        int retries;
    };
    const Case cases[] = {
        {"plain read inside a stalled read", "40-299=stall", false, 20},
        {"secure read inside a stalled read", "40-299=stall", true, 20},
        // Paranoia itself never gives up here: only the stop can end its loop.
        {"secure read re-reading for ever", "40-299=fail", true, 1000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv damage("VELLORINE_FAULTY_SECTORS", c.damage);
        Disc disc({300});
        ASSERT_GT(disc.handle, 0);
        ScratchFolder out;
        settings::Settings.CommonOptions = settings::TCommonOptions{};
        settings::Settings.CommonOptions.OutputFolder = out.Path();
        RipSessionOptions options;
        options.outputFolder = out.Path();
        options.accurateRip = false;
        options.sectorRetries = c.retries;
        options.sectorTime = std::chrono::minutes(10);
        auto session = c.secure ? std::make_shared<RipSession>(options) : nullptr;
        testsupport::MessageRecorder receiver;
        auto thread =
            std::make_unique<TCDRipThread>(1, "stopped", cdtest::RipOptionsFromSettings("stopped"));
        thread->CDHandle = disc.handle;
        thread->NotifyWindow = &receiver;
        thread->Session = session;
        thread->Resume();
        // Frames 0-29 read well; the read that takes in frame 40 is the one that sticks.
        ASSERT_TRUE(testsupport::PumpUntil([&] { return receiver.Percentages().size() >= 3; }));
        testsupport::PumpFor(std::chrono::milliseconds(50));
        const auto stopped = Clock::now();
        thread->StopFlag = true;
        thread.reset();
        const auto took = Clock::now() - stopped;
        EXPECT_LT(took, FaultySectors::StallTime) << "waited for the drive";
        QCoreApplication::sendPostedEvents(&receiver);
        EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), -1);
        const Bytes wav = testsupport::ReadAll(out.File("stopped.wav"));
        ASSERT_GE(wav.size(), 44u);
        EXPECT_EQ(cdtest::Le32(wav, 40), wav.size() - 44) << "the header holds what was read";
        if (session) {
            EXPECT_TRUE(session->Tracks().empty());
        }
        // The main window closes its drive when it goes: not after the stuck read either.
        const auto closing = Clock::now();
        EXPECT_NE(CloseCDHandle(disc.handle), 0);
        EXPECT_LT(Clock::now() - closing, FaultySectors::StallTime) << "waited for the drive";
        disc.handle = 0;
    }
}

TEST(SecureDamage, TheLastAudioTrackOfAnEnhancedCdEndsWhereTheDiscIdsEndIt) {
    // Audio, audio, data: the data session starts 11 400 frames after the audio's end.
    const Disc disc({40, ArDataTrackGap + 100, 30}, "--data-track-last");
    ASSERT_GT(disc.handle, 0);
    RipSessionOptions options;
    const Outcome got = SecureRip(disc, 2, options);
    EXPECT_EQ(got.status, RipStatusOk);
    const auto first = static_cast<std::size_t>(disc.FirstFrame(2)) * FrameBytes;
    EXPECT_EQ(got.audio, Bytes(disc.image.begin() + static_cast<long>(first),
                               disc.image.begin() + static_cast<long>(first + 100 * FrameBytes)));
    ASSERT_EQ(got.records.size(), 1u);
    EXPECT_EQ(got.records[0].frames, 100u);
    EXPECT_FALSE(got.records[0].partial);
    EXPECT_TRUE(got.records[0].arV1) << "a whole track gets its AccurateRip sums";
}

TEST(SecureDamage, ALogWrittenWhileATrackIsReadGivesNoVerdict) {
    ScratchFolder out;
    RipSessionOptions options;
    options.outputFolder = out.Path();
    options.accurateRip = false;
    RipSession session(options);
    RipDisc disc;
    disc.toc = {{1, 0, 100, false}, {2, 100, 100, false}};
    disc.leadOut = 200;
    session.SetDisc(disc);
    const auto lastLine = [&] {
        const std::string log = testsupport::ReadText(session.LogPath());
        return log.substr(log.rfind('\n', log.size() - 2) + 1);
    };
    RipLogTrack one;
    one.number = 1;
    session.TrackStarted(1);
    EXPECT_FALSE(std::filesystem::exists(session.LogPath())) << "nothing to say yet";
    session.TrackDone(one);
    EXPECT_EQ(lastLine(), "No errors found; 1 track(s) not confirmed by AccurateRip\n");
    session.TrackStarted(2); // the program may die before track 2 is done
    EXPECT_EQ(lastLine(), "Track 02 is being ripped; no verdict yet\n");
    session.TrackStopped(2);
    EXPECT_EQ(lastLine(), "No errors found; 1 track(s) not confirmed by AccurateRip\n");
    session.TrackStarted(2);
    RipLogTrack two;
    two.number = 2;
    two.uncorrectableFrames = 1;
    session.TrackDone(two);
    EXPECT_EQ(lastLine(),
              "There were errors: 1 track(s) with frames that could not be read reliably\n");
}

TEST(SecureDamage, ReadsWithoutABufferNeverTouchMemoryAndFailLikeAnyOther) {
    struct Case {
        const char* kind;
        bool succeeds;
    };
    for (const Case c : {Case{"fail", false}, Case{"noise", true}, Case{"flaky", true}}) {
        SCOPED_TRACE(c.kind);
        FaultySectors faults(FaultySectors::Parse(std::string("5-6=") + c.kind));
        EXPECT_EQ(faults.Apply(4, 3, nullptr), c.succeeds);
        EXPECT_TRUE(faults.Apply(7, 2, nullptr)) << "undamaged sectors";
    }
    const auto ranges = FaultySectors::Parse("9=stall");
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].kind, FaultySectors::Kind::Stall);
}

TEST(SecureDamage, RipFilesWriteInPiecesOfTheirOwnBufferSize) {
    ScratchFolder dir;
    const std::string path = dir.File("buffered");
    BufferedFilePtr file = OpenBufferedFile(path, "wb");
    ASSERT_TRUE(file);
    const std::vector<std::uint8_t> block(23520, 1); // one read of ten frames
    std::size_t written = 0;
    while (written + block.size() < FileBufferBytes) {
        ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), file.get()), block.size());
        written += block.size();
    }
    EXPECT_EQ(std::filesystem::file_size(path), 0u) << "still in the buffer";
    ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), file.get()), block.size());
    EXPECT_GT(std::filesystem::file_size(path), 0u) << "the full buffer went out";
    file.reset();
    EXPECT_EQ(std::filesystem::file_size(path), written + block.size());
}

} // namespace
