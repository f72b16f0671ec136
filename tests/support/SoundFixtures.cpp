#include "support/SoundFixtures.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>
#include <thread>

#include "support/TestSupport.h"

extern char** environ;

namespace testsupport {

BackgroundCommand::BackgroundCommand(const std::string& command) {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::string line = "exec 2>/dev/null; " + command;
    char sh[] = "/bin/sh";
    char dashC[] = "-c";
    char* argv[] = {sh, dashC, line.data(), nullptr};
    if (posix_spawn(&pid_, "/bin/sh", nullptr, &attr, argv, environ) != 0) {
        pid_ = -1;
    }
    posix_spawnattr_destroy(&attr);
}

BackgroundCommand::~BackgroundCommand() {
    Kill(SIGTERM);
}

void BackgroundCommand::Kill(int signal) {
    if (pid_ <= 0) {
        return;
    }
    ::kill(-pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

PrivateSoundServer::PrivateSoundServer(const std::string& folder)
    : socket_(folder + "/native"),
      daemon_("XDG_RUNTIME_DIR=" + Quoted(folder) + " HOME=" + Quoted(folder) +
              " exec pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no " +
              "-L 'module-native-protocol-unix auth-anonymous=1 socket=" + socket_ + "' " +
              "-L 'module-null-sink sink_name=private'"),
      env_("PULSE_SERVER", ("unix:" + socket_).c_str()) {
    WaitUntil([] { return RunCommand("pactl info").ExitCode == 0; }, std::chrono::seconds(5));
}

void PrivateSoundServer::Kill() {
    daemon_.Kill(SIGKILL);
}

std::string TestSinkName() {
    const CommandResult sinks = RunCommand("pactl list short sinks");
    std::istringstream lines(sinks.Output);
    std::string line;
    std::string first;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index;
        std::string name;
        fields >> index >> name;
        if (name == "vellorine_null") {
            return name;
        }
        if (first.empty()) {
            first = name;
        }
    }
    return first;
}

namespace {
std::string DefaultSource() {
    const CommandResult result = RunCommand("pactl get-default-source");
    std::string name = result.Output;
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) {
        name.pop_back();
    }
    return result.ExitCode == 0 ? name : std::string();
}
} // namespace

MonitorAsDefaultSource::MonitorAsDefaultSource() : old_(DefaultSource()) {
    RunCommand("pactl set-default-source " + Quoted(TestSinkName() + ".monitor"));
}

MonitorAsDefaultSource::~MonitorAsDefaultSource() {
    if (!old_.empty()) {
        RunCommand("pactl set-default-source " + Quoted(old_));
    }
}

TonePlayer::TonePlayer(double freq, int seconds)
    : command_(
          "sox -n -r 44100 -c 1 -b 16 -e signed -t raw - synth " + std::to_string(seconds) +
          " sine " + std::to_string(freq) + " vol 0.5 | pacat --raw --rate=44100 " +
          "--channels=1 --format=s16le --latency-msec=1000 --device=" + Quoted(TestSinkName())) {
    // The sink plays what pacat sends only after it has connected and filled its buffer.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

SoxSound ReadWithSox(const std::string& path) {
    SoxSound sound;
    const CommandResult rate = RunCommand("soxi -r " + Quoted(path));
    if (rate.ExitCode != 0) {
        return sound;
    }
    sound.rate = std::stoi(rate.Output);
    const std::string command =
        "sox " + Quoted(path) + " -t raw -e signed -b 16 - remix 1 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return sound;
    }
    int16_t buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, sizeof(int16_t), 4096, pipe)) > 0) {
        for (size_t i = 0; i < n; ++i) {
            sound.samples.push_back(buffer[i] / 32768.0);
        }
    }
    ::pclose(pipe);
    return sound;
}

ToneTrack TrackTone(const std::vector<double>& samples, int rate, double freq, size_t window) {
    ToneTrack track;
    const double step = 2 * std::numbers::pi * freq / rate;
    for (size_t start = 0; start + window <= samples.size(); start += window) {
        double re = 0;
        double im = 0;
        for (size_t n = start; n < start + window; ++n) {
            const double angle = std::fmod(step * static_cast<double>(n), 2 * std::numbers::pi);
            re += samples[n] * std::cos(angle);
            im -= samples[n] * std::sin(angle);
        }
        track.amplitude.push_back(2 * std::hypot(re, im) / static_cast<double>(window));
        track.phase.push_back(std::atan2(im, re));
    }
    return track;
}

double MaxPhaseStep(const ToneTrack& track, size_t first, size_t last) {
    double worst = 0;
    for (size_t i = first + 1; i < last && i < track.phase.size(); ++i) {
        const double step =
            std::remainder(track.phase[i] - track.phase[i - 1], 2 * std::numbers::pi);
        worst = std::max(worst, std::abs(step));
    }
    return worst;
}

} // namespace testsupport
