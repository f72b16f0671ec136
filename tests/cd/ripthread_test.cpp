#include "cd/ripthread.h"

#include "cd/DiscImages.h"
#include "cd/RipHarness.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

namespace {

using namespace cd;
using cdtest::Le16;
using cdtest::Le32;
using cdtest::MakeImage;
using cdtest::ReadAll;
using cdtest::ScratchFolder;
using cdtest::UseImages;
using settings::TProcessInfo;
using testsupport::Bytes;

Bytes Slice(const Bytes& b, std::size_t from, std::size_t count) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + count));
}

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes Header(std::uint32_t dataSize) {
    const auto h = WavHeaderBytes(dataSize);
    return Bytes(h.begin(), h.end());
}

// Half of a 16-bit sample with exact halves going to the even neighbour.
std::int16_t HalfToEven(std::int16_t s) {
    const int floorHalf = s >> 1; // arithmetic shift: floor(s / 2)
    if ((s & 1) == 0) {
        return static_cast<std::int16_t>(floorHalf);
    }
    return static_cast<std::int16_t>(floorHalf % 2 == 0 ? floorHalf : floorHalf + 1);
}

class RipThread : public ::testing::Test {
protected:
    void SetUp() override {
        settings::Settings.CommonOptions = settings::TCommonOptions{};
        settings::Settings.CommonOptions.OutputFolder = out.Path();
        cue = MakeImage(images, "disc", {123, 40, 57, 200});
        UseImages({cue});
        image = ReadAll(images.File("disc.bin"));
        handle = cdtest::OpenFirstDrive();
        ASSERT_GT(handle, 0);
    }
    void TearDown() override { CloseCDHandle(handle); }

    // Runs one rip to its end and delivers what it posted.
    void Rip(int track, const std::string& title, HCDROM h,
             const std::function<void(TCDRipThread&)>& prepare = {}) {
        cdtest::RunRip(track, title, h, receiver, prepare);
    }

    Bytes TrackBytes(std::size_t firstFrame, std::size_t frames) const {
        return Slice(image, firstFrame * 2352, frames * 2352);
    }

    ScratchFolder images;
    ScratchFolder out;
    std::string cue;
    Bytes image;
    HCDROM handle = 0;
    testsupport::MessageRecorder receiver;
};

TEST_F(RipThread, WritesEachTrackAsAWavFileHoldingTheDiscsBytes) {
    const std::size_t firstFrames[] = {0, 123, 163};
    const std::size_t lengths[] = {123, 40, 57};
    for (int track = 1; track <= 3; ++track) {
        receiver.messages.clear();
        const std::string title = "Track0" + std::to_string(track);
        Rip(track, title, handle);
        const Bytes wav = ReadAll(out.File(title + ".wav"));
        const std::size_t frames = lengths[track - 1];
        const auto dataSize = static_cast<std::uint32_t>(frames * 2352);
        ASSERT_EQ(wav.size(), 44 + dataSize) << title;
        EXPECT_EQ(wav, Concat(Header(dataSize), TrackBytes(firstFrames[track - 1], frames)))
            << title;

        ASSERT_FALSE(receiver.messages.empty());
        const TProcessInfo& last = receiver.messages.back().info;
        EXPECT_EQ(last.Code, settings::PI_TRACK_EXTRACTED);
        EXPECT_EQ(last.Status, RipStatusOk);
        // One progress record per read of ten frames, the last read taking the rest.
        EXPECT_EQ(receiver.ProgressRecords().size(), (frames + 9) / 10) << title;
    }
}

TEST_F(RipThread, HeaderIsTheFixedPcmLayout) {
    Rip(2, "two", handle);
    const Bytes wav = ReadAll(out.File("two.wav"));
    ASSERT_GE(wav.size(), 44u);
    const std::string tags = std::string(wav.begin(), wav.begin() + 4) +
                             std::string(wav.begin() + 8, wav.begin() + 16) +
                             std::string(wav.begin() + 36, wav.begin() + 40);
    EXPECT_EQ(tags, "RIFFWAVEfmt data");
    EXPECT_EQ(Le32(wav, 4), 40u * 2352 + 36);
    EXPECT_EQ(Le32(wav, 16), 16u);
    EXPECT_EQ(Le16(wav, 20), 1);
    EXPECT_EQ(Le16(wav, 22), 2);
    EXPECT_EQ(Le32(wav, 24), 44100u);
    EXPECT_EQ(Le32(wav, 28), 176400u);
    EXPECT_EQ(Le16(wav, 32), 4);
    EXPECT_EQ(Le16(wav, 34), 16);
    EXPECT_EQ(Le32(wav, 40), 40u * 2352);
}

