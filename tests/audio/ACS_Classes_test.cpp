#include "audio/ACS_Classes.h"

#include "audio/TestSources.h"
#include "bytes/LittleEndian.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>

using namespace audio;
using namespace audio::test;
using namespace std::chrono_literals;

namespace {

Bytes Ramp(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    return b;
}

} // namespace

TEST(PipelineRun, aRunDeliversEveryByteAndReportsDoneOnTheWorker) {
    TMemorySource source(Ramp(100000), 44100, 2, 16);
    source.chunk = 1000;
    TMemorySink sink;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&source);

    EXPECT_EQ(sink.Status(), osIdle);
    sink.Run();
    ASSERT_TRUE(log.WaitForEnds(1));
    ASSERT_TRUE(WaitUntil([&] { return !sink.Busy(); }));

    EXPECT_EQ(sink.Collected(), source.data());
    EXPECT_EQ(log.Done(), 1);
    EXPECT_EQ(log.Failures(), 0);
    EXPECT_NE(log.DoneThread(), std::this_thread::get_id());
    EXPECT_EQ(log.DoneThread(), sink.stepThread.load());
    EXPECT_EQ(sink.Status(), osIdle);
    EXPECT_EQ(source.inits, 1);
    EXPECT_EQ(source.flushes, 1);
    EXPECT_FALSE(source.Busy());

    sink.Run(); // the suspended worker takes a second run
    ASSERT_TRUE(log.WaitForEnds(2));
    EXPECT_EQ(sink.Collected(), source.data());
}

TEST(PipelineRun, aRunStartedFromOnDoneIsNotLost) {
    TMemorySource source(Ramp(5000), 44100, 2, 16);
    TMemorySink sink;
    sink.SetInput(&source);
    std::atomic<int> done{0};
    sink.OnDone = [&](TACSOutput* sender) {
        if (++done == 1) {
            sender->Run();
        }
    };
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return done.load() == 2; }, 5s));
    EXPECT_EQ(source.inits, 2);
}

TEST(PipelineRun, runRefusesABusySinkAndAMissingInput) {
    TMemorySink idle;
    EXPECT_EQ(MessageOf([&] { idle.Run(); }), "Input is not assigned");
    EXPECT_EQ(idle.prepares, 0);

    TMemorySource source(Ramp(50000), 44100, 2, 16);
    source.gateFromCall = 1;
    TMemorySink sink;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&source);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return source.waitingAtGate.load(); }));
    EXPECT_EQ(sink.Status(), osRunning);
    EXPECT_EQ(MessageOf([&] { sink.Run(); }), "Component is buisy");
    EXPECT_EQ(sink.prepares, 1);
    source.gateOpen = true;
    ASSERT_TRUE(log.WaitForEnds(1));
    EXPECT_EQ(log.Done(), 1);
}

TEST(PipelineRun, aFailingPrepareIsReportedOnTheCallerAndTheSinkStaysUsable) {
    TMemorySource source(Ramp(3000), 44100, 2, 16);
    TMemorySink sink;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&source);
    sink.failPrepare = true;

    EXPECT_NO_THROW(sink.Run());
    EXPECT_EQ(log.Failures(), 1);
    EXPECT_EQ(log.LastMessage(), "cannot open the destination");
    EXPECT_EQ(log.FailureThread(), std::this_thread::get_id());
    EXPECT_FALSE(sink.Busy());
    EXPECT_EQ(sink.finishes, 0);

    sink.failPrepare = false;
    sink.Run();
    ASSERT_TRUE(log.WaitForEnds(2));
    EXPECT_EQ(log.Done(), 1);
    EXPECT_EQ(log.Failures(), 1);
    EXPECT_EQ(sink.Collected(), source.data());
}

TEST(PipelineRun, aFailingReadEndsTheRunThroughOnThreadException) {
    TMemorySource source(Ramp(40000), 44100, 2, 16);
    source.failAfter = 8192;
    TMemorySink sink;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&source);
    sink.Run();
    ASSERT_TRUE(log.WaitForEnds(1));
    ASSERT_TRUE(WaitUntil([&] { return sink.Status() == osIdle; }));
    EXPECT_EQ(log.Failures(), 1);
    EXPECT_EQ(log.Done(), 0);
    EXPECT_EQ(log.LastMessage(), "read failed");
    EXPECT_NE(log.FailureThread(), std::this_thread::get_id());
    EXPECT_EQ(sink.finishes, 1);
    EXPECT_EQ(source.flushes, 1);
    EXPECT_EQ(sink.CollectedSize(), 8192u);

    // The input lock must not stay set: a later run pulls again.
    source.failAfter = -1;
    sink.Run();
    ASSERT_TRUE(log.WaitForEnds(2));
    EXPECT_EQ(log.Done(), 1);
    EXPECT_EQ(sink.Collected(), source.data());
}

