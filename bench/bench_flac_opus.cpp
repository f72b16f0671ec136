// The in-process FLAC and Opus encoders beside the command-line tools on the same noise-rich
// input: CPU time (ours in this process, theirs as children), FLAC file sizes, and the Opus
// files' signal-to-error ratio measured with one decoder (libopusfile) for both.
// Needs sox, flac and opusenc on PATH. Usage: bench_flac_opus [seconds of audio, default 180]
#include <opusfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/FlacWriter.h"
#include "audio/OpusWriter.h"
#include "audio/PcmWavReader.h"

namespace fs = std::filesystem;

namespace {

double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double TimeCommand(const std::string& command) {
    const double before = CpuSeconds(RUSAGE_CHILDREN);
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    }
    return CpuSeconds(RUSAGE_CHILDREN) - before;
}

template <typename Writer, typename... Args>
double TimeOurs(const std::string& in, const std::string& out, Args... args) {
    const double before = CpuSeconds(RUSAGE_SELF);
    audio::TPcmWavReader reader(in);
    Writer writer(out, reader.Format(), args...);
    std::vector<std::uint8_t> pcm;
    for (reader.Read(pcm, 8192); !pcm.empty(); reader.Read(pcm, 8192)) {
        writer.Write(pcm);
    }
    writer.Finish();
    return CpuSeconds(RUSAGE_SELF) - before;
}

// The best of three runs, so that a busy moment of the machine counts less.
template <typename F> double Best(F run) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        best = std::min(best, run());
    }
    return best;
}

std::vector<float> DecodeOpus(const std::string& path) {
    int error = 0;
    std::unique_ptr<OggOpusFile, decltype(&op_free)> file(op_open_file(path.c_str(), &error),
                                                          &op_free);
    std::vector<float> samples;
    if (!file) {
        return samples;
    }
    std::vector<float> buffer(5760 * 2);
    for (int got = 0; (got = op_read_float_stereo(file.get(), buffer.data(),
                                                  static_cast<int>(buffer.size()))) > 0;) {
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + got * 2);
    }
    return samples;
}

double SnrDb(const std::string& wav48, const std::string& opus) {
    audio::TPcmWavReader reader(wav48);
    std::vector<std::uint8_t> pcm;
    std::vector<std::int32_t> input;
    std::vector<std::int32_t> chunk;
    for (reader.Read(pcm, 8192); !pcm.empty(); reader.Read(pcm, 8192)) {
        audio::PcmToInt32(pcm, reader.Format(), chunk);
        input.insert(input.end(), chunk.begin(), chunk.end());
    }
    const std::vector<float> output = DecodeOpus(opus);
    double signal = 0;
    double noise = 0;
    const std::size_t n = std::min(input.size(), output.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double x = input[i] / 32768.0;
        signal += x * x;
        noise += (x - output[i]) * (x - output[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-30));
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 180;
    const fs::path dir =
        fs::temp_directory_path() / ("bench_flac_opus." + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string wav = (dir / "in.wav").string();
    const std::string wav48 = (dir / "in48.wav").string();
    const std::string synth = " synth " + std::to_string(seconds) +
                              " pinknoise sine 220 vol 0.5";
    if (std::system(("sox -n -r 44100 -c 2 -b 16 " + wav + synth).c_str()) != 0 ||
        std::system(("sox -n -r 48000 -c 2 -b 16 " + wav48 + synth).c_str()) != 0) {
        std::fprintf(stderr, "sox failed\n");
        return 1;
    }
    const std::string flacOurs = (dir / "ours.flac").string();
    const std::string flacTheirs = (dir / "theirs.flac").string();
    const double oursVerify = Best(
        [&] { return TimeOurs<audio::TFlacWriter>(wav, flacOurs, 5, true, std::uint64_t{0}); });
    const double ours = Best(
        [&] { return TimeOurs<audio::TFlacWriter>(wav, flacOurs, 5, false, std::uint64_t{0}); });
    const double theirs =
        Best([&] { return TimeCommand("flac -s -5 -f -o " + flacTheirs + " " + wav); });
    const double theirsVerify =
        Best([&] { return TimeCommand("flac -s -5 -V -f -o " + flacTheirs + " " + wav); });
    const auto sizeOurs = fs::file_size(flacOurs);
    const auto sizeTheirs = fs::file_size(flacTheirs);
    std::printf("FLAC -5, %d s stereo:  ours %.3f s CPU (verify %.3f), flac %.3f s (-V %.3f); "
                "ratio %.3f (verify %.3f)\n",
                seconds, ours, oursVerify, theirs, theirsVerify, ours / theirs,
                oursVerify / theirsVerify);
    std::printf("FLAC sizes: ours %ju, flac %ju bytes; ratio %.4f\n", sizeOurs, sizeTheirs,
                static_cast<double>(sizeOurs) / static_cast<double>(sizeTheirs));

    const std::string opusOurs = (dir / "ours.opus").string();
    const std::string opusTheirs = (dir / "theirs.opus").string();
    const double opus = Best([&] { return TimeOurs<audio::TOpusWriter>(wav, opusOurs, 160); });
    const double opusenc = Best(
        [&] { return TimeCommand("opusenc --quiet --bitrate 160 " + wav + " " + opusTheirs); });
    std::printf("Opus 160 kbit/s, 44.1 kHz input: ours %.3f s CPU, opusenc %.3f s; ratio %.3f\n",
                opus, opusenc, opus / opusenc);
    TimeOurs<audio::TOpusWriter>(wav48, opusOurs, 160);
    TimeCommand("opusenc --quiet --bitrate 160 " + wav48 + " " + opusTheirs);
    std::printf("Opus 160 kbit/s, 48 kHz input: SNR ours %.2f dB, opusenc %.2f dB; sizes %ju, "
                "%ju bytes\n",
                SnrDb(wav48, opusOurs), SnrDb(wav48, opusTheirs), fs::file_size(opusOurs),
                fs::file_size(opusTheirs));
    fs::remove_all(dir);
    return 0;
}
