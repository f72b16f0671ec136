// The Opus writer, measured with an independent decoder (libopusfile) and opusinfo: the
// length of what comes back, how close it sounds to its input, and the rates it takes.
#include "audio/OpusWriter.h"

#include <gtest/gtest.h>
#include <opusfile.h>

#include <cmath>
#include <memory>
#include <stdexcept>

#include "PcmSignals.h"
#include "WavFixtures.h"

namespace audio::test {
namespace {

struct Decoded {
    int channels = 0;
    std::int64_t frames = 0;    // at 48 kHz, as the stream header counts them
    std::vector<float> samples; // interleaved, 48 kHz
};

Decoded DecodeOpus(const std::string& path) {
    int error = 0;
    std::unique_ptr<OggOpusFile, decltype(&op_free)> file(op_open_file(path.c_str(), &error),
                                                          &op_free);
    Decoded d;
    if (!file) {
        ADD_FAILURE() << "opusfile cannot open " << path << ": " << error;
        return d;
    }
    d.channels = op_channel_count(file.get(), -1);
    d.frames = op_pcm_total(file.get(), -1);
    std::vector<float> buffer(5760 * 8);
    for (;;) {
        const int got =
            op_read_float(file.get(), buffer.data(), static_cast<int>(buffer.size()), nullptr);
        if (got <= 0) {
            EXPECT_EQ(got, 0) << "a decode error";
            break;
        }
        d.samples.insert(d.samples.end(), buffer.begin(), buffer.begin() + got * d.channels);
    }
    return d;
}

void Encode(const std::string& path, const std::vector<std::uint8_t>& pcm, const TPcmFormat& format,
            int kbps) {
    TOpusWriter writer(path, format, kbps);
    const std::size_t chunk = 3000 * static_cast<std::size_t>(format.FrameBytes());
    for (std::size_t at = 0; at < pcm.size(); at += chunk) {
        writer.Write(std::span(pcm).subspan(at, std::min(chunk, pcm.size() - at)));
    }
    writer.Finish();
}

// Signal to error ratio of the decoded sound against its input, in dB.
double SnrDb(const std::vector<std::int32_t>& input, int bits, const std::vector<float>& output) {
    const double full = std::ldexp(1.0, bits - 1);
    double signal = 0;
    double error = 0;
    const std::size_t n = std::min(input.size(), output.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double x = input[i] / full;
        signal += x * x;
        error += (x - output[i]) * (x - output[i]);
    }
    return 10 * std::log10(signal / std::max(error, 1e-30));
}

TEST(OpusWriter, EveryRateOpusTakesKeepsItsLengthWithinOneFrame) {
    TempDir dir;
    const TPcmFormat formats[] = {{2, 44100, 16}, {1, 8000, 16},  {2, 22050, 8},
                                  {2, 96000, 24}, {1, 48000, 32}, {6, 48000, 16}};
    for (const TPcmFormat& f : formats) {
        SCOPED_TRACE(testing::Message() << f.Channels << "ch " << f.SampleRate << " Hz "
                                        << f.BitsPerSample << " bits");
        const std::size_t frames = static_cast<std::size_t>(f.SampleRate) * 3 / 2;
        const std::string opus = dir.File("out.opus");
        Encode(opus, ChordPcm(frames, f), f, 160);
        const Decoded d = DecodeOpus(opus);
        EXPECT_EQ(d.channels, f.Channels);
        const double expected = static_cast<double>(frames) * 48000 / f.SampleRate;
        EXPECT_NEAR(static_cast<double>(d.frames), expected, 960); // one 20 ms frame
        EXPECT_EQ(static_cast<std::int64_t>(d.samples.size()), d.frames * d.channels);
        const std::string info = Capture("opusinfo " + Quote(opus));
        EXPECT_NE(info.find("Original sample rate: " + std::to_string(f.SampleRate) + " Hz"),
                  std::string::npos)
            << info;
    }
}

// At 48 kHz nothing is resampled, so the decoded sound lines up with the input sample for
// sample; the ratio is measured, and grows with the bit rate.
TEST(OpusWriter, TheDecodedSoundIsCloseToItsInputAndCloserAtHigherRates) {
    TempDir dir;
    const TPcmFormat f{2, 48000, 16};
    const std::vector<std::int32_t> input = ChordSamples(48000 * 2, f, 0.01);
    std::vector<std::uint8_t> pcm;
    Int32ToPcm(input, f, pcm);
    struct Case {
        int kbps;
        double floorDb;
    };
    double previous = 0;
    for (const Case& c : {Case{32, 8}, Case{96, 15}, Case{160, 20}, Case{256, 22}}) {
        const std::string opus = dir.File("out.opus");
        Encode(opus, pcm, f, c.kbps);
        const double snr = SnrDb(input, 16, DecodeOpus(opus).samples);
        EXPECT_GT(snr, c.floorDb) << c.kbps << " kbit/s";
        EXPECT_GT(snr, previous) << c.kbps << " kbit/s";
        previous = snr;
        std::printf("[ measured ] Opus %d kbit/s: SNR %.1f dB, %ju bytes\n", c.kbps, snr,
                    fs::file_size(opus));
    }
}

TEST(OpusWriter, WhatOpusCannotTakeOrWriteIsRefusedWithAReason) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string path;
        TPcmFormat format;
        const char* error;
    };
    const Case cases[] = {
        {"rate too low", dir.File("a.opus"), {2, 50, 16}, "50 Hz"},
        {"rate too high", dir.File("h.opus"), {2, 384000, 16}, "384000 Hz"},
        {"too many channels", dir.File("b.opus"), {300, 48000, 16}, "300 channels"},
        {"no folder", dir.File("no/such/c.opus"), {2, 48000, 16}, "No such file"},
        {"full disk", "/dev/full", {2, 48000, 16}, "No space left"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            Encode(c.path,
                   ChordPcm(48000, c.format.Channels > 8 ? TPcmFormat{2, 48000, 16} : c.format),
                   c.format, 160);
            ADD_FAILURE() << "encoded";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
    }
}

} // namespace
} // namespace audio::test
