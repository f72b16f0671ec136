#pragma once
// For tests that play through the sound server: they fail when scripts/test promised a
// server (VELLORINE_REQUIRE_PULSE=1) and none answers, and skip otherwise. They find the
// test's null sink, record its monitor with parecord and look for tones in what it heard.
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/WaveOut.h"

extern char** environ;

namespace testsupport {

inline bool SoundServerRequired() {
    const char* value = std::getenv("VELLORINE_REQUIRE_PULSE");
    return value != nullptr && std::string(value) == "1";
}

// The device number and name of the test's null sink (or of the first sink).
inline std::pair<std::int32_t, std::string> TestSink() {
    auto session = platform::pulse::Session::Connect("test", 2000);
    const auto names = session ? session->SinkNames() : std::vector<std::string>{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "vellorine_null") {
            return {static_cast<std::int32_t>(i), names[i]};
        }
    }
    return names.empty() ? std::pair<std::int32_t, std::string>{0, ""} : std::pair{0, names[0]};
}

// Records the sink's monitor as 44.1 kHz mono 16-bit with parecord while alive.
class MonitorRecording {
public:
    explicit MonitorRecording(const std::string& sink)
        : file_(std::filesystem::temp_directory_path() /
                ("vellorine-monitor-" + std::to_string(getpid()) + ".raw")) {
        const std::string device = "--device=" + sink + ".monitor";
        const std::string target = file_.string();
        std::vector<std::string> args = {"parecord",          device,         "--raw",
                                         "--format=s16le",    "--rate=44100", "--channels=1",
                                         "--latency-msec=20", target};
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "parecord", nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;
    // Ends the recording and returns its samples.
    std::vector<std::int16_t> Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        std::ifstream in(file_, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<std::int16_t> samples(bytes.size() / 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<std::int16_t>(
                static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                           (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8)));
        }
        return samples;
    }
    ~MonitorRecording() {
        Stop();
        std::error_code ec;
        std::filesystem::remove(file_, ec);
    }

private:
    std::filesystem::path file_;
    pid_t pid_ = -1;
};

// The power of one frequency in the samples.
inline double Goertzel(const std::vector<std::int16_t>& s, double freq, double rate) {
    const double coeff = 2 * std::cos(2 * std::numbers::pi * freq / rate);
    double a = 0;
    double b = 0;
    for (std::int16_t x : s) {
        const double c = x + coeff * a - b;
        b = a;
        a = c;
    }
    return a * a + b * b - coeff * a * b;
}

} // namespace testsupport

#define REQUIRE_SOUND_SERVER()                                                                     \
    do {                                                                                           \
        if (platform::waveOutGetNumDevs() == 0) {                                                  \
            if (testsupport::SoundServerRequired()) {                                              \
                FAIL() << "VELLORINE_REQUIRE_PULSE=1 but no PulseAudio sink answers";              \
            }                                                                                      \
            GTEST_SKIP() << "no PulseAudio server with a sink; start one to run this test";        \
        }                                                                                          \
    } while (0)