TEST(PipelineRun, stopEndsTheRunWithOnDone) {
    TMemorySource source(Ramp(1 << 20), 44100, 2, 16);
    source.gateFromCall = 3;
    TMemorySink sink;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&source);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return source.waitingAtGate.load(); }));
    sink.Stop();
    source.gateOpen = true;
    ASSERT_TRUE(log.WaitForEnds(1));
    ASSERT_TRUE(WaitUntil([&] { return !sink.Busy(); }));
    EXPECT_EQ(log.Done(), 1);
    EXPECT_EQ(log.Failures(), 0);
    EXPECT_EQ(sink.Status(), osIdle);
    EXPECT_EQ(sink.CollectedSize(), 3u * 4096u);
    EXPECT_EQ(source.flushes, 1);
}

TEST(PipelineRun, pauseHoldsTheWorkerAndResumeLetsItFinish) {
    TMemorySource source(Ramp(400000), 44100, 2, 16);
    source.gateFromCall = 2;
    TMemorySink sink;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&source);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return source.waitingAtGate.load(); }));
    sink.Pause();
    EXPECT_EQ(sink.Status(), osPaused);
    source.gateOpen = true;
    ASSERT_TRUE(WaitUntil([&] { return !source.waitingAtGate.load(); }));
    std::this_thread::sleep_for(20ms);
    const std::size_t held = sink.CollectedSize();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sink.CollectedSize(), held);
    EXPECT_EQ(sink.Status(), osPaused);
    EXPECT_EQ(log.Done(), 0);

    sink.Resume();
    ASSERT_TRUE(log.WaitForEnds(1));
    EXPECT_EQ(sink.Collected(), source.data());
}

TEST(PipelineProgress, progressFollowsTheInputSizeAndRoundsHalvesToEven) {
    TMemorySink sink;
    EXPECT_EQ(sink.Progress(), 0);

    TMemorySource open(Ramp(100), 44100, 2, 16);
    open.openSize = true;
    open.Init();
    sink.SetInput(&open);
    EXPECT_EQ(sink.Progress(), -1);

    TMemorySource empty(Bytes{}, 44100, 2, 16);
    empty.Init();
    sink.SetInput(&empty);
    EXPECT_EQ(sink.Progress(), 0);

    TMemorySource sized(Ramp(200), 44100, 2, 16);
    sized.Init();
    sink.SetInput(&sized);
    sized.SetPosition(1); // 0.5 %
    EXPECT_EQ(sink.Progress(), 0);
    sized.SetPosition(3); // 1.5 %
    EXPECT_EQ(sink.Progress(), 2);
    sized.SetPosition(5); // 2.5 %
    EXPECT_EQ(sink.Progress(), 2);
    sized.SetPosition(200);
    EXPECT_EQ(sink.Progress(), 100);
}

TEST(PipelineProgress, onProgressFiresOnlyWhenThePercentChanges) {
    TMemorySource source(Ramp(1000), 44100, 1, 8);
    TMemorySink sink;
    sink.blockSize = 3;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&source);
    sink.Run();
    ASSERT_TRUE(log.WaitForEnds(1));
    const auto progress = log.Progress();
    ASSERT_FALSE(progress.empty());
    for (std::size_t i = 1; i < progress.size(); ++i) {
        EXPECT_GT(progress[i], progress[i - 1]);
    }
    EXPECT_EQ(progress.back(), 100);
    // Steps of 0.3 % reach every percent from 1 to 100 once.
    EXPECT_EQ(progress.size(), 100u);
}

TEST(PipelineSettings, delayAboveOneHundredIsIgnored) {
    TMemorySink sink;
    EXPECT_EQ(sink.Delay(), 0);
    sink.SetDelay(40);
    sink.SetDelay(101);
    EXPECT_EQ(sink.Delay(), 40);
    sink.SetDelay(100);
    EXPECT_EQ(sink.Delay(), 100);
    EXPECT_TRUE(sink.SuspendWhenIdle());
}