TEST_F(RipThread, ProgressRisesToOneHundredWithElapsedAndEstimatedTotalTimes) {
    // The clock reads 0 s at the start, then these times at each of the four reads.
    const std::vector<int> seconds = {0, 10, 25, 61, 6001};
    Rip(2, "timed", handle, [&](TCDRipThread& t) {
        auto calls = std::make_shared<std::size_t>(0);
        t.SetClock([seconds, calls] {
            const int s = seconds.at(std::min(*calls, seconds.size() - 1));
            ++*calls;
            return std::chrono::system_clock::time_point(std::chrono::seconds(1700000000 + s));
        });
    });
    const auto records = receiver.ProgressRecords();
    ASSERT_EQ(records.size(), 4u);
    const std::vector<std::string> elapsed = {"00:10", "00:25", "01:01", "100:01"};
    // Estimated total = round(elapsed * 100 / percent): 40, 50, 81.33, 6001.
    const std::vector<std::string> estimated = {"00:40", "00:50", "01:21", "100:01"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].Code, static_cast<int>(25 * (i + 1)));
        EXPECT_EQ(records[i].Elapsed, elapsed[i]);
        EXPECT_EQ(records[i].Estimated, estimated[i]);
        EXPECT_EQ(records[i].Status, 0);
    }
}

TEST(RipProgressRecord, PercentZeroCarriesNoTimesAndEstimatesRoundHalfToEven) {
    const auto zero = MakeProgressInfo(0, 42);
    EXPECT_TRUE(zero->Elapsed.empty());
    EXPECT_TRUE(zero->Estimated.empty());
    EXPECT_EQ(MakeProgressInfo(8, 1)->Estimated, "00:12"); // 12.5
    EXPECT_EQ(MakeProgressInfo(8, 3)->Estimated, "00:38"); // 37.5
    EXPECT_EQ(MakeProgressInfo(50, 90)->Elapsed, "01:30");
    EXPECT_EQ(MakeProgressInfo(50, 90)->Estimated, "03:00");
}

TEST(MinSecTextOfSeconds, ShowsTwoDigitsEachAndUnlimitedMinutes) {
    EXPECT_EQ(settings::MinSecText(0), "00:00");
    EXPECT_EQ(settings::MinSecText(59), "00:59");
    EXPECT_EQ(settings::MinSecText(61), "01:01");
    EXPECT_EQ(settings::MinSecText(600), "10:00");
    EXPECT_EQ(settings::MinSecText(6000), "100:00");
    EXPECT_EQ(settings::MinSecText(-5), "00:00");
}

TEST_F(RipThread, RipTimeLimitTakesOnlyTheStartOfTheTrack) {
    settings::Settings.CommonOptions.EnableRipTime = true;
    settings::Settings.CommonOptions.RipTime = 1; // 75 frames
    Rip(4, "limited", handle);
    const Bytes wav = ReadAll(out.File("limited.wav"));
    EXPECT_EQ(wav, Concat(Header(75 * 2352), TrackBytes(220, 75)));
    EXPECT_EQ(receiver.ProgressRecords().size(), 8u); // 7 reads of 10, one of 5
    EXPECT_EQ(receiver.ProgressRecords().back().Code, 100);

    // A limit longer than the track changes nothing.
    settings::Settings.CommonOptions.RipTime = 30;
    Rip(2, "unlimited", handle);
    EXPECT_EQ(ReadAll(out.File("unlimited.wav")).size(), 44u + 40 * 2352);
}

