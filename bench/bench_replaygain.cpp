// What ReplayGain adds to a rip: the same 5-track image (60 s a track, tones) ripped by the
// job window to each format with the tags on, ReplayGain off and on, in interleaved pairs.
//   build/bench/bench_replaygain [--pairs N]
// Prints per format the medians of wall time and of CPU time (this process's threads plus
// the encoder processes it waited for), and the CPU ReplayGain added: the analysis and the
// album pass, which copies every finished file to add the album's values. Then the analysis
// alone (goal < 3 % of a rip): the meter run over the image's audio on this thread, track
// by track in the rip's blocks, against the median CPU of a rip without ReplayGain.
#include <QApplication>
#include <QEventLoop>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "WindowRip.h"
#include "audio/Loudness.h"
#include "cd/DiscImages.h"
#include "cd/akrip32.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/rip.h"
#include "settings/Global.h"
#include "support/TestSupport.h"

namespace {

constexpr int kTracks = 5;
constexpr int kTrackFrames = 60 * 75;

using Clock = std::chrono::steady_clock;

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuSeconds() {
    rusage self{};
    rusage children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    return Seconds(self.ru_utime) + Seconds(self.ru_stime) + Seconds(children.ru_utime) +
           Seconds(children.ru_stime);
}

struct Cost {
    double wall = 0;
    double cpu = 0;
};

double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The CPU the meter takes over the image's tracks (raw 16-bit stereo, as the rip hands it
// over), the best of three runs.
double MeterSeconds(const std::string& cue) {
    const std::string bin = cue.substr(0, cue.size() - 4) + ".bin";
    const testsupport::Bytes audio = testsupport::ReadAll(bin);
    const std::size_t trackBytes = static_cast<std::size_t>(kTrackFrames) * 2352;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const double start = ThreadCpuSeconds();
        for (std::size_t track = 0; track + trackBytes <= audio.size(); track += trackBytes) {
            audio::TLoudnessMeter meter;
            for (std::size_t at = 0; at < trackBytes; at += 23520) {
                meter.AddPcm(std::span(audio).subspan(
                    track + at, std::min<std::size_t>(23520, trackBytes - at)));
            }
            volatile double peak = meter.Peak();
            volatile bool measured = meter.Loudness().has_value();
            (void)peak;
            (void)measured;
        }
        best = std::min(best, ThreadCpuSeconds() - start);
    }
    return best;
}

Cost WindowRip(int handle, bool replayGain) {
    settings::Settings.ReplayGain.Enabled = replayGain;
    const double cpu = CpuSeconds();
    const double wall = benchrip::WindowRip(handle, kTracks);
    return {wall, CpuSeconds() - cpu};
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const int pairs = benchrip::PairsArgument(argc, argv, 5);
    benchrip::TBenchDisc disc(kTracks, kTrackFrames);
    QApplication app(argc, argv);
    const int handle = disc.Open();
    if (handle == 0) {
        std::fprintf(stderr, "the image did not open\n");
        return 1;
    }
    const testsupport::ScratchFolder& dir = disc.dir;
    settings::Settings.CommonOptions.OutputFolder = dir.Path();
    settings::Settings.ID3.Use = true; // only tagged files are measured
    const settings::TOutputFormat formats[] = {
        settings::TOutputFormat::ofFlac, settings::TOutputFormat::ofOgg,
        settings::TOutputFormat::ofMp3, settings::TOutputFormat::ofOpus};
    const double meter = MeterSeconds(disc.cue);
    std::printf("the meter alone: %.3f s of CPU over the %d tracks\n", meter, kTracks);
    for (const settings::TOutputFormat format : formats) {
        settings::Settings.CommonOptions.OutputFormat = format;
        std::vector<double> offWall, onWall, offCpu, onCpu, added;
        for (int p = 0; p < pairs; ++p) {
            const bool onFirst = p % 2 == 1;
            const Cost first = WindowRip(handle, onFirst);
            const Cost second = WindowRip(handle, !onFirst);
            const Cost& off = onFirst ? second : first;
            const Cost& on = onFirst ? first : second;
            offWall.push_back(off.wall);
            onWall.push_back(on.wall);
            offCpu.push_back(off.cpu);
            onCpu.push_back(on.cpu);
            added.push_back(on.cpu / off.cpu - 1.0);
        }
        std::printf("%-5s wall %.2f s off, %.2f s on; cpu %.2f s off, %.2f s on; added cpu "
                    "%.1f %%; the analysis %.1f %% (goal < 3 %%)\n",
                    settings::FormatRow(format)->Extension + 1, benchrip::Median(offWall),
                    benchrip::Median(onWall), benchrip::Median(offCpu), benchrip::Median(onCpu),
                    benchrip::Median(added) * 100.0, meter / benchrip::Median(offCpu) * 100.0);
    }
    cd::CloseCDHandle(handle);
    jobs::Mp3Process.reset();
    return 0;
}