TEST(PipelineWiring, aLiveSwapContinuesFromTheNewInput) {
    TMemorySource first(Ramp(200000), 44100, 2, 16);
    first.gateFromCall = 2;
    Bytes secondData(30000, 0xA5);
    TMemorySource second(secondData, 44100, 2, 16);
    TMemorySink sink;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&first);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return first.waitingAtGate.load(); }));

    // The swap waits for the GetData in progress, so it runs on a helper thread.
    auto swap = std::async(std::launch::async, [&] { sink.SetInput(&second); });
    ASSERT_TRUE(WaitUntil([&] { return second.inits.load() == 1; }));
    EXPECT_EQ(sink.Input(), &first);
    // Let the worker through one call at a time until the swap gets its turn.
    while (swap.wait_for(2ms) != std::future_status::ready) {
        first.AllowOneCall();
    }
    swap.get();
    EXPECT_EQ(sink.Input(), &second);
    EXPECT_EQ(first.flushes, 1);

    ASSERT_TRUE(log.WaitForEnds(1));
    const Bytes got = sink.Collected();
    ASSERT_GE(got.size(), secondData.size() + 2 * 4096);
    const std::size_t prefix = got.size() - secondData.size();
    EXPECT_EQ(prefix % 4096, 0u);
    const auto split = got.begin() + static_cast<std::ptrdiff_t>(prefix);
    EXPECT_TRUE(std::equal(got.begin(), split, first.data().begin()));
    EXPECT_TRUE(std::equal(split, got.end(), secondData.begin()));
    EXPECT_EQ(second.flushes, 1);
}

TEST(PipelineWiring, aFilterIgnoresItselfAsInputAndSwapsLikeASink) {
    TPassFilter filter;
    filter.SetInput(&filter);
    EXPECT_EQ(filter.Input(), nullptr);

    TMemorySource a(Ramp(100), 44100, 2, 16);
    TMemorySource b(Ramp(100), 22050, 1, 16);
    filter.SetInput(&a);
    filter.Init();
    EXPECT_EQ(a.inits, 1);
    filter.SetInput(&b); // busy: b is initialised, a is flushed
    EXPECT_EQ(b.inits, 1);
    EXPECT_EQ(a.flushes, 1);
    EXPECT_EQ(filter.SampleRate(), 22050);
    filter.Flush();
    EXPECT_EQ(b.flushes, 1);
}

TEST(PipelineWiring, destroyingAnIdleInputClearsItFromItsUsers) {
    TMemorySink sink;
    TPassFilter filter;
    {
        TMemorySource source(Ramp(10), 44100, 2, 16);
        filter.SetInput(&source);
        sink.SetInput(&source);
    }
    EXPECT_EQ(sink.Input(), nullptr);
    EXPECT_EQ(filter.Input(), nullptr);
    EXPECT_EQ(MessageOf([&] { sink.Run(); }), "Input is not assigned");
    {
        auto inner = std::make_unique<TPassFilter>();
        sink.SetInput(inner.get());
    }
    EXPECT_EQ(sink.Input(), nullptr);
}

TEST(PipelineWiring, destroyingTheInputOfARunningSinkEndsTheRunCleanly) {
    auto source = std::make_unique<TMemorySource>(Ramp(500000), 44100, 2, 16);
    source->gateFromCall = 2;
    TPassFilter filter;
    filter.SetInput(source.get());
    TMemorySink sink;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&filter);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return source->waitingAtGate.load(); }));

    // Destruction waits for the GetData in progress; open the gate once it is waiting.
    auto passes = source->Passes();
    auto destroy = std::async(std::launch::async, [&] { source.reset(); });
    while (destroy.wait_for(2ms) != std::future_status::ready) {
        ++*passes;
    }
    destroy.get();
    EXPECT_EQ(filter.Input(), nullptr);

    ASSERT_TRUE(log.WaitForEnds(1));
    EXPECT_EQ(log.Done(), 1);
    EXPECT_EQ(log.Failures(), 0);
    EXPECT_GE(sink.CollectedSize(), 2u * 4096u);
    EXPECT_EQ(sink.CollectedSize() % 4096, 0u);
    EXPECT_LT(sink.CollectedSize(), 500000u);
}

