// Wall-clock comparisons of the Vorbis components with the command-line tools, the cost of
// the spectrum analysis, and how far the sound output runs ahead of what is heard.
// Needs sox, oggenc and oggdec on PATH; the output figure needs a PulseAudio server.
#include "audio/ACS_Audio.h"
#include "audio/ACS_Indicator.h"
#include "audio/ACS_Vorbis.h"
#include "audio/ACS_Wave.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double TimeCommand(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    }
    return Seconds(Clock::now() - start);
}

// Runs a sink to its end and returns the wall time.
double RunSink(audio::TACSOutput& sink) {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    auto finish = [&] {
        std::lock_guard lock(mutex);
        done = true;
        ended.notify_all();
    };
    sink.OnDone = [&](audio::TACSOutput*) { finish(); };
    sink.OnThreadException = [&](audio::TACSOutput*, const std::exception& e) {
        std::fprintf(stderr, "run failed: %s\n", e.what());
        finish();
    };
    const auto start = Clock::now();
    sink.Run();
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return done; });
    return Seconds(Clock::now() - start);
}

// An endless 16-bit stereo tone.
class TToneSource : public audio::TACSInput {
public:
    ~TToneSource() override { DetachUsers(); }
    std::int32_t BitsPerSample() override { return 16; }
    std::int32_t Channels() override { return 2; }
    std::int32_t SampleRate() override { return 44100; }
    void Init() override {
        FBusy = true;
        FPosition = 0;
        FSize = limit;
    }
    void Flush() override { FBusy = false; }
    std::int32_t GetData(void* buffer, std::int32_t size) override {
        const std::int32_t n = std::min(size, limit - FPosition.load()) & ~3;
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (std::int32_t i = 0; i < n; i += 4) {
            const auto v =
                static_cast<std::int16_t>(8000 * std::sin(2 * 3.141592653589793 * 440 *
                                                          static_cast<double>(frame_++) / 44100.0));
            out[i] = out[i + 2] = static_cast<std::uint8_t>(v & 0xFF);
            out[i + 1] = out[i + 3] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        }
        FPosition += n;
        return n;
    }
    std::int32_t limit = 44100 * 4 * 60;

private:
    std::int64_t frame_ = 0;
};

// Samples the output's queued blocks every millisecond while a 10 s tone plays. The steady
// part runs from the first full queue until the source has handed over its last byte (the
// first fill and the final drain are left out); the time below 0.3 s is weighted by how long
// each sample held. Underflows are the server's own count of running dry while playing.
void MeasureOutput() {
    if (audio::TAudioOut::OutputDeviceCount() == 0) {
        std::printf("output: no sound server, skipped\n");
        return;
    }
    constexpr double kBlockSeconds = 8192 / (44100.0 * 4);
    constexpr double kGoal = 0.3;
    TToneSource tone;
    tone.limit = 44100 * 4 * 10;
    audio::TAudioOut out;
    out.SetInput(&tone);
    std::atomic<bool> running{true};
    double minimum = 1e9;
    double weighted = 0;
    double below = 0;
    double steady = 0;
    std::thread watcher([&] {
        bool started = false;
        double queued = 0;
        Clock::time_point last = Clock::now();
        while (running && tone.Position() < tone.limit) {
            const Clock::time_point now = Clock::now();
            if (started) {
                const double held = Seconds(now - last);
                steady += held;
                weighted += queued * held;
                below += queued < kGoal ? held : 0;
            }
            queued = out.QueuedCount() * kBlockSeconds;
            started = started || out.QueuedCount() == 9;
            if (started) {
                minimum = std::min(minimum, queued);
            }
            last = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const double wall = RunSink(out);
    running = false;
    watcher.join();
    std::printf("output: 10.000 s of sound played in %.3f s; steady %.3f s: queued min %.3f s, "
                "mean %.3f s, below %.1f s for %.2f %% of the time; underflows %d\n",
                wall, steady, minimum, steady > 0 ? weighted / steady : 0.0, kGoal,
                steady > 0 ? below / steady * 100 : 0.0, out.UnderflowCount());
}

} // namespace

int main(int argc, char** argv) {
    // "bench_vorbis output" runs only the sound output measurement.
    if (argc > 1 && std::string(argv[1]) == "output") {
        MeasureOutput();
        return 0;
    }
    const fs::path dir =
        fs::temp_directory_path() / ("vellorine-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string wav = (dir / "in.wav").string();
    const std::string ours = (dir / "ours.ogg").string();
    const std::string theirs = (dir / "theirs.ogg").string();
    std::system(("sox -n -r 44100 -c 2 -b 16 '" + wav +
                 "' synth 60 pinknoise vol 0.3 synth 60 sine mix 220-880 2>/dev/null")
                    .c_str());

    // 1. WAV to OGG at quality 0.2 against oggenc -q 2.
    double encodeOurs = 1e9;
    double encodeTheirs = 1e9;
    for (int round = 0; round < 3; ++round) {
        audio::TWaveIn in;
        in.SetFileName(wav);
        audio::TVorbisOut out;
        out.SetCompression(0.2f);
        out.SetInput(&in);
        out.SetFileName(ours);
        encodeOurs = std::min(encodeOurs, RunSink(out));
        encodeTheirs =
            std::min(encodeTheirs, TimeCommand("oggenc -Q -q 2 -o '" + theirs + "' '" + wav + "'"));
    }
    std::printf("encode 60 s WAV->OGG q0.2: ours %.3f s, oggenc -q 2 %.3f s, ratio %.3f\n",
                encodeOurs, encodeTheirs, encodeOurs / encodeTheirs);

    // 2. Decoding the oggenc file through the reader against oggdec.
    double decodeOurs = 1e9;
    double decodeTheirs = 1e9;
    for (int round = 0; round < 3; ++round) {
        audio::TVorbisIn in;
        in.SetFileName(theirs);
        std::vector<std::uint8_t> buffer(65536);
        const auto start = Clock::now();
        in.Init();
        while (in.GetData(buffer.data(), 65536) > 0) {
        }
        in.Flush();
        decodeOurs = std::min(decodeOurs, Seconds(Clock::now() - start));
        decodeTheirs =
            std::min(decodeTheirs, TimeCommand("oggdec -Q -R -o /dev/null '" + theirs + "'"));
    }
    std::printf("decode 60 s OGG: ours %.3f s, oggdec %.3f s, ratio %.3f\n", decodeOurs,
                decodeTheirs, decodeOurs / decodeTheirs);

    // 3. Spectrum analysis cost per second of 44.1 kHz stereo.
    {
        TToneSource tone;
        audio::TSoundIndicator indicator;
        indicator.SetInput(&tone);
        indicator.Init();
        std::vector<std::uint8_t> buffer(8192);
        const auto start = Clock::now();
        while (indicator.GetData(buffer.data(), 8192) > 0) {
        }
        const double took = Seconds(Clock::now() - start);
        indicator.Flush();
        std::printf("indicator: %.4f s for 60 s of audio = %.3f %% of a core\n", took,
                    took / 60 * 100);
    }

    // 4. How much sound the output keeps queued ahead of playback.
    MeasureOutput();
    fs::remove_all(dir);
    return 0;
}
