// Rate conversion side by side with sox at its default rate quality, on the same files.
//
//   bench_resample_sox            all three parts below
//   bench_resample_sox tones|passband|speed     one part only
//
// The two filters differ: ours is the job window's (KernelWidth 30, Blackman window), sox's
// default quality (-h) is a much longer filter whose pass band reaches 95 % of Nyquist. The
// tone table stays below 60 % of Nyquist, where both are clean; the pass-band part shows
// what the short filter costs above that.
//
// tones: for every pair of 8000, 11025, 16000, 22050, 32000, 44100 and 48000 Hz, a tone at
// 10, 30 and 60 % of the lower rate's Nyquist frequency (2 s, mono, -4 dBFS) is converted by
// TRateConverter and by `sox IN -r OUT OUT.wav`; the table gives the signal to
// noise-and-distortion ratio (dB) of each, measured the same way, and the CPU time of both
// over the whole table.
// passband: 44100 <-> 48000 Hz, tones at 16 to 20 kHz (the top of the audible band): the
// level of each tone after the conversion against the level before it (dB, 0 = untouched).
// speed: a minute of 48 kHz stereo to 44.1 kHz, WAV file to WAV file (TWaveIn ->
// TRateConverter -> TWaveOut, as the WAV to WAV window runs it) against sox; CPU seconds
// (best of 5) and their ratio. Every part needs sox on the PATH.
#include "audio/ACS_Converters.h"
#include "audio/ACS_Wave.h"

#include "audio/TestSources.h"
#include "audio/WavFixtures.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <future>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace audio;

double ProcessCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ChildrenCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Converts a WAV file to another rate through the pipeline; the CPU seconds it took.
double OurConversion(const std::string& from, const std::string& to, std::int32_t rate) {
    TWaveIn in;
    in.SetFileName(from);
    TRateConverter converter;
    converter.SetKernelWidth(30);
    converter.SetFilterWindow(fwBlackman);
    converter.SetOutSampleRate(rate);
    converter.SetInput(&in);
    TWaveOut out;
    out.SetInput(&converter);
    out.SetFileName(to);
    const double start = ProcessCpu();
    const std::string error = test::RunToEnd(out);
    const double used = ProcessCpu() - start;
    if (!error.empty()) {
        std::fprintf(stderr, "conversion failed: %s\n", error.c_str());
    }
    return used;
}

double SoxConversion(const std::string& from, const std::string& to, std::int32_t rate) {
    const double start = ChildrenCpu();
    if (test::Shell("sox " + from + " -r " + std::to_string(rate) + " " + to) != 0) {
        std::fprintf(stderr, "sox failed\n");
    }
    return ChildrenCpu() - start;
}

std::vector<double> Middle(const std::vector<int16_t>& samples, std::size_t skip) {
    if (samples.size() <= 2 * skip) {
        return {};
    }
    return {samples.begin() + static_cast<long>(skip), samples.end() - static_cast<long>(skip)};
}

double SinadDb(const std::vector<int16_t>& samples, double freq, double rate, std::size_t skip) {
    const std::vector<double> middle = Middle(samples, skip);
    return middle.empty() ? 0.0 : test::SinadDb(middle, freq, rate);
}

constexpr double kToneAmplitude = 20000; // -4.3 dBFS

// The tone's level against the level it was written with (dB).
double LevelDb(const std::vector<int16_t>& samples, double freq, double rate, std::size_t skip) {
    const std::vector<double> middle = Middle(samples, skip);
    if (middle.empty()) {
        return -999.0;
    }
    return 20 * std::log10(test::FitTone(middle, freq, rate).Amplitude() / kToneAmplitude);
}

std::vector<int16_t> DataOf(const std::string& path) {
    const auto data = test::FindChunk(test::ReadBytes(path), "data");
    return data ? test::S16Samples(*data) : std::vector<int16_t>{};
}

// Writes 2 s of a mono tone at this rate.
void WriteTone(const std::string& path, std::int32_t rate, double freq) {
    const std::size_t frames = static_cast<std::size_t>(rate) * 2;
    std::vector<int16_t> tone(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        tone[n] = static_cast<int16_t>(
            std::lround(kToneAmplitude *
                        std::sin(2 * std::numbers::pi * freq * static_cast<double>(n) / rate)));
    }
    test::WriteBytes(path,
                     test::PcmWav(test::S16ToBytes(tone), 1, static_cast<std::uint32_t>(rate), 16));
}