TEST(PipelineLifetime, aSinkIsDestroyedPromptlyWhateverItsWorkerIsDoing) {
    TMemorySource source(Ramp(300000), 44100, 2, 16);
    auto destroyWithin = [](std::unique_ptr<TMemorySink> sink) {
        auto f = std::async(std::launch::async, [s = std::move(sink)]() mutable { s.reset(); });
        return f.wait_for(5s) == std::future_status::ready;
    };

    // never run
    EXPECT_TRUE(destroyWithin(std::make_unique<TMemorySink>()));

    // suspended after a finished run
    auto finished = std::make_unique<TMemorySink>();
    TEventLog log;
    log.Attach(*finished);
    finished->SetInput(&source);
    finished->Run();
    ASSERT_TRUE(log.WaitForEnds(1));
    EXPECT_TRUE(destroyWithin(std::move(finished)));
    EXPECT_EQ(source.flushes, 1);

    // paused in the middle of a run: the run is closed without an event
    auto paused = std::make_unique<TMemorySink>();
    std::atomic<int> events{0};
    paused->OnDone = [&](TACSOutput*) { ++events; };
    paused->SetInput(&source);
    source.gateFromCall = 2;
    paused->Run();
    ASSERT_TRUE(WaitUntil([&] { return source.waitingAtGate.load(); }));
    paused->Pause();
    source.gateOpen = true;
    ASSERT_TRUE(WaitUntil([&] { return !source.waitingAtGate.load(); }));
    TMemorySink* raw = paused.get();
    ASSERT_TRUE(WaitUntil([&] { return raw->CollectedSize() == 2u * 4096u; }));
    EXPECT_TRUE(destroyWithin(std::move(paused)));
    EXPECT_EQ(events, 0);
    EXPECT_EQ(source.flushes, 2);
    EXPECT_FALSE(source.Busy());
}

TEST(PipelineLifetime, aRunningSinkIsDestroyedWithItsRunClosed) {
    TMemorySource source(Ramp(1 << 22), 44100, 2, 16);
    source.chunk = 64;
    auto sink = std::make_unique<TMemorySink>();
    sink->SetInput(&source);
    sink->Run();
    ASSERT_TRUE(WaitUntil([&] { return sink->CollectedSize() > 0; }));
    sink.reset();
    EXPECT_FALSE(source.Busy());
    EXPECT_EQ(source.flushes, 1);
}

// ---- file input -----------------------------------------------------------------------------

namespace {

// A reader of a minimal raw format: rate, channels and bits as 32-bit little-endian values,
// then the PCM. Counts the real opens and closes.
class TRawFileIn : public TACSFileIn {
public:
    ~TRawFileIn() override { DetachUsers(); }
    std::int32_t GetData(void* buffer, std::int32_t bufferSize) override {
        if (!FBusy) {
            throw EACSException("The Stream is not opened");
        }
        const std::int32_t want = std::min(bufferSize, FSize - FPosition);
        if (want <= 0) {
            return 0;
        }
        FStream->read(static_cast<char*>(buffer), want);
        const auto n = static_cast<std::int32_t>(FStream->gcount());
        FPosition += n;
        return n;
    }
    bool Seek(std::int32_t sampleNumber) override {
        OpenFile();
        FStream->clear();
        FStream->seekg(12 + std::int64_t{sampleNumber} * FChannels * (FBitsPerSample / 8));
        CloseFile();
        return true;
    }
    std::int32_t OpenCount() const { return FOpenCount; }

    int realOpens = 0;
    int realCloses = 0;

protected:
    void OpenFile() override {
        if (FOpenCount == 0) {
            auto file = std::make_unique<std::fstream>(FFileName, std::ios::in | std::ios::binary);
            if (!*file) {
                FValid = false;
                return;
            }
            std::uint8_t h[12] = {};
            file->read(reinterpret_cast<char*>(h), 12);
            auto le = [&](int at) { return bytes::GetLeI32(h + at); };
            FSampleRate = le(0);
            FChannels = le(4);
            FBitsPerSample = le(8);
            const auto total = static_cast<std::int32_t>(std::filesystem::file_size(FFileName));
            FSize = total - 12;
            const std::int32_t frame = FChannels * (FBitsPerSample / 8);
            FTotalSamples = frame > 0 ? FSize / frame : 0;
            FValid = true;
            FStream = std::move(file);
            ++realOpens;
        }
        ++FOpenCount;
    }
    void CloseFile() override {
        if (FOpenCount == 1) {
            FStream.reset();
            ++realCloses;
        }
        if (FOpenCount > 0) {
            --FOpenCount;
        }
    }
};

std::string WriteRaw(const std::string& name, std::int32_t rate, std::int32_t channels,
                     std::int32_t bits, const Bytes& pcm) {
    const std::string path = testing::TempDir() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    for (std::int32_t v : {rate, channels, bits}) {
        for (int i = 0; i < 4; ++i) {
            out.put(static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF));
        }
    }
    out.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size()));
    return path;
}

} // namespace

