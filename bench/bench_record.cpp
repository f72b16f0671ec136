// Recording cost and completeness: the wave-audio device records 44.1 kHz 16-bit stereo from
// the default source (the test sink's monitor while a tone plays into it) for a while; the
// process's CPU time over that time is its share of one core, and the device's capture
// status says whether any sound was lost (holes in the server's stream or no free buffer).
// parecord recording the same source for the same time is the comparison.
//
//   build/bench/bench_record [seconds]      (default 10; the goal run is 60)
//
// Needs a PulseAudio server with a sink (scripts/test starts one; export the same
// XDG_RUNTIME_DIR). Goals: < 3 % of one core, 0 overflows, length within 50 ms.
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/MciWaveAudio.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"

namespace {

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    testsupport::ScratchFolder folder;
    testsupport::MonitorAsDefaultSource monitor;
    testsupport::TonePlayer tone(1000, seconds * 2 + 10);
    const std::string path = folder.File("bench.wav");
    platform::WriteEmptyWav(path, 2, 44100, 16);
    platform::MciWaveAudio device;
    if (!device.Open(path)) {
        std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), device.LastError().c_str());
        return 1;
    }

    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    if (!device.Record(std::nullopt)) {
        std::fprintf(stderr, "cannot record: %s\n", device.LastError().c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = Since(start);
    const bool saved = device.Stop();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    const platform::WaveInStatus status = device.LastRecordingStatus();
    const int64_t length = device.LengthMs();

    // parecord on the same source for the same time, its CPU time from wait4.
    const std::string raw = folder.File("parecord.raw");
    const double childBefore = CpuSeconds(RUSAGE_CHILDREN);
    {
        testsupport::BackgroundCommand parecord(
            "exec parecord --raw --format=s16le --rate=44100 --channels=2 " +
            testsupport::Quoted(raw));
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
    }
    const double parecordCpu = CpuSeconds(RUSAGE_CHILDREN) - childBefore;

    std::printf("recorded %d s of 44.1 kHz 16-bit stereo (%s)\n", seconds,
                saved ? "saved" : device.LastError().c_str());
    std::printf("  length            %lld ms for %.0f ms recording (%+lld ms)\n",
                static_cast<long long>(length), wall * 1000,
                static_cast<long long>(length - static_cast<int64_t>(wall * 1000)));
    std::printf("  overflows         %u (%llu bytes lost)\n", status.overflows,
                static_cast<unsigned long long>(status.lostBytes));
    std::printf("  CPU               %.3f s = %.2f %% of one core\n", cpu, 100 * cpu / wall);
    std::printf("  parecord CPU      %.3f s = %.2f %% of one core (ratio %.2f)\n", parecordCpu,
                100 * parecordCpu / seconds, parecordCpu > 0 ? cpu / parecordCpu : 0.0);
    return status.overflows == 0 && saved ? 0 : 2;
}
