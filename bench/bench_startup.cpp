// Start-up cost of the program: from process start to a filled track list on a
// 20-track disc image, the close (which stores the disc's titles and the options), and the
// resident memory of the idle window and at its peak.
//   build/bench/bench_startup            (makes its own image under /tmp)
//   build/bench/bench_startup 50         the same with a 50 MB cdinfo.dat of other discs
// The disc is not in the large file, so opening it misses every lookup and closing adds its
// section: the case of a user with a long history who puts a new disc in.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
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

long StatusKb(const char* name) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(name) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stol(line.substr(prefix.size()));
        }
    }
    return -1;
}

// About megabytes of disc sections as a long history leaves them (some 400 bytes a disc).
void WriteHistory(const std::string& path, int megabytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const long long bytes = static_cast<long long>(megabytes) * 1024 * 1024;
    unsigned int id = 12345;
    for (long long written = 0; written < bytes;) {
        id = id * 1103515245u + 12345u;
        std::string section = "[" + std::to_string(static_cast<int>(id)) + "]\n" +
                              "Artist=Some Artist " + std::to_string(id % 977) + "\n" +
                              "Album=An Album Title\nYear=1987\nGenre=12\nComment=\n" +
                              "TrackNumber=12\n";
        for (int t = 1; t <= 12; ++t) {
            section += std::to_string(t) + "=A Song Called Number " + std::to_string(t) + "\n";
        }
        out << section;
        written += static_cast<long long>(section.size());
    }
}

int Measure(int argc, char** argv) {
    QApplication application(argc, argv);
    auto form = std::make_unique<app::TMainForm>();
    form->show();
    const double toList = SecondsSinceProcessStart();
    const int rows = form->ListView()->topLevelItemCount();
    // The window stores its settings when the application is about to quit (as on logout)
    // or when it closes, whichever comes first: the close is timed from the quit.
    long idleKb = 0;
    QElapsedTimer close;
    QTimer::singleShot(1000, &application, [&] {
        idleKb = StatusKb("VmRSS");
        close.start();
        QApplication::quit();
    });
    QApplication::exec();
    form->close();
    const double closeSeconds = static_cast<double>(close.nsecsElapsed()) / 1e9;
    std::printf("start to filled track list: %.3f s (%d rows)\n", toList, rows);
    std::printf("close (titles and options stored): %.3f s\n", closeSeconds);
    std::printf("idle resident memory: %.1f MB\n", static_cast<double>(idleKb) / 1024.0);
    std::printf("peak resident memory: %.1f MB\n", static_cast<double>(StatusKb("VmHWM")) / 1024.0);
    return rows == 20 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("VELLORINE_BENCH_MEASURE") != nullptr) {
        return Measure(argc, argv);
    }
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 0;
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
    }
    // A fresh settings folder every run: the close adds the disc to cdinfo.dat.
    const std::string home = dir + "/home-" + std::to_string(megabytes);
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    if (megabytes > 0) {
        const std::string history = dir + "/history-" + std::to_string(megabytes) + ".dat";
        if (access(history.c_str(), R_OK) != 0) {
            WriteHistory(history, megabytes);
        }
        std::filesystem::copy_file(history, home + "/cdinfo.dat");
        std::printf("cdinfo.dat: %.1f MB\n",
                    static_cast<double>(std::filesystem::file_size(history)) / 1048576.0);
    }
    // A user's cdinfo.dat was last written well before the program starts, not just now.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    setenv("VELLORINE_CD_IMAGES", cue.c_str(), 1);
    setenv("VELLORINE_HOME", home.c_str(), 1);
    setenv("VELLORINE_BENCH_MEASURE", "1", 1);
    // Measured in a fresh process so that making the fixtures is not counted.
    const pid_t child = fork();
    if (child == 0) {
        execv("/proc/self/exe", argv);
        _exit(127);
    }
    int status = 1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