TEST_F(RipThread, StoppingPartWayLeavesAPlayableFileWithMatchingSizesAndNoCompletion) {
    settings::Settings.CommonOptions.IsNormalize = true;
    Rip(4, "stopped", handle, [](TCDRipThread& t) {
        // The clock is read once at the start and once per read: stop during the 5th read.
        auto calls = std::make_shared<int>(0);
        t.SetClock([&t, calls] {
            if (++*calls == 5) {
                t.StopFlag = true;
            }
            return std::chrono::system_clock::now();
        });
    });
    const Bytes wav = ReadAll(out.File("stopped.wav"));
    EXPECT_EQ(wav, Concat(Header(40 * 2352), TrackBytes(220, 40)));
    for (const auto& m : receiver.messages) {
        EXPECT_LT(m.info.Code, settings::PI_NORMALIZE_STARTED)
            << "no normalize pass and no completion after a stop";
    }
    EXPECT_EQ(receiver.ProgressRecords().size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(out.File("stopped.nor")));
}

TEST_F(RipThread, NormalizeAtFiftyPercentHalvesEverySampleRoundingHalvesToEven) {
    settings::Settings.CommonOptions.IsNormalize = true;
    settings::Settings.CommonOptions.NormalizePercent = 50;
    Rip(1, "half", handle);
    const Bytes wav = ReadAll(out.File("half.wav"));
    const Bytes raw = TrackBytes(0, 123);
    ASSERT_EQ(wav.size(), 44 + raw.size());
    EXPECT_EQ(Slice(wav, 0, 44), Header(123 * 2352));
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < raw.size(); i += 2) {
        const auto s = static_cast<std::int16_t>(Le16(raw, i));
        if (static_cast<std::int16_t>(Le16(wav, 44 + i)) != HalfToEven(s)) {
            ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_FALSE(std::filesystem::exists(out.File("half.nor")));

    // The normalize event first, then the pass's progress up to 100, then the completion.
    std::size_t started = 0;
    while (started < receiver.messages.size() &&
           receiver.messages[started].info.Code != settings::PI_NORMALIZE_STARTED) {
        ++started;
    }
    ASSERT_LT(started, receiver.messages.size());
    const std::size_t blocks = (raw.size() + 2047) / 2048;
    ASSERT_EQ(receiver.messages.size(), started + 1 + blocks + 1 + 1);
    int previous = -1;
    for (std::size_t i = started + 1; i + 1 < receiver.messages.size(); ++i) {
        EXPECT_GE(receiver.messages[i].info.Code, previous);
        previous = receiver.messages[i].info.Code;
    }
    EXPECT_EQ(previous, 100);
    EXPECT_EQ(receiver.messages.back().info.Code, settings::PI_TRACK_EXTRACTED);
    EXPECT_EQ(receiver.messages.back().info.Status, RipStatusOk);
}

TEST_F(RipThread, NormalizeAtOneHundredPercentKeepsTheAudio) {
    settings::Settings.CommonOptions.IsNormalize = true;
    settings::Settings.CommonOptions.NormalizePercent = 100;
    Rip(3, "same", handle);
    EXPECT_EQ(ReadAll(out.File("same.wav")), Concat(Header(57 * 2352), TrackBytes(163, 57)));
}

TEST(NormalizeSample, RoundsHalvesToEvenAndStaysWithinSixteenBits) {
    EXPECT_EQ(ScaleSample(3, 0.5f), 2);
    EXPECT_EQ(ScaleSample(-3, 0.5f), -2);
    EXPECT_EQ(ScaleSample(5, 0.5f), 2);
    EXPECT_EQ(ScaleSample(-32768, 0.5f), -16384);
    EXPECT_EQ(ScaleSample(1000, 0.95f), 950);
    EXPECT_EQ(ScaleSample(30000, 1.5f), 32767);
    EXPECT_EQ(ScaleSample(-30000, 1.5f), -32768);
}

TEST_F(RipThread, AZeroFrameTrackCompletesWithAnEmptyWavFile) {
    settings::Settings.CommonOptions.EnableRipTime = true;
    settings::Settings.CommonOptions.RipTime = 0;
    settings::Settings.CommonOptions.IsNormalize = true;
    Rip(1, "empty", handle);
    EXPECT_EQ(ReadAll(out.File("empty.wav")), Header(0));
    ASSERT_FALSE(receiver.messages.empty());
    EXPECT_EQ(receiver.ProgressRecords().front().Code, 100);
    EXPECT_EQ(receiver.messages.back().info.Code, settings::PI_TRACK_EXTRACTED);
    EXPECT_EQ(receiver.messages.back().info.Status, RipStatusOk);
}

TEST_F(RipThread, DriveAndTableOfContentsFailuresPostRipErrors) {
    Rip(1, "nohandle", 15);
    ASSERT_EQ(receiver.messages.size(), 1u);
    EXPECT_EQ(receiver.messages[0].msg, settings::WM_RIPERROR);
    EXPECT_EQ(receiver.messages[0].lParam, RipErrorDriveSetup);

    receiver.messages.clear();
    Rip(5, "notondisc", handle);
    ASSERT_EQ(receiver.messages.size(), 1u);
    EXPECT_EQ(receiver.messages[0].msg, settings::WM_RIPERROR);
    EXPECT_EQ(receiver.messages[0].lParam, RipErrorNoTrack);
    EXPECT_FALSE(std::filesystem::exists(out.File("nohandle.wav")));
    EXPECT_FALSE(std::filesystem::exists(out.File("notondisc.wav")));
}

TEST_F(RipThread, AFileThatCannotBeCreatedEndsWithStatusFive) {
    Rip(2, "no/such/folder", handle);
    ASSERT_EQ(receiver.messages.size(), 1u);
    EXPECT_EQ(receiver.messages[0].info.Code, settings::PI_TRACK_EXTRACTED);
    EXPECT_EQ(receiver.messages[0].info.Status, RipStatusFileFailed);
}

TEST_F(RipThread, AFailedDriveReadEndsWithStatusThreeAndKeepsThePartialFile) {
    images.WriteText("disc.bin", "");
    Rip(2, "broken", handle);
    ASSERT_EQ(receiver.messages.size(), 2u);
    EXPECT_EQ(receiver.messages[0].info.Code, 25); // the failed read still counts
    EXPECT_EQ(receiver.messages[1].info.Code, settings::PI_TRACK_EXTRACTED);
    EXPECT_EQ(receiver.messages[1].info.Status, RipStatusReadFailed);
    EXPECT_EQ(ReadAll(out.File("broken.wav")), Header(0));
}

TEST_F(RipThread, ANormalizePassThatCannotWriteReportsItAndKeepsTheExtractedFile) {
    settings::Settings.CommonOptions.IsNormalize = true;
    settings::Settings.CommonOptions.NormalizePercent = 50;
    std::filesystem::create_directory(out.File("blocked.nor"));
    Rip(2, "blocked", handle);
    EXPECT_EQ(ReadAll(out.File("blocked.wav")), Concat(Header(40 * 2352), TrackBytes(123, 40)));
    ASSERT_FALSE(receiver.messages.empty());
    EXPECT_EQ(receiver.messages.back().info.Code, settings::PI_TRACK_EXTRACTED);
    EXPECT_EQ(receiver.messages.back().info.Status, RipStatusNormalizeFailed);
}

// The owner hands the thread a copy of the settings when it makes it: what the Options
// window changes while the thread waits or runs never reaches the worker.
TEST_F(RipThread, RipsWithTheSettingsItWasMadeWithNotTheOnesChangedAfterwards) {
    ScratchFolder elsewhere;
    Rip(2, "copied", handle, [&](TCDRipThread&) {
        auto& changed = settings::Settings.CommonOptions;
        changed.OutputFolder = elsewhere.Path();
        changed.IsNormalize = true;
        changed.NormalizePercent = 50;
        changed.EnableRipTime = true;
        changed.RipTime = 0;
    });
    EXPECT_EQ(ReadAll(out.File("copied.wav")), Concat(Header(40 * 2352), TrackBytes(123, 40)));
    EXPECT_FALSE(std::filesystem::exists(elsewhere.File("copied.wav")));
    ASSERT_EQ(receiver.Events().size(), 1u); // no normalize pass
    EXPECT_EQ(receiver.LastStatus(settings::PI_TRACK_EXTRACTED), RipStatusOk);
}

TEST_F(RipThread, AThreadFreedWithoutBeingStartedDoesNothing) {
    auto thread =
        std::make_unique<TCDRipThread>(1, "never", cd::TRipOptions{out.File("never.wav")});
    thread->NotifyWindow = &receiver;
    thread.reset();
    QCoreApplication::sendPostedEvents(&receiver);
    EXPECT_TRUE(receiver.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(out.File("never.wav")));
}

} // namespace

