// Extraction speed from a disc image and the cost of the normalize pass.
//   build/bench/bench_rip        (makes a 2-minute single-track image under /tmp)
// Reported counters:
//   BM_ReadFrames       raw ReadCDAudioLBA calls of ten frames: the file-read cost alone
//   BM_RipTrack         the whole rip thread (reads, WAV writes, progress messages);
//                       x_realtime = seconds of audio per second of wall time
//   BM_RipAndNormalize  the same with the normalize pass; the pass's own rate is the
//                       extra bytes over the extra time against BM_RipTrack
//   BM_RipTrackReplayGain  BM_RipTrack measuring the track's loudness as it is written
//   BM_LoudnessMeter    the loudness meter alone (EBU R128 with true peak) over the track
//   BM_LoudnessLibrary  libebur128 measuring the same (integrated loudness, true peak)
//   BM_SecureRipTrack   the rip thread in secure mode (every block read twice and
//                       compared, paranoia only where they differ; CRC, peak and
//                       AccurateRip sums, the rip log); goal: at most 1.5x BM_RipTrack
//   BM_SecureTestAndCopy the same reading every track twice
//   BM_TrackChecks/1    CRC32, peak and AccurateRip v1/v2 over a track's worth of
//                       blocks already in the cache, as the rip hands them over;
//   BM_TrackChecks/0    the same without AccurateRip: the difference against
//                       BM_SecureRipTrack is the AccurateRip share (goal < 2 %)
//   BM_TrackChecks/2    /1 plus the track's share of the CTDB disc checksum, for a
//                       track that is the disc's first and last (the edges and the share
//                       summed apart and joined for the track's CRC: the worst case; inner
//                       tracks reuse the track's CRC): the difference to /1 against
//                       BM_SecureRipTrack is the CTDB share (goal < 2 %)
//   BM_SecureRipUnreadable/0  a secure rip of the track with 10 unreadable sectors
//                       (scattered; /1 in a row) and the default re-read budget;
//                       uncorrectable = the frames the log counts (goal: < 60 s, 10)
//   BM_StopDuringStuckRead/0  Stop while every read of the track stalls in the drive
//                       (plain read; /1 secure): the time the owner's delete takes,
//                       longest of five (goal < 200 ms)
//   BM_FastFirstVsPlain/0  secure mode with fast first on the undamaged track, which the
//                       loopback AccurateRip server holds (read once, verified, kept),
//                       against the plain rip, in interleaved pairs, each rip into a new
//                       file; ratio = the median of fast first over plain (goal <= 1.1),
//                       cpu_ratio the same of the process's CPU time; /1 also sums for the
//                       CTDB. TMPDIR=/dev/shm keeps the disk's write-back out of the pairs.
//   BM_VerifyFiles      the check of a ripped folder (Verify Files) on the WAV file of
//                       the same track: header scan, file reads and every sum; no
//                       database answers (nobody listens); x_realtime as above
#include "ProgressSink.h"
#include "audio/Loudness.h"
#include "cd/DiscImages.h"
#include "cd/DiscToc.h"
#include "cd/DiscVerifier.h"
#include "cd/FaultySectors.h"
#include "cd/RipSession.h"
#include "cd/TrackSums.h"
#include "cd/akrip32.h"
#include "cd/ripthread.h"
#include "settings/Global.h"
#include "support/LoopbackServer.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <ebur128.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t TrackFrames = 9000; // two minutes
constexpr double TrackSeconds = TrackFrames / 75.0;
constexpr double TrackBytes = TrackFrames * 2352.0;

using Sink = benchrip::TProgressSink;

