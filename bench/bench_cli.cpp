// The command line against the window (a 10-track image, 60 s a track):
//   build/bench/bench_cli [--pairs N]
// Prints:
//   version      `vellorine --version` start to exit: loading the program and its libraries
//   first read   process start to the disc's first read: `vellorine info --image` (it opens
//                the image and reads its table of contents) run to its end, and the time to
//                the first progress line of `vellorine rip` (the rip thread has started
//                reading); medians of 10 runs (goal < 100 ms)
//   mp3 rip      the same rip to MP3 by the job window in this process and by `vellorine rip`
//                (a whole process, start to exit), in interleaved pairs (window first, then
//                command line first, ...); medians and ratio cli / window (goal <= 1.02)
#include <QApplication>
#include <QEventLoop>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "WindowRip.h"
#include "cd/DiscImages.h"
#include "cd/akrip32.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/rip.h"
#include "settings/Global.h"
#include "support/TestSupport.h"

extern char** environ;

namespace {

constexpr int kTracks = 10;
constexpr int kTrackFrames = 60 * 75;
const std::string kProgram = VELLORINE_BINARY_DIR "/vellorine";

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs the program; returns the seconds to its first line of output (firstLine) or to its end.
double RunProgram(const std::vector<std::string>& args, bool firstLine) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const auto start = Clock::now();
    if (::posix_spawn(&pid, kProgram.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + kProgram);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    double seconds = -1;
    char buffer[4096];
    for (ssize_t n = 0; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        if (firstLine && seconds < 0 && std::memchr(buffer, '\n', static_cast<std::size_t>(n))) {
            seconds = SecondsSince(start);
        }
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("vellorine failed");
    }
    return firstLine ? seconds : SecondsSince(start);
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const int pairs = benchrip::PairsArgument(argc, argv, 3);
    benchrip::TBenchDisc disc(kTracks, kTrackFrames);
    QApplication app(argc, argv);
    const std::string& cue = disc.cue;
    const int handle = disc.Open();
    if (handle == 0) {
        std::fprintf(stderr, "the image did not open\n");
        return 1;
    }
    const testsupport::ScratchFolder& dir = disc.dir;
    const std::string windowOut = dir.File("window");
    const std::string cliOut = dir.File("cli");
    fs::create_directories(windowOut);
    settings::Settings.CommonOptions.OutputFolder = windowOut;
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofMp3;
    settings::LoadSaveOptions(false);

    std::vector<double> version;
    std::vector<double> info;
    std::vector<double> firstProgress;
    for (int i = 0; i < 10; ++i) {
        version.push_back(RunProgram({"--version"}, false));
        info.push_back(RunProgram({"info", "--image", cue}, false));
        firstProgress.push_back(RunProgram(
            {"rip", "--image", cue, "--tracks", "1", "--format", "wav", "--output", cliOut}, true));
    }
    std::printf("version      %.1f ms\n", benchrip::Median(version) * 1000);
    std::printf("first read   info %.1f ms, first rip progress %.1f ms (goal < 100 ms)\n",
                benchrip::Median(info) * 1000, benchrip::Median(firstProgress) * 1000);

    std::vector<double> window;
    std::vector<double> cli;
    const std::vector<std::string> rip = {"rip", "--image", cue, "--quiet", "--output", cliOut};
    for (int p = 0; p < pairs; ++p) {
        if (p % 2 == 0) {
            window.push_back(benchrip::WindowRip(handle, kTracks));
            cli.push_back(RunProgram(rip, false));
        } else {
            cli.push_back(RunProgram(rip, false));
            window.push_back(benchrip::WindowRip(handle, kTracks));
        }
    }
    std::printf("mp3 rip      window %.2f s, command line %.2f s; ratio %.3f (goal <= 1.02)\n",
                benchrip::Median(window), benchrip::Median(cli),
                benchrip::Median(cli) / benchrip::Median(window));
    cd::CloseCDHandle(handle);
    jobs::Mp3Process.reset();
    return 0;
}
