// The job window end to end on a 10-track disc image (20 s a track):
//   build/bench/bench_job
// Prints:
//   mp3 job          the whole job to MP3 (extract, encode, extract, ...) in the window
//   parts            the same tracks ripped by the rip thread alone plus lame run on the
//                    WAVs by itself with the same switches; ratio = job / parts (goal <= 1.1)
//   wav job          the job to WAV; x_realtime = seconds of audio per second (goal >= 150)
//   event loop       the longest time the window's event loop went without running a 5 ms
//                    timer (goal < 50 ms), and how much of it was the GUI thread's own CPU
//                    work (the rest is the machine's load keeping the thread off a core)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "cd/DiscImages.h"
#include "cd/akrip32.h"
#include "cd/ripthread.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/rip.h"
#include "platform/ErrorDisplay.h"
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

// CPU time of the calling thread (the GUI thread's own work, whatever the machine's load).
double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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
    double longestBusyMs = 0; // the GUI thread's own CPU time within one such gap
    double guiCpu = 0;        // the GUI thread's CPU time for the whole job
};

// One job in the window, timed, with the event loop watched by a 5 ms timer.
JobFigures RunJob(int handle) {
    JobFigures f;
    jobs::TRipForm form(nullptr, Items(), handle, jobs::jkExtract);
    form.show();
    QElapsedTimer sinceTick;
    sinceTick.start();
    double cpuAtTick = ThreadCpuSeconds();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double cpu = ThreadCpuSeconds();
        f.longestGapMs =
            std::max(f.longestGapMs, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6);
        f.longestBusyMs = std::max(f.longestBusyMs, (cpu - cpuAtTick) * 1000.0);
        sinceTick.restart();
        cpuAtTick = cpu;
    });
    ticker.start(5);
    const auto start = Clock::now();
    const double cpuBefore = ThreadCpuSeconds();
    PumpUntil([&] { return form.JobFinished() && !form.isVisible(); });
    f.seconds = SecondsSince(start);
    f.guiCpu = ThreadCpuSeconds() - cpuBefore;
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

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    platform::TApplication app(argc, argv);
    const testsupport::ScratchFolder dir;
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
    std::printf("  event loop: longest gap %.1f ms (goal < 50), of it the GUI thread's own work "
                "%.1f ms; GUI CPU %.3f s\n",
                mp3.longestGapMs, mp3.longestBusyMs, mp3.guiCpu);

    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    const JobFigures wav = RunJob(disc.handle);
    std::printf("wav job      %7.3f s; x_realtime %.0f (goal >= 150)\n", wav.seconds,
                kAudioSeconds / wav.seconds);
    std::printf("  event loop: longest gap %.1f ms, of it the GUI thread's own work %.1f ms; GUI "
                "CPU %.3f s\n",
                wav.longestGapMs, wav.longestBusyMs, wav.guiCpu);
    jobs::Mp3Process.reset();
    return 0;
}