struct Fixture {
    Fixture() {
        const std::string cue = cdtest::MakeImage(dir, "bench", {TrackFrames});
        cdtest::UseImages({cue});
        handle = cdtest::OpenFirstDrive();
        if (handle == 0) {
            throw std::runtime_error("image did not open");
        }
        settings::Settings.CommonOptions.OutputFolder = dir.Path();
    }
    ~Fixture() { cd::CloseCDHandle(handle); }
    testsupport::ScratchFolder dir;
    cd::HCDROM handle = 0;
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

void BM_ReadFrames(benchmark::State& state) {
    Fixture& f = Shared();
    std::vector<std::uint8_t> storage(cd::TrackBufHeaderSize + 10 * cd::CDFrameBytes);
    for (auto _ : state) {
        for (std::uint32_t frame = 0; frame < TrackFrames; frame += 10) {
            auto* buffer = new (storage.data()) cd::TTrackBuf{};
            buffer->startFrame = static_cast<std::int32_t>(frame);
            buffer->numFrames = 10;
            buffer->maxLen = 10 * cd::CDFrameBytes;
            if (cd::ReadCDAudioLBA(f.handle, *buffer) != 1) {
                state.SkipWithError("read failed");
                return;
            }
            benchmark::DoNotOptimize(storage.data());
        }
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(static_cast<double>(state.iterations()) * TrackBytes));
    state.counters["x_realtime"] = benchmark::Counter(
        TrackSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void RunRip(benchmark::State& state, bool normalize, bool secure = false, bool testAndCopy = false,
            bool replayGain = false) {
    Fixture& f = Shared();
    settings::Settings.CommonOptions.IsNormalize = normalize;
    settings::Settings.CommonOptions.NormalizePercent = 95;
    Sink sink;
    cd::RipSessionOptions options;
    options.outputFolder = f.dir.Path();
    options.accurateRip = false; // the lookup runs beside the rip; no server here
    options.testAndCopy = testAndCopy;
    for (auto _ : state) {
        cd::TRipOptions rip{f.dir.Path() + "/bench.wav"};
        rip.IsNormalize = normalize;
        rip.NormalizePercent = 95;
        auto thread = std::make_unique<cd::TCDRipThread>(1, "bench", rip);
        thread->CDHandle = f.handle;
        thread->NotifyWindow = &sink;
        if (secure) {
            thread->Session = std::make_shared<cd::RipSession>(options);
        }
        if (replayGain) {
            thread->Loudness = std::make_shared<audio::TLoudnessMeter>();
        }
        thread->Resume();
        thread.reset();
        state.PauseTiming();
        QCoreApplication::sendPostedEvents(&sink);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(static_cast<double>(state.iterations()) * TrackBytes));
    state.counters["x_realtime"] = benchmark::Counter(
        TrackSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RipTrack(benchmark::State& state) {
    RunRip(state, false);
}
void BM_RipAndNormalize(benchmark::State& state) {
    RunRip(state, true);
}
void BM_SecureRipTrack(benchmark::State& state) {
    RunRip(state, false, true);
}
void BM_RipTrackReplayGain(benchmark::State& state) {
    RunRip(state, false, false, false, true);
}
// The track's PCM in memory: noise, the worst case for the true peak (no block can be
// passed over).
const std::vector<std::uint8_t>& MeterPcm() {
    static const std::vector<std::uint8_t> pcm = [] {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(TrackBytes));
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>((i * 7919U) >> 3);
        }
        return bytes;
    }();
    return pcm;
}

// The meter alone over the track's PCM, in the rip thread's blocks, on this thread (its CPU
// time is the cost).
void BM_LoudnessMeter(benchmark::State& state) {
    const std::vector<std::uint8_t>& pcm = MeterPcm();
    for (auto _ : state) {
        audio::TLoudnessMeter meter;
        for (std::size_t at = 0; at < pcm.size(); at += 23520) {
            meter.AddPcm(std::span(pcm).subspan(at, std::min<std::size_t>(23520, pcm.size() - at)));
        }
        benchmark::DoNotOptimize(meter.Loudness());
        benchmark::DoNotOptimize(meter.Peak());
    }
    state.counters["x_realtime"] = benchmark::Counter(
        TrackSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The same measurement by libebur128, the reference the meter's values are held to:
// integrated loudness and true peak of both channels.
void BM_LoudnessLibrary(benchmark::State& state) {
    const std::vector<std::uint8_t>& pcm = MeterPcm();
    std::vector<std::int16_t> samples(pcm.size() / 2);
    std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
    for (auto _ : state) {
        ebur128_state* meter = ebur128_init(2, 44100, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
        for (std::size_t at = 0; at < samples.size(); at += 11760) {
            ebur128_add_frames_short(meter, samples.data() + at,
                                     std::min<std::size_t>(11760, samples.size() - at) / 2);
        }
        double lufs = 0;
        double peak = 0;
        ebur128_loudness_global(meter, &lufs);
        ebur128_true_peak(meter, 0, &peak);
        benchmark::DoNotOptimize(lufs);
        benchmark::DoNotOptimize(peak);
        ebur128_destroy(&meter);
    }
    state.counters["x_realtime"] = benchmark::Counter(
        TrackSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
void BM_SecureTestAndCopy(benchmark::State& state) {
    RunRip(state, false, true, true);
}

// The rip hands each block to the sums right after reading it, so the block is in the
// cache: one block summed over and over stands for the track.
void BM_TrackChecks(benchmark::State& state) {
    const bool accurateRip = state.range(0) != 0;
    const bool ctdb = state.range(0) == 2;
    constexpr std::uint64_t Samples = TrackFrames * 588ULL;
    constexpr std::size_t Block = 10 * cd::CDFrameBytes; // as the rip hands them over
    std::vector<std::uint8_t> block(Block);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    }
    for (auto _ : state) {
        cd::TrackSums sums = accurateRip ? cd::TrackSums(Samples, true, true) : cd::TrackSums();
        if (ctdb) {
            sums.SumForCtdb(Samples, cd::CtdbCrc::RangeOf(Samples, 0, Samples));
        }
        for (std::uint32_t frame = 0; frame < TrackFrames; frame += 10) {
            sums.Add(block);
        }
        benchmark::DoNotOptimize(sums.Crc());
        benchmark::DoNotOptimize(sums.Ctdb());
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(static_cast<double>(state.iterations()) * TrackBytes));
}

// Damage in the environment for as long as it lives; secure reads take it up when they
// start, plain reads when their drive handle opens.
class Damage {
public:
    explicit Damage(const char* sectors) { setenv("VELLORINE_FAULTY_SECTORS", sectors, 1); }
    ~Damage() { unsetenv("VELLORINE_FAULTY_SECTORS"); }
    Damage(const Damage&) = delete;
    Damage& operator=(const Damage&) = delete;
};

void BM_SecureRipUnreadable(benchmark::State& state) {
    Fixture& f = Shared();
    Damage damage(state.range(0) == 0 ? "500,1400,2300,3200,4100,5000,5900,6800,7700,8600=fail"
                                      : "4500-4509=fail");
    settings::Settings.CommonOptions.IsNormalize = false;
    Sink sink;
    cd::RipSessionOptions options;
    options.outputFolder = f.dir.Path();
    options.accurateRip = false;
    std::uint32_t uncorrectable = 0;
    for (auto _ : state) {
        auto thread = std::make_unique<cd::TCDRipThread>(
            1, "damaged", cd::TRipOptions{f.dir.Path() + "/damaged.wav"});
        const auto session = std::make_shared<cd::RipSession>(options);
        thread->CDHandle = f.handle;
        thread->NotifyWindow = &sink;
        thread->Session = session;
        thread->Resume();
        thread.reset();
        state.PauseTiming();
        QCoreApplication::sendPostedEvents(&sink);
        const auto tracks = session->Tracks();
        uncorrectable = tracks.empty() ? 0 : tracks[0].uncorrectableFrames;
        state.ResumeTiming();
    }
    state.counters["uncorrectable"] = uncorrectable;
}

void BM_StopDuringStuckRead(benchmark::State& state) {
    Fixture& f = Shared();
    const bool secure = state.range(0) != 0;
    Damage damage("0-8999=stall");
    const cd::HCDROM handle = cdtest::OpenFirstDrive(); // takes the damage up
    Sink sink;
    cd::RipSessionOptions options;
    options.outputFolder = f.dir.Path();
    options.accurateRip = false;
    double longest = 0;
    for (auto _ : state) {
        auto thread = std::make_unique<cd::TCDRipThread>(
            1, "stuck", cd::TRipOptions{f.dir.Path() + "/stuck.wav"});
        thread->CDHandle = handle;
        thread->NotifyWindow = &sink;
        if (secure) {
            thread->Session = std::make_shared<cd::RipSession>(options);
        }
        thread->Resume();
        std::this_thread::sleep_for(cd::FaultySectors::StallTime / 4); // into the first read
        const auto stop = std::chrono::steady_clock::now();
        thread->StopFlag = true;
        thread.reset();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - stop;
        state.SetIterationTime(took.count());
        longest = std::max(longest, took.count() * 1000.0);
        // The read left behind ends before the next round starts its own.
        std::this_thread::sleep_for(cd::FaultySectors::StallTime);
        QCoreApplication::sendPostedEvents(&sink);
    }
    cd::CloseCDHandle(handle);
    state.counters["longest_ms"] = longest;
}

// CPU seconds of every thread of this process so far (the rip thread and its drive worker).
double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The loopback AccurateRip server of the tests, holding the checksums of the bench track.
class ArServer {
public:
    explicit ArServer(const testsupport::ScratchFolder& dir)
        : server_(Command(dir), "AccurateRip") {}
    std::string Url() const { return server_.Url(); }

private:
    static std::string Command(const testsupport::ScratchFolder& dir) {
        using testsupport::Quoted;
        const std::string helper = VELLORINE_SOURCE_DIR "/tests/cd/accuraterip.py";
        const std::string folder = dir.File("database");
        std::filesystem::create_directories(folder);
        const auto made = testsupport::RunCommand(
            "python3 " + Quoted(helper) + " database " + Quoted(dir.File("bench.bin")) + " " +
            Quoted(folder + "/answer") + " match " + std::to_string(TrackFrames));
        std::filesystem::rename(folder + "/answer",
                                folder + "/" + made.Output.substr(0, made.Output.find('\n')));
        return "python3 " + platform::QuoteArgument(helper) + " serve " +
               platform::QuoteArgument(folder) + " - 1";
    }

    testsupport::LoopbackServer server_;
};

void BM_FastFirstVsPlain(benchmark::State& state) {
    Fixture& f = Shared();
    settings::Settings.CommonOptions.IsNormalize = false;
    const ArServer server(f.dir);
    Sink sink;
    cd::RipSessionOptions options;
    options.outputFolder = f.dir.Path();
    options.accurateRipServer = server.Url();
    options.ctdb = state.range(0) != 0;
    options.ctdbServer = "http://127.0.0.1:9"; // refused at once: the sums still run
    options.fastFirst = true;
    // One session for the disc, as a job has: its lookup is made once, before the pairs.
    const auto session = std::make_shared<cd::RipSession>(options);
    // Each rip writes a new file, as each track of a job does: rewriting one file made
    // every rip wait for the write-back of the previous one (ext4 writes a truncated file
    // back when it is closed, and the next metadata change waits for it).
    int round = 0;
    double cpu = 0; // of the last rip
    const auto rip = [&](bool fast) {
        const std::string path =
            f.dir.Path() + (fast ? "/fast" : "/plain") + std::to_string(round++ % 4) + ".wav";
        std::filesystem::remove(path);
        const double cpuBefore = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        auto thread = std::make_unique<cd::TCDRipThread>(1, "bench", cd::TRipOptions{path});
        thread->CDHandle = f.handle;
        thread->NotifyWindow = &sink;
        if (fast) {
            thread->Session = session;
        }
        thread->Resume();
        thread.reset();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        cpu = ProcessCpuSeconds() - cpuBefore;
        QCoreApplication::sendPostedEvents(&sink);
        return took.count();
    };
    rip(true);
    const auto first = session->Tracks();
    if (first.size() != 1 || first[0].fastPass != cd::FastPass::Verified) {
        state.SkipWithError("the track was not verified in the fast pass");
        return;
    }
    std::vector<double> ratios;
    std::vector<double> cpuRatios;
    for (auto _ : state) {
        const double plain = rip(false);
        const double plainCpu = cpu;
        const double fast = rip(true);
        state.SetIterationTime(fast);
        ratios.push_back(fast / plain);
        cpuRatios.push_back(plainCpu > 0 ? cpu / plainCpu : 0.0);
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    state.counters["ratio"] = median(ratios);
    state.counters["cpu_ratio"] = median(cpuRatios);
    state.counters["x_realtime"] = benchmark::Counter(
        TrackSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_VerifyFiles(benchmark::State& state) {
    Fixture& f = Shared();
    const auto disc = cd::ReadDiscOf(f.handle);
    testsupport::ScratchFolder ripped;
    settings::Settings.CommonOptions.OutputFolder = ripped.Path();
    Sink sink;
    auto thread = std::make_unique<cd::TCDRipThread>(
        1, "01 bench", cd::TRipOptions{ripped.Path() + "/01 bench.wav"});
    thread->CDHandle = f.handle;
    thread->NotifyWindow = &sink;
    thread->Resume();
    thread.reset();
    QCoreApplication::sendPostedEvents(&sink);
    settings::Settings.CommonOptions.OutputFolder = f.dir.Path();
    if (!disc) {
        state.SkipWithError("no disc layout");
        return;
    }
    cd::VerifyOptions options;
    options.accurateRipServer = "http://127.0.0.1:9"; // refused at once
    options.ctdbServer = options.accurateRipServer;
    const cd::DiscVerifier verifier(*disc, ripped.Path(), options);
    const std::atomic<bool> stop{false};
    for (auto _ : state) {
        const cd::VerifyReport report = verifier.Run(stop);
        if (report.tracks.size() != 1 || !report.tracks[0].arV1) {
            state.SkipWithError("the file was not summed");
            return;
        }
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(static_cast<double>(state.iterations()) * TrackBytes));
    state.counters["x_realtime"] = benchmark::Counter(
        TrackSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ReadFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RipTrack)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RipAndNormalize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RipTrackReplayGain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoudnessMeter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoudnessLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecureRipTrack)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SecureTestAndCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TrackChecks)->Arg(2)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SecureRipUnreadable)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_StopDuringStuckRead)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_VerifyFiles)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FastFirstVsPlain)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

} // namespace

#include "QtBenchmarkMain.h"
