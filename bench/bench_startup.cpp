// Start-up cost of the program: from process start to a filled track list on a
// 20-track disc image, and the resident memory of the idle window afterwards.
//   build/bench/bench_startup            (makes its own image under /tmp)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "app/MainForm.h"

namespace {

// Seconds since this process was started, from /proc.
double SecondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string field;
    for (int i = 0; i < 22 && stat >> field; ++i) {
    }
    const double startTicks = std::stod(field);
    std::ifstream uptimeFile("/proc/uptime");
    double uptime = 0;
    uptimeFile >> uptime;
    return uptime - startTicks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string dir = "/tmp/vellorine-bench-startup";
    const std::string cue = dir + "/twenty.cue";
    if (access(cue.c_str(), R_OK) != 0) {
        std::string make = "mkdir -p " + dir +
                           " && '" VELLORINE_SOURCE_DIR "/scripts/make-disc-image' " + cue +
                           " --frames";
        for (int t = 0; t < 20; ++t) {
            make += " " + std::to_string(750 + 75 * t);
        }
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "could not make the disc image\n");
            return 1;
        }
        // Measure in a fresh process so that making the image is not counted.
        const pid_t child = fork();
        if (child == 0) {
            execv("/proc/self/exe", argv);
            _exit(127);
        }
        int status = 1;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    setenv("VELLORINE_CD_IMAGES", cue.c_str(), 1);
    setenv("VELLORINE_HOME", (dir + "/home").c_str(), 1);
    QApplication application(argc, argv);
    app::TMainForm form;
    form.show();
    const double toList = SecondsSinceProcessStart();
    const int rows = form.ListView()->topLevelItemCount();
    QTimer::singleShot(1000, &application, &QApplication::quit);
    QApplication::exec();
    std::printf("start to filled track list: %.3f s (%d rows)\n", toList, rows);
    std::printf("idle resident memory: %.1f MB\n", static_cast<double>(ResidentKb()) / 1024.0);
    return rows == 20 ? 0 : 1;
}