namespace {

// A disk that fills up part-way, made with a file size limit.
TEST_F(RipThread, ADiskThatFillsUpEndsWithStatusFiveInsteadOfAShortFileReportedDone) {
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 44 + 20 * 2352 + 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Rip(4, "full", handle);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_FALSE(receiver.messages.empty());
    EXPECT_EQ(receiver.messages.back().info.Code, settings::PI_TRACK_EXTRACTED);
    EXPECT_EQ(receiver.messages.back().info.Status, RipStatusFileFailed);
}

} // namespace

namespace {

// A TOC as ReadTOC gives it with minute:second:frame addresses: each track's LSN, then the
// lead-out; track `data` (1-based, 0 for none) is a data track.
cd::TTOC TocOf(const std::vector<std::uint32_t>& lsns, std::uint32_t leadOut, int data = 0) {
    cd::TTOC toc{};
    toc.firstTrack = 1;
    toc.lastTrack = static_cast<std::uint8_t>(lsns.size());
    auto fill = [&](std::size_t i, std::uint32_t lsn, bool isData) {
        const std::uint32_t lba = lsn + 150;
        toc.tracks[i].adr = static_cast<std::uint8_t>(0x10 | (isData ? 0x04 : 0));
        toc.tracks[i].addr[1] = static_cast<std::uint8_t>(lba / 4500);
        toc.tracks[i].addr[2] = static_cast<std::uint8_t>(lba / 75 % 60);
        toc.tracks[i].addr[3] = static_cast<std::uint8_t>(lba % 75);
    };
    for (std::size_t i = 0; i < lsns.size(); ++i) {
        fill(i, lsns[i], static_cast<int>(i) + 1 == data);
    }
    fill(lsns.size(), leadOut, false);
    return toc;
}

struct SpanCase {
    const char* what;
    cd::TTOC toc;
    int track;
    cd::TRipSpan kind;
    bool secure;
    std::optional<std::pair<std::int64_t, std::int64_t>> span; // start, length
};

// A data session after the audio starts 11 400 frames after the audio's end.
const SpanCase kSpanCases[] = {
    {"a track", TocOf({0, 300}, 900), 2, cd::TRipSpan::Track, false, std::pair{300, 600}},
    {"a track after audio before track 1", TocOf({30, 300}, 900), 2, cd::TRipSpan::Track, false,
     std::pair{270, 600}},
    {"no such track", TocOf({0, 300}, 900), 3, cd::TRipSpan::Track, false, std::nullopt},
    {"the audio before track 1", TocOf({30, 300}, 900), 0, cd::TRipSpan::HiddenTrack, false,
     std::pair{-30, 30}},
    {"no audio before track 1", TocOf({0, 300}, 900), 0, cd::TRipSpan::HiddenTrack, false,
     std::nullopt},
    {"the whole disc from its first sector", TocOf({30, 300}, 900), 0, cd::TRipSpan::WholeDisc,
     false, std::pair{-30, 900}},
    {"the whole disc without a data session", TocOf({0, 300, 12000}, 13000, 3), 0,
     cd::TRipSpan::WholeDisc, false, std::pair{0, 600}},
    {"the last audio track before a data session, plain", TocOf({0, 300, 12000}, 13000, 3), 2,
     cd::TRipSpan::Track, false, std::pair{300, 11700}},
    {"the last audio track before a data session, secure", TocOf({0, 300, 12000}, 13000, 3), 2,
     cd::TRipSpan::Track, true, std::pair{300, 300}},
    {"the whole disc after a data track", TocOf({0, 600, 900}, 1200, 1), 0, cd::TRipSpan::WholeDisc,
     false, std::pair{600, 600}},
    {"nothing hidden before a data track 1", TocOf({0, 600}, 900, 1), 0, cd::TRipSpan::HiddenTrack,
     false, std::nullopt},
};

class SpanOfRip : public ::testing::TestWithParam<SpanCase> {};

TEST_P(SpanOfRip, CountsFramesFromTrackOnesStart) {
    const SpanCase& c = GetParam();
    const std::optional<cd::FrameSpan> span = cd::SpanOf(c.toc, c.track, c.kind, c.secure);
    ASSERT_EQ(span.has_value(), c.span.has_value()) << c.what;
    if (span) {
        EXPECT_EQ(span->start, c.span->first) << c.what;
        EXPECT_EQ(span->length, c.span->second) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Tocs, SpanOfRip, ::testing::ValuesIn(kSpanCases),
                         [](const auto& param) { return "case" + std::to_string(param.index); });

} // namespace
