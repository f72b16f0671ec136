// The job window end to end on a 10-track disc image (20 s a track):
//   build/bench/bench_job
// Prints:
//   mp3 job          the whole job to MP3 (extract, encode, extract, ...) in the window
//   parts            the same tracks ripped by the rip thread alone plus lame run on the
//                    WAVs by itself with the same switches; ratio = job / parts (goal <= 1.1)
//   wav job          the job to WAV; x_realtime = seconds of audio per second (goal >= 150)
//   event loop       the longest time the window's event loop went without running a 5 ms
//                    timer (goal < 50 ms), and how much of it was the GUI thread's own CPU
//                    work (the rest is the machine's load keeping the thread off a core);
//                    then the longest single event the GUI thread handled (wall and CPU)
//                    and what it was (event type, receiver, and a message's record code)
//   mp3/ogg x10      10 music-like tracks of 3 to 4 minutes, to MP3 and to OGG, in pairs of
//                    jobs with 1 and 2 encoders (order swapped from pair to pair); medians
//                    and the speed-up (goal >= 1.8 on two cores), and the longest event-loop
//                    gap of the parallel jobs (goal < 50 ms)
// Arguments: --pairs N (default 3), --no-parallel, --parallel-only.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "cd/DiscImages.h"
#include "cd/akrip32.h"
#include "cd/ripthread.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/rip.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"
#include "support/TestSupport.h"

namespace {

constexpr int kTracks = 10;
constexpr int kTrackFrames = 20 * 75;
constexpr double kAudioSeconds = kTracks * kTrackFrames / 75.0;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of the calling thread (the GUI thread's own work, whatever the machine's load),
// to the nanosecond: the tick-based usage counters are too coarse for gaps of 50 ms.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The longest single event the GUI thread handled, timed around the application's notify
// (outermost events only: a nested one is part of the event that runs its loop).
struct EventProbe {
    double longestMs = 0;
    double cpuMs = 0; // the GUI thread's CPU within that event
    std::string what;
    int depth = 0;
    void Reset() {
        longestMs = 0;
        cpuMs = 0;
        what.clear();
    }
};
EventProbe probe;

std::string Describe(QObject* receiver, QEvent* event) {
    std::string what = "event " + std::to_string(static_cast<int>(event->type()));
    if (event->type() == platform::MessageEvent::Type()) {
        const auto* message = static_cast<const platform::MessageEvent*>(event);
        what = "message " + std::to_string(message->msg);
        if (message->msg == settings::WM_PROGRESS && message->lParam != 0) {
            what += " code " +
                    std::to_string(
                        reinterpret_cast<const settings::TProcessInfo*>(message->lParam)->Code);
        }
    } else if (event->type() == QEvent::MetaCall) {
        what = "queued call";
    } else if (event->type() == QEvent::Timer) {
        what = "timer";
    } else if (event->type() == QEvent::DeferredDelete) {
        what = "deferred delete";
    }
    if (receiver != nullptr) {
        what += std::string(" to ") + receiver->metaObject()->className();
        if (!receiver->objectName().isEmpty()) {
            what += " " + receiver->objectName().toStdString();
        }
    }
    return what;
}

class TimedApplication : public platform::TApplication {
public:
    using platform::TApplication::TApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (probe.depth > 0) {
            return platform::TApplication::notify(receiver, event);
        }
        // Described before it runs: a message's record is freed by its handler.
        std::string what = Describe(receiver, event);
        const double cpu = ThreadCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        ++probe.depth;
        bool handled = false;
        try {
            handled = platform::TApplication::notify(receiver, event);
        } catch (...) {
            --probe.depth;
            throw;
        }
        --probe.depth;
        const double ms = static_cast<double>(wall.nsecsElapsed()) / 1e6;
        if (ms > probe.longestMs) {
            probe.longestMs = ms;
            probe.cpuMs = (ThreadCpuSeconds() - cpu) * 1000.0;
            probe.what = std::move(what);
        }
        return handled;
    }
};

// Runs the event loop until done() holds.
void PumpUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done()) {
            loop.quit();
        }
    });
    poll.start(2);
    loop.exec();
}