void Tones(const test::TempDir& dir) {
    const std::vector<std::int32_t> rates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
    double oursCpu = 0, soxCpu = 0, oursWorst = 1e9, soxWorst = 1e9;
    std::printf(
        "SINAD below 60 %% of Nyquist; ours: 30 taps, Blackman; sox: default quality (-h)\n");
    std::printf("%6s %6s %9s %8s %8s\n", "from", "to", "tone Hz", "ours dB", "sox dB");
    for (auto from : rates) {
        for (auto to : rates) {
            if (from == to) {
                continue;
            }
            for (double share : {0.1, 0.3, 0.6}) {
                const double freq = share * std::min(from, to) / 2.0;
                const std::string in = dir.File("tone.wav");
                WriteTone(in, from, freq);
                oursCpu += OurConversion(in, dir.File("ours.wav"), to);
                soxCpu += SoxConversion(in, dir.File("sox.wav"), to);
                const auto skip = static_cast<std::size_t>(to / 10);
                const double ours = SinadDb(DataOf(dir.File("ours.wav")), freq, to, skip);
                const double sox = SinadDb(DataOf(dir.File("sox.wav")), freq, to, skip);
                oursWorst = std::min(oursWorst, ours);
                soxWorst = std::min(soxWorst, sox);
                std::printf("%6d %6d %9.1f %8.1f %8.1f\n", from, to, freq, ours, sox);
            }
        }
    }
    std::printf("worst: ours %.1f dB, sox %.1f dB; CPU over the table: ours %.3f s, sox %.3f s "
                "(sox includes its start-up)\n",
                oursWorst, soxWorst, oursCpu, soxCpu);
}

void Passband(const test::TempDir& dir) {
    std::printf("pass band 16-20 kHz, level after conversion (dB); ours: 30 taps, Blackman; "
                "sox: default quality (-h)\n");
    std::printf("%6s %6s %9s %8s %8s\n", "from", "to", "tone Hz", "ours dB", "sox dB");
    double oursWorst = 0, soxWorst = 0;
    for (const auto& [from, to] : {std::pair{44100, 48000}, std::pair{48000, 44100}}) {
        for (int khz = 16; khz <= 20; ++khz) {
            const double freq = khz * 1000.0;
            const std::string in = dir.File("tone.wav");
            WriteTone(in, from, freq);
            OurConversion(in, dir.File("ours.wav"), to);
            SoxConversion(in, dir.File("sox.wav"), to);
            const auto skip = static_cast<std::size_t>(to / 10);
            const double ours = LevelDb(DataOf(dir.File("ours.wav")), freq, to, skip);
            const double sox = LevelDb(DataOf(dir.File("sox.wav")), freq, to, skip);
            oursWorst = std::min(oursWorst, ours);
            soxWorst = std::min(soxWorst, sox);
            std::printf("%6d %6d %9.1f %8.2f %8.2f\n", from, to, freq, ours, sox);
        }
    }
    std::printf("lowest level at 16-20 kHz: ours %.2f dB, sox %.2f dB\n", oursWorst, soxWorst);
}

void Speed(const test::TempDir& dir) {
    const std::string in = dir.File("minute48k.wav");
    test::WriteBytes(
        in, test::PcmWav(test::S16ToBytes(test::TestSignal(48000 * 60, 2, 48000)), 2, 48000, 16));
    double ours = 1e9, sox = 1e9;
    for (int run = 0; run < 5; ++run) {
        ours = std::min(ours, OurConversion(in, dir.File("ours.wav"), 44100));
        sox = std::min(sox, SoxConversion(in, dir.File("sox.wav"), 44100));
    }
    std::printf("48000 -> 44100 Hz stereo, 60 s, WAV to WAV, CPU best of 5: ours %.3f s, "
                "sox %.3f s, ours/sox %.2f\n",
                ours, sox, ours / sox);
}

} // namespace

int main(int argc, char** argv) {
    const std::string part = argc > 1 ? argv[1] : "";
    test::TempDir dir;
    if (part.empty() || part == "tones") {
        Tones(dir);
    }
    if (part.empty() || part == "passband") {
        Passband(dir);
    }
    if (part.empty() || part == "speed") {
        Speed(dir);
    }
    return 0;
}
