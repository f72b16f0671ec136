// OGG playback cost: the player window plays 10 s of a 44.1 kHz stereo file made by oggenc
// (decoding, spectrum analysis and drawing every 50 ms, balance, sound output, the clock),
// offscreen, and reports the process's CPU time over that time as a share of one core, and
// the sound server's underflows. Needs a PulseAudio server (scripts/test starts one with a
// null sink; or run it on a desktop) and sox and oggenc on the PATH.
#include "tools/OggPlayer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "platform/ScriptedDialogs.h"
#include "support/TestSupport.h"

namespace {

double ProcessCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU seconds used so far by each thread of this process, by thread id.
std::map<int, double> ThreadCpu() {
    std::map<int, double> times;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // Fields after the command name in parentheses: utime and stime are the 12th and
        // 13th of them.
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 1; i <= 13 && rest >> field; ++i) {
            if (i == 12) {
                utime = std::stod(field);
            } else if (i == 13) {
                stime = std::stod(field);
            }
        }
        times[std::stoi(entry.path().filename().string())] = (utime + stime) / tick;
    }
    return times;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testsupport::ScratchFolder dir;
    const std::string wav = dir.File("music.wav");
    const std::string ogg = dir.File("music.ogg");
    if (testsupport::RunCommand("sox -n -r 44100 -c 2 -b 16 " + wav +
                                " synth 20 sine 220-880 sine 1000 vol 0.5 && oggenc -Q -q 4 -o " +
                                ogg + " " + wav)
            .ExitCode != 0) {
        std::fprintf(stderr, "could not make the file (sox, oggenc)\n");
        return 1;
    }
    auto scripted = std::make_unique<platform::ScriptedDialogs>();
    scripted->openAnswers.push_back({QString::fromStdString(ogg)});
    platform::InstallDialogs(std::move(scripted));

    tools::TfrmOggPlayer form(nullptr);
    form.show();
    form.findChild<QAbstractButton*>("BitBtn1")->click();
    if (!form.Playing()) {
        std::fprintf(stderr, "playback did not start (is a sound server running?)\n");
        return 1;
    }
    // Let the queue fill before measuring steady playback.
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < settle) {
        app.processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const auto threadsStart = ThreadCpu();
    const double cpuStart = ProcessCpu();
    const auto wallStart = std::chrono::steady_clock::now();
    // The GUI thread runs its own event loop, as in the program.
    QTimer::singleShot(10000, &app, &QApplication::quit);
    app.exec();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = ProcessCpu() - cpuStart;
    const auto threadsEnd = ThreadCpu();
    double listed = 0;
    for (const auto& [tid, seconds] : threadsEnd) {
        const auto before = threadsStart.find(tid);
        if (before == threadsStart.end() || seconds - before->second <= 0) {
            continue;
        }
        listed += seconds - before->second;
        std::printf("  thread %d%s: %.2f %% of one core\n", tid, tid == getpid() ? " (GUI)" : "",
                    100.0 * (seconds - before->second) / wall);
    }
    std::printf("  the rest (sound-server client threads and any that were not sampled): %.2f %%\n",
                100.0 * (cpu - listed) / wall);
    std::printf("OGG playback with spectrum, %.1f s: CPU %.3f s = %.2f %% of one core\n", wall, cpu,
                100.0 * cpu / wall);
    return 0;
}