// Frees the rip thread's records and notes its end.
class Sink : public QObject, public platform::MessageReceiver {
public:
    bool ended = false;
    bool event(QEvent* e) override { return DispatchMessageEvent(e) || QObject::event(e); }
    std::intptr_t HandleMessage(unsigned msg, std::intptr_t, std::intptr_t lParam) override {
        if (msg == settings::WM_PROGRESS) {
            std::unique_ptr<settings::TProcessInfo> info(
                reinterpret_cast<settings::TProcessInfo*>(lParam));
            ended = ended || info->Code == settings::PI_TRACK_EXTRACTED;
        }
        return 0;
    }
};

struct Disc {
    Disc(const testsupport::ScratchFolder& dir) {
        cdtest::UseImages(
            {cdtest::MakeImage(dir, "bench", std::vector<int>(kTracks, kTrackFrames), "--tones")});
        handle = cdtest::OpenFirstDrive();
        if (handle == 0) {
            throw std::runtime_error("image did not open");
        }
    }
    ~Disc() { cd::CloseCDHandle(handle); }
    int handle = 0;
};

QStringList Items() {
    QStringList items;
    for (int t = 1; t <= kTracks; ++t) {
        items << QString::fromStdString(settings::TwoDigits(t) + "Track" + settings::TwoDigits(t));
    }
    return items;
}

struct JobFigures {
    double seconds = 0;
    double longestGapMs = 0;  // wall time between two runs of a 5 ms timer
    double gapCpuMs = 0;      // the GUI thread's own CPU time within that longest gap
    double longestBusyMs = 0; // the most GUI CPU time within any one gap
    double guiCpu = 0;        // the GUI thread's CPU time for the whole job
    double eventMs = 0;       // the longest single event handled, and its CPU
    double eventCpuMs = 0;
    std::string event;

    // Keeps the worse of two jobs' figures (the event loop's, not the timing).
    void Worst(const JobFigures& other) {
        if (other.longestGapMs > longestGapMs) {
            longestGapMs = other.longestGapMs;
            gapCpuMs = other.gapCpuMs;
        }
        longestBusyMs = std::max(longestBusyMs, other.longestBusyMs);
        if (other.eventMs > eventMs) {
            eventMs = other.eventMs;
            eventCpuMs = other.eventCpuMs;
            event = other.event;
        }
    }
    void PrintEventLoop() const {
        std::printf("  event loop: longest gap %.1f ms (goal < 50), the GUI thread's CPU in it "
                    "%.1f ms (most in any gap %.1f ms); longest event %.1f ms wall, %.1f ms CPU: "
                    "%s\n",
                    longestGapMs, gapCpuMs, longestBusyMs, eventMs, eventCpuMs, event.c_str());
    }
};

// One job in the window, timed, with the event loop watched by a 5 ms timer.
JobFigures RunJob(int handle, const QStringList& items = Items(), int* atOnce = nullptr) {
    JobFigures f;
    jobs::TRipForm form(nullptr, items, handle, jobs::jkExtract);
    form.show();
    QElapsedTimer sinceTick;
    sinceTick.start();
    double cpuAtTick = ThreadCpuSeconds();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double cpu = ThreadCpuSeconds();
        const double gap = static_cast<double>(sinceTick.nsecsElapsed()) / 1e6;
        const double busy = (cpu - cpuAtTick) * 1000.0;
        if (gap > f.longestGapMs) {
            f.longestGapMs = gap;
            f.gapCpuMs = busy;
        }
        f.longestBusyMs = std::max(f.longestBusyMs, busy);
        sinceTick.restart();
        cpuAtTick = cpu;
    });
    ticker.start(5);
    probe.Reset();
    const auto start = Clock::now();
    const double cpuBefore = ThreadCpuSeconds();
    PumpUntil([&] { return form.JobFinished() && !form.isVisible(); });
    f.seconds = SecondsSince(start);
    f.guiCpu = ThreadCpuSeconds() - cpuBefore;
    f.eventMs = probe.longestMs;
    f.eventCpuMs = probe.cpuMs;
    f.event = probe.what;
    if (atOnce != nullptr) {
        *atOnce = form.MostEncodesAtOnce();
    }
    return f;
}

