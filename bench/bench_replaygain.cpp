// What ReplayGain adds to a rip: the same 5-track image (60 s a track, tones) ripped by the
// job window to each format with the tags on, ReplayGain off and on, in interleaved pairs.
//   build/bench/bench_replaygain [--pairs N]
// Prints per format the medians of wall time and of CPU time (this process's threads plus
// the encoder processes it waited for), and the CPU the measuring added (goal < 3 %).
// The meter alone: bench_rip's BM_LoudnessMeter.
#include <QApplication>
#include <QEventLoop>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "WindowRip.h"
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
                    "%.1f %% (goal < 3 %%)\n",
                    settings::FormatRow(format)->Extension + 1, benchrip::Median(offWall),
                    benchrip::Median(onWall), benchrip::Median(offCpu), benchrip::Median(onCpu),
                    benchrip::Median(added) * 100.0);
    }
    cd::CloseCDHandle(handle);
    jobs::Mp3Process.reset();
    return 0;
}
