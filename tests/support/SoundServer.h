#pragma once
// For tests that play through the sound server: they fail when scripts/test promised a
// server (VELLORINE_REQUIRE_PULSE=1) and none answers, and skip otherwise.
//
// MonitorRecording records a sink's monitor with parecord while it lives (the sound that
// reached the sink), Goertzel measures one frequency's power in what was recorded.
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
#include "support/TestSupport.h"

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

// Records the sink's monitor as 44.1 kHz 16-bit PCM (interleaved when stereo) while alive.
class MonitorRecording {
public:
    // Without a file the samples go to a temporary file of its own, removed at the end.
    explicit MonitorRecording(const std::string& sink, std::filesystem::path file = {},
                              int channels = 1)
        : file_(file.empty() ? std::filesystem::temp_directory_path() /
                                   ("vellorine-monitor-" + std::to_string(getpid()) + ".raw")
                             : file),
          ownsFile_(file.empty()) {
        std::error_code gone;
        std::filesystem::remove(file_, gone); // only parecord's own bytes count below
        std::vector<std::string> args = {"parecord",
                                         "--device=" + sink + ".monitor",
                                         "--raw",
                                         "--format=s16le",
                                         "--rate=44100",
                                         "--channels=" + std::to_string(channels),
                                         "--latency-msec=20",
                                         file_.string()};
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "parecord", nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        // The recording counts from the moment data flows: a monitor of an idle sink
        // delivers in large blocks, so parecord's first bytes can take two seconds.
        if (pid_ > 0) {
            WaitUntil(
                [this] {
                    std::error_code ec;
                    const auto size = std::filesystem::file_size(file_, ec);
                    return !ec && size > 0;
                },
                std::chrono::seconds(5));
        }
    }
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;
    std::vector<std::int16_t> Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        return S16Samples(ReadAll(file_.string()));
    }
    ~MonitorRecording() {
        Stop();
        if (ownsFile_) {
            std::error_code ec;
            std::filesystem::remove(file_, ec);
        }
    }

private:
    std::filesystem::path file_;
    bool ownsFile_ = false;
    pid_t pid_ = -1;
};

// Power of one frequency in every stride-th sample from first (one channel of interleaved
// PCM).
inline double Goertzel(const std::vector<std::int16_t>& s, double freq, double rate,
                       std::size_t first = 0, std::size_t stride = 1) {
    const double coeff = 2 * std::cos(2 * std::numbers::pi * freq / rate);
    double a = 0;
    double b = 0;
    for (std::size_t i = first; i < s.size(); i += stride) {
        const double c = s[i] + coeff * a - b;
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