// The rip thread alone on every track, then lame alone on the WAVs it wrote.
void RunParts(int handle, const std::string& folder, double& ripSeconds, double& lameSeconds) {
    Sink sink;
    ripSeconds = 0;
    for (int t = 1; t <= kTracks; ++t) {
        sink.ended = false;
        const auto start = Clock::now();
        const std::string title = "Part" + settings::TwoDigits(t);
        auto thread = std::make_unique<cd::TCDRipThread>(
            t, title, cd::TRipOptions{folder + "/" + title + ".wav"});
        thread->CDHandle = handle;
        thread->NotifyWindow = &sink;
        thread->Resume();
        PumpUntil([&] { return sink.ended; });
        thread.reset();
        ripSeconds += SecondsSince(start);
    }
    jobs::TMp3EncodeProcess line;
    lameSeconds = 0;
    for (int t = 1; t <= kTracks; ++t) {
        line.InputFile = folder + "/Part" + settings::TwoDigits(t) + ".wav";
        line.OutputFile = folder + "/Part" + settings::TwoDigits(t) + ".mp3";
        const auto start = Clock::now();
        testsupport::RunCommand(line.CommandLine() + " 2>&1");
        lameSeconds += SecondsSince(start);
    }
}

// ---- parallel encoding: 10 music-like tracks of 3-4 minutes ----------------------------

constexpr int kLongTracks = 10;