TEST(FileInput, initRefusesAMissingNameAndASecondInit) {
    TRawFileIn in;
    EXPECT_FALSE(in.Valid());
    EXPECT_EQ(MessageOf([&] { in.Init(); }), "The file name is not assigned");
    in.SetFileName(testing::TempDir() + "/missing.raw");
    EXPECT_EQ(MessageOf([&] { in.Init(); }), "The Stream is not opened");
    EXPECT_FALSE(in.Busy());
    in.SetFileName(WriteRaw("init.raw", 44100, 2, 16, Ramp(400)));
    EXPECT_TRUE(in.Valid());
    in.Init();
    EXPECT_EQ(MessageOf([&] { in.Init(); }), "The component is buisy");
    in.SetFileName("other.raw"); // ignored while busy
    EXPECT_NE(in.FileName(), "other.raw");
    in.Reset();
    EXPECT_FALSE(in.Busy());
    EXPECT_EQ(in.OpenCount(), 0);
    in.Init(); // usable again after a reset
    in.Flush();
}

TEST(FileInput, startAndEndSamplesSetTheSizeAndTheFirstByte) {
    const Bytes pcm = Ramp(4 * 3000);
    TRawFileIn in;
    in.SetFileName(WriteRaw("range.raw", 44100, 2, 16, pcm));
    in.SetStartSample(1000);
    in.Init();
    EXPECT_EQ(in.TotalSamples(), 3000);
    EXPECT_EQ(in.Size(), (3000 - 1000) * 4);
    std::uint8_t first[4] = {};
    ASSERT_EQ(in.GetData(first, 4), 4);
    EXPECT_TRUE(std::equal(first, first + 4, pcm.begin() + 4000));
    in.Flush();

    in.SetStartSample(0);
    in.SetEndSample(500);
    in.Init();
    EXPECT_EQ(in.Size(), 500 * 4);
    in.Flush();

    in.SetEndSample(-1);
    in.Init();
    EXPECT_EQ(in.Size(), static_cast<std::int32_t>(pcm.size()));
    in.Flush();
}

TEST(FileInput, formatQueriesDuringARunReuseTheOpenFile) {
    TRawFileIn in;
    in.SetFileName(WriteRaw("queries.raw", 22050, 1, 16, Ramp(22050 * 2 * 3)));
    EXPECT_EQ(in.SampleRate(), 22050);
    EXPECT_EQ(in.realOpens, 1);
    EXPECT_EQ(in.OpenCount(), 0);
    in.Init();
    EXPECT_EQ(in.Channels(), 1);
    EXPECT_EQ(in.BitsPerSample(), 16);
    EXPECT_EQ(in.TotalTime(), 3);
    EXPECT_EQ(in.realOpens, 2);
    EXPECT_EQ(in.OpenCount(), 1);
    in.Flush();
    EXPECT_EQ(in.realCloses, 2);
    EXPECT_EQ(in.OpenCount(), 0);
}

TEST(FileInput, totalTimeIsZeroForAZeroRateAndLeavesTheFileClosed) {
    TRawFileIn in;
    in.SetFileName(WriteRaw("zero.raw", 0, 2, 16, Ramp(4000)));
    EXPECT_EQ(in.TotalTime(), 0);
    EXPECT_EQ(in.OpenCount(), 0);
    EXPECT_EQ(in.realCloses, in.realOpens);

    TRawFileIn rounded;
    // 2.5 s rounds to 2, 3.5 s to 4 (halves to even)
    rounded.SetFileName(WriteRaw("half.raw", 8000, 1, 8, Ramp(20000)));
    EXPECT_EQ(rounded.TotalTime(), 2);
    rounded.SetFileName(WriteRaw("half2.raw", 8000, 1, 8, Ramp(28000)));
    EXPECT_EQ(rounded.TotalTime(), 4);
}

// ---- file output ----------------------------------------------------------------------------

namespace {
class TPlainFileOut : public TACSFileOut {
public:
    ~TPlainFileOut() override { ShutdownWorker(); }

protected:
    void Prepare() override {}
    bool OutputStep(bool) override { return false; }
    void Finish() override {}
};
} // namespace

TEST(FileOutput, theBaseFileModeSetterAlwaysStoresRewrite) {
    TPlainFileOut out;
    out.SetFileMode(foAppend);
    EXPECT_EQ(out.FileMode(), foRewrite);
    out.SetFileName("x.wav");
    EXPECT_EQ(out.FileName(), "x.wav");
}