// Music-like audio: notes of a few harmonics that swell and decay, over a shaped noise
// floor. Encoders spend about as long on it as on real music (lame is several times
// faster on pure tones).
std::string WriteMusicImage(const std::string& folder) {
    const std::string cue = folder + "/music.cue";
    std::ofstream bin(folder + "/music.bin", std::ios::binary);
    std::ofstream sheet(cue);
    sheet << "FILE \"music.bin\" BINARY\n";
    std::mt19937 rng(20261208);
    std::normal_distribution<double> noise(0.0, 1.0);
    long long frame = 0;
    std::vector<char> block;
    for (int t = 1; t <= kLongTracks; ++t) {
        const int seconds = 180 + (t * 37) % 60; // 3 to 4 minutes
        char index[32];
        std::snprintf(index, sizeof index, "%02lld:%02lld:%02lld", frame / 4500, frame / 75 % 60,
                      frame % 75);
        sheet << "  TRACK " << (t < 10 ? "0" : "") << t << " AUDIO\n    INDEX 01 " << index << "\n";
        const long long samples = seconds * 44100LL;
        double phase = 0;
        double lowLeft = 0;
        double lowRight = 0;
        block.resize(static_cast<std::size_t>(samples) * 4);
        for (long long i = 0; i < samples; ++i) {
            const double time = static_cast<double>(i) / 44100.0;
            const long long note = static_cast<long long>(time * 4);
            const double pitch =
                110.0 * std::pow(2.0, static_cast<double>((note * 7 + t * 5) % 24) / 12.0);
            const double envelope = std::exp(-std::fmod(time, 0.25) * 6.0);
            phase += 2.0 * M_PI * pitch / 44100.0;
            const double tone =
                std::sin(phase) * 0.5 + std::sin(2 * phase) * 0.25 + std::sin(3 * phase) * 0.12;
            lowLeft = 0.97 * lowLeft + 0.03 * noise(rng);
            lowRight = 0.97 * lowRight + 0.03 * noise(rng);
            const double left = 9000 * envelope * tone + 20000 * lowLeft + 900 * noise(rng);
            const double right = 7000 * envelope * tone + 20000 * lowRight + 900 * noise(rng);
            const auto put = [&](std::size_t at, double v) {
                const auto s = static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
                block[at] = static_cast<char>(s & 0xff);
                block[at + 1] = static_cast<char>((s >> 8) & 0xff);
            };
            put(static_cast<std::size_t>(i) * 4, left);
            put(static_cast<std::size_t>(i) * 4 + 2, right);
        }
        bin.write(block.data(), static_cast<std::streamsize>(block.size()));
        frame += seconds * 75LL;
    }
    return cue;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0
                     : (v.size() % 2 == 1 ? v[v.size() / 2]
                                          : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
}

QStringList LongItems() {
    QStringList items;
    for (int t = 1; t <= kLongTracks; ++t) {
        items << QString::fromStdString(settings::TwoDigits(t) + "Music" + settings::TwoDigits(t));
    }
    return items;
}

// Pairs of jobs, one encoder and two, the order swapped from pair to pair so that a
// change in the machine's load touches both alike.
void RunParallelBench(const std::string& folder, settings::TOutputFormat format, const char* name,
                      int pairs) {
    cdtest::UseImages({WriteMusicImage(folder)});
    const int handle = cdtest::OpenFirstDrive();
    if (handle == 0) {
        throw std::runtime_error("music image did not open");
    }
    settings::Settings.CommonOptions.OutputFormat = format;
    std::vector<double> serial;
    std::vector<double> parallel;
    std::vector<double> ratios;
    JobFigures worst;
    int most = 0;
    for (int p = 0; p < pairs; ++p) {
        double one = 0;
        double two = 0;
        for (int k = 0; k < 2; ++k) {
            const bool twoFirst = p % 2 == 1;
            const int encoders = (k == 0) == twoFirst ? 2 : 1;
            settings::Settings.Performance.Encoders = encoders;
            int atOnce = 0;
            const JobFigures f = RunJob(handle, LongItems(), &atOnce);
            (encoders == 1 ? one : two) = f.seconds;
            if (encoders == 2) {
                worst.Worst(f);
                most = std::max(most, atOnce);
            }
        }
        serial.push_back(one);
        parallel.push_back(two);
        ratios.push_back(one / two);
        std::printf("  %s pair %d: 1 encoder %.1f s, 2 encoders %.1f s, speed-up %.2f\n", name,
                    p + 1, one, two, one / two);
        std::fflush(stdout);
    }
    settings::Settings.Performance.Encoders = 1;
    cd::CloseCDHandle(handle);
    std::printf("%s x%d tracks: median 1 encoder %.1f s, 2 encoders %.1f s; median speed-up "
                "%.2f (goal >= 1.8); %d ran at once\n",
                name, kLongTracks, Median(serial), Median(parallel), Median(ratios), most);
    worst.PrintEventLoop();
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TimedApplication app(argc, argv);
    int pairs = 3;
    bool legacy = true;
    bool parallel = true;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--pairs") == 0 && a + 1 < argc) {
            pairs = std::max(1, std::atoi(argv[++a]));
        } else if (std::strcmp(argv[a], "--no-parallel") == 0) {
            parallel = false;
        } else if (std::strcmp(argv[a], "--parallel-only") == 0) {
            legacy = false;
        }
    }
    const testsupport::ScratchFolder dir;
    if (!legacy) {
        settings::Settings.CommonOptions.OutputFolder = dir.Path();
        RunParallelBench(dir.Path(), settings::TOutputFormat::ofMp3, "mp3", pairs);
        RunParallelBench(dir.Path(), settings::TOutputFormat::ofOgg, "ogg", pairs);
        return 0;
    }
    const Disc disc(dir);
    settings::Settings.CommonOptions.OutputFolder = dir.Path();
    settings::Settings.CommonOptions.IsKeepWav = false;

    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofMp3;
    const JobFigures mp3 = RunJob(disc.handle);
    double rip = 0;
    double lame = 0;
    RunParts(disc.handle, dir.Path(), rip, lame);
    std::printf("mp3 job      %7.2f s for %d tracks of %.0f s\n", mp3.seconds, kTracks,
                kAudioSeconds / kTracks);
    std::printf("parts        %7.2f s (rip %.2f s + lame %.2f s); ratio %.3f (goal <= 1.1)\n",
                rip + lame, rip, lame, mp3.seconds / (rip + lame));
    mp3.PrintEventLoop();
    std::printf("  GUI CPU %.3f s\n", mp3.guiCpu);

    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    const JobFigures wav = RunJob(disc.handle);
    std::printf("wav job      %7.3f s; x_realtime %.0f (goal >= 150)\n", wav.seconds,
                kAudioSeconds / wav.seconds);
    wav.PrintEventLoop();
    std::printf("  GUI CPU %.3f s\n", wav.guiCpu);
    if (parallel) {
        RunParallelBench(dir.Path(), settings::TOutputFormat::ofMp3, "mp3", pairs);
        RunParallelBench(dir.Path(), settings::TOutputFormat::ofOgg, "ogg", pairs);
    }
    jobs::Mp3Process.reset();
    return 0;
}
