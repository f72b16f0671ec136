#include "audio/ACS_Converters.h"
#include "audio/ACS_Indicator.h"

#include "audio/TestSources.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

using namespace audio;
using namespace audio::test;

namespace {

// Pulls everything from an input in pieces of the given size.
Bytes Pull(TACSInput& in, std::int32_t piece = 5000) {
    in.Init();
    Bytes out;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(piece));
    for (;;) {
        const std::int32_t n = in.GetData(buffer.data(), piece);
        if (n <= 0) {
            break;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    in.Flush();
    return out;
}

std::vector<double> Channel(const std::vector<std::int16_t>& s, int channels, int channel) {
    std::vector<double> out;
    for (auto i = static_cast<std::size_t>(channel); i < s.size();
         i += static_cast<std::size_t>(channels)) {
        out.push_back(s[i]);
    }
    return out;
}

// Frequency from the first and last upward zero crossing, interpolated between samples.
double MeasureFrequency(const std::vector<double>& x, double rate) {
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double t = static_cast<double>(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0) {
                first = t;
            }
            last = t;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * rate / (last - first);
}

struct SineFit {
    double amplitude = 0;
    double worstResidual = 0;
};

// Least-squares fit of a sine of known frequency (and an offset) over x.
SineFit FitSine(const std::vector<double>& x, double freq, double rate) {
    double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double w = 2 * std::numbers::pi * freq * static_cast<double>(n) / rate;
        const double s = std::sin(w), c = std::cos(w);
        ss += s * s;
        sc += s * c;
        cc += c * c;
        xs += x[n] * s;
        xc += x[n] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det;
    const double b = (xc * ss - xs * sc) / det;
    SineFit fit;
    fit.amplitude = std::hypot(a, b);
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double w = 2 * std::numbers::pi * freq * static_cast<double>(n) / rate;
        fit.worstResidual =
            std::max(fit.worstResidual, std::abs(x[n] - a * std::sin(w) - b * std::cos(w)));
    }
    return fit;
}

std::vector<double> Middle(const std::vector<double>& x, std::size_t skip) {
    const auto s = static_cast<std::ptrdiff_t>(skip);
    return {x.begin() + s, x.end() - s};
}

} // namespace

// ---- kernel ---------------------------------------------------------------------------------

TEST(LowPassKernel, passesLowFrequenciesAtUnityAndStopsAboveTheCutoff) {
    for (auto window : {fwHamming, fwHann, fwBlackman}) {
        const auto k = MakeLowPassKernel(30, 0.2, window);
        ASSERT_EQ(k.size(), 30u);
        auto gain = [&](double f) {
            std::complex<double> h = 0;
            for (std::size_t i = 0; i < k.size(); ++i) {
                h += k[i] * std::polar(1.0, -2 * std::numbers::pi * f * static_cast<double>(i));
            }
            return std::abs(h);
        };
        EXPECT_NEAR(gain(0.0), 1.0, 1e-12);
        EXPECT_NEAR(gain(0.02), 1.0, 0.01);
        EXPECT_LT(gain(0.4), 0.02) << "window " << window;
        for (std::size_t d = 1; d < 15; ++d) {
            EXPECT_NEAR(k[15 + d], k[15 - d], 1e-12);
        }
        EXPECT_EQ(std::max_element(k.begin(), k.end()) - k.begin(), 15);
    }
    EXPECT_NEAR(MakeWindow(fwBlackman, 30)[0], 0.0, 1e-9);
    EXPECT_NEAR(MakeWindow(fwHamming, 30)[0], 0.08, 1e-9);
    EXPECT_NEAR(MakeWindow(fwHann, 30)[15], 1.0, 1e-9);
}

// ---- rate converter -------------------------------------------------------------------------

TEST(RateConverter, upsampling22050To44100KeepsFrequencyAmplitudeAndExactLength) {
    TMemorySource source(SinePcm(22050, {1000.0}, 5.0, 10000), 22050, 1, 16);
    TRateConverter rate;
    rate.SetOutSampleRate(44100);
    rate.SetInput(&source);
    EXPECT_EQ(rate.SampleRate(), 44100);
    EXPECT_EQ(rate.Channels(), 1);

    const Bytes out = Pull(rate);
    EXPECT_EQ(out.size(), 2 * source.data().size());
    EXPECT_EQ(rate.Size(), static_cast<std::int32_t>(2 * source.data().size()));

    // The middle of the signal spans several refills, so block joins are checked too.
    const auto x = Middle(Channel(S16Samples(out), 1, 0), 2000);
    EXPECT_NEAR(MeasureFrequency(x, 44100), 1000.0, 0.2);
    const SineFit fit = FitSine(x, 1000.0, 44100);
    EXPECT_NEAR(fit.amplitude, 10000, 150);
    EXPECT_LT(fit.worstResidual, 100);
}

TEST(RateConverter, downsampling48000To44100StereoKeepsEachChannelsFrequency) {
    TMemorySource source(SinePcm(48000, {1000.0, 3000.0}, 3.0, 12000), 48000, 2, 16);
    TRateConverter rate;
    rate.SetOutSampleRate(44100);
    rate.SetInput(&source);
    const Bytes out = Pull(rate, 4096);

    const auto expected =
        std::nearbyint(static_cast<double>(source.data().size()) * double(44100.0f / 48000.0f));
    EXPECT_EQ(rate.Size(), static_cast<std::int32_t>(expected));
    EXPECT_EQ(out.size() % 4, 0u);
    EXPECT_NEAR(static_cast<double>(out.size()), expected, 4.0);

    const auto s = S16Samples(out);
    const auto left = Middle(Channel(s, 2, 0), 2000);
    const auto right = Middle(Channel(s, 2, 1), 2000);
    EXPECT_NEAR(MeasureFrequency(left, 44100), 1000.0, 0.3);
    EXPECT_NEAR(MeasureFrequency(right, 44100), 3000.0, 1.0);
    EXPECT_NEAR(FitSine(left, 1000.0, 44100).amplitude, 12000, 240);
    EXPECT_NEAR(FitSine(right, 3000.0, 44100).amplitude, 12000, 240);
}

TEST(RateConverter, downsamplingPutsEachOutputAtItsOwnInstantSoTonesStayClean) {
    // Taking the input sample after each output instant instead leaves the worst error only
    // about 24 dB below a 1 kHz tone and 10 dB below a 5 kHz one.
    for (const auto& [freq, minimumDb] : {std::pair{1000.0, 50.0}, std::pair{5000.0, 25.0}}) {
        TMemorySource source(SinePcm(48000, {freq}, 2.0, 12000), 48000, 1, 16);
        TRateConverter rate;
        rate.SetOutSampleRate(44100);
        rate.SetInput(&source);
        const auto x = Middle(Channel(S16Samples(Pull(rate, 4096)), 1, 0), 2000);
        const SineFit fit = FitSine(x, freq, 44100);
        const double db = 20 * std::log10(fit.amplitude / fit.worstResidual);
        EXPECT_GT(db, minimumDb) << freq << " Hz";
    }
}

TEST(RateConverter, halvingTheRateFiltersAtEveryOtherInputSample) {
    const auto kernel = MakeLowPassKernel(30, 0.4 * 0.5, fwBlackman);
    for (int at : {200, 201}) {
        std::vector<std::int16_t> x(1000, 0);
        x[static_cast<std::size_t>(at)] = 20000;
        TMemorySource source(Pcm16(x), 44100, 1, 16);
        TRateConverter rate;
        rate.SetOutSampleRate(22050);
        rate.SetInput(&source);
        const auto y = S16Samples(Pull(rate));
        ASSERT_EQ(y.size(), 500u);
        // Output k is the filter at input sample 2k: tap 29 - (2k - at) meets the impulse.
        for (int k = 0; k < 500; ++k) {
            const int lag = 2 * k - at;
            const double want =
                (lag >= 0 && lag < 30) ? 20000 * kernel[static_cast<std::size_t>(29 - lag)] : 0.0;
            EXPECT_NEAR(y[static_cast<std::size_t>(k)], want, 0.5)
                << "impulse at " << at << ", output " << k;
        }
    }
}

TEST(RateConverter, equalRatesDelayByOneSampleAndFilter) {
    const auto kernel = MakeLowPassKernel(30, 0.4, fwBlackman);
    std::vector<std::int16_t> x(400, 0);
    x[100] = 16000;
    TMemorySource source(Pcm16(x), 32000, 1, 16);
    TRateConverter rate;
    rate.SetOutSampleRate(32000);
    rate.SetInput(&source);
    const auto y = S16Samples(Pull(rate));
    ASSERT_EQ(y.size(), 400u);
    for (int m = 0; m < 400; ++m) {
        const int tap = m - 101;
        const double want =
            (tap >= 0 && tap < 30) ? 16000 * kernel[static_cast<std::size_t>(tap)] : 0.0;
        EXPECT_NEAR(y[static_cast<std::size_t>(m)], want, 0.5) << "output " << m;
    }
}

TEST(RateConverter, theOutputDoesNotDependOnHowTheDataIsChunked) {
    for (std::int32_t outRate : {44100, 16000}) {
        const Bytes pcm = SinePcm(22050, {440.0, 5000.0}, 2.0, 9000);
        TMemorySource whole(pcm, 22050, 2, 16);
        TMemorySource chunked(pcm, 22050, 2, 16);
        chunked.chunk = 1001;
        TRateConverter a;
        TRateConverter b;
        a.SetOutSampleRate(outRate);
        b.SetOutSampleRate(outRate);
        a.SetInput(&whole);
        b.SetInput(&chunked);
        EXPECT_EQ(Pull(a, 1 << 16), Pull(b, 777)) << "rate " << outRate;
    }
}

TEST(RateConverter, fullScaleOvershootSaturatesInsteadOfWrapping) {
    // A full-scale square wave rings past the limits after filtering.
    std::vector<std::int16_t> x(20000);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = (i / 50) % 2 ? -32768 : 32767;
    }
    TMemorySource source(Pcm16(x), 22050, 1, 16);
    TRateConverter rate;
    rate.SetOutSampleRate(44100);
    rate.SetInput(&source);
    const auto y = S16Samples(Pull(rate));
    // Just after each rising edge the output must be near the top, never wrapped negative.
    for (std::size_t edge = 2 * 100 + 40; edge + 60 < y.size(); edge += 200) {
        for (std::size_t i = edge; i < edge + 50; ++i) {
            ASSERT_GT(y[i], 20000) << "output " << i;
        }
    }
}

TEST(RateConverter, tonesComeOutCleanBetweenEveryPairOfCommonRates) {
    // Tones at 10, 30 and 60 % of the lower rate's Nyquist frequency, for every pair of the
    // rates the program offers and two rates that share no useful divisor (whose outputs
    // fall on so many distinct fractions that the table is interpolated).
    const std::vector<std::int32_t> rates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs = {{44100, 47999}, {47999, 44100}};
    for (auto from : rates) {
        for (auto to : rates) {
            if (from != to) {
                pairs.emplace_back(from, to);
            }
        }
    }
    for (const auto& [from, to] : pairs) {
        const double nyquist = std::min(from, to) / 2.0;
        for (double share : {0.1, 0.3, 0.6}) {
            const double freq = share * nyquist;
            TMemorySource source(SinePcm(from, {freq}, 0.25, 20000), from, 1, 16);
            TRateConverter rate;
            rate.SetOutSampleRate(to);
            rate.SetInput(&source);
            const auto y = Channel(S16Samples(Pull(rate)), 1, 0);
            // Leave out the filter's run-in and run-out at both ends.
            const auto skip = static_cast<std::size_t>(40.0 * std::max(1.0, double(to) / from));
            ASSERT_GT(y.size(), 4 * skip);
            EXPECT_GE(SinadDb(Middle(y, skip), freq, to), 75.0)
                << from << " -> " << to << " Hz, tone " << freq << " Hz";
        }
    }
}

TEST(RateConverter, everyRunStartsFromSilenceWhateverTheLastRunEndedWith) {
    // A loud run followed by a silent one: nothing of the first may leak into the second.
    for (std::int32_t to : {44100, 16000}) {
        TRateConverter rate;
        rate.SetOutSampleRate(to);
        TMemorySource loud(Pcm16(std::vector<std::int16_t>(5000, 30000)), 22050, 2, 16);
        rate.SetInput(&loud);
        const Bytes first = Pull(rate);
        TMemorySource silent(Pcm16(std::vector<std::int16_t>(5000, 0)), 22050, 2, 16);
        rate.SetInput(&silent);
        const auto second = S16Samples(Pull(rate));
        EXPECT_EQ(std::count(second.begin(), second.end(), 0), std::ssize(second)) << to;
        rate.SetInput(&loud);
        EXPECT_EQ(Pull(rate), first) << "a repeated run gives the same bytes";
    }
}

TEST(RateConverter, settersRefuseBadValuesAndChangesWhileBusy) {
    TRateConverter rate;
    EXPECT_EQ(rate.OutSampleRate(), 22050);
    EXPECT_EQ(rate.KernelWidth(), 30);
    EXPECT_EQ(rate.FilterWindow(), fwBlackman);
    rate.SetKernelWidth(1);
    rate.SetOutSampleRate(0);
    EXPECT_EQ(rate.KernelWidth(), 30);
    EXPECT_EQ(rate.OutSampleRate(), 22050);

    TMemorySource source(Pcm16(std::vector<std::int16_t>(100)), 44100, 1, 16);
    rate.SetInput(&source);
    rate.Init();
    rate.SetKernelWidth(8);
    rate.SetOutSampleRate(8000);
    EXPECT_EQ(rate.KernelWidth(), 30);
    EXPECT_EQ(rate.OutSampleRate(), 22050);
    rate.Flush();
    rate.SetKernelWidth(8);
    EXPECT_EQ(rate.KernelWidth(), 8);
}

TEST(ConverterContract, formatQueriesAndInitNeedAnInputAndGetDataNeedsInit) {
    TRateConverter rate;
    TMSConverter ms;
    TSampleConverter sample;
    TStereoBalance balance;
    TSoundIndicator indicator;
    EXPECT_EQ(rate.BitsPerSample(), 16);
    EXPECT_EQ(ms.BitsPerSample(), 16);
    for (TACSInput* in :
         std::initializer_list<TACSInput*>{&rate, &ms, &sample, &balance, &indicator}) {
        EXPECT_EQ(MessageOf([&] { in->Channels(); }), "Input not assigned");
        EXPECT_EQ(MessageOf([&] { in->Init(); }), "Input not assigned");
        std::uint8_t b[4];
        EXPECT_EQ(MessageOf([&] { in->GetData(b, 4); }), "The Stream is not opened");
    }
    EXPECT_EQ(MessageOf([&] { sample.BitsPerSample(); }), "Input not assigned");
    EXPECT_EQ(MessageOf([&] { ms.SampleRate(); }), "Input not assigned");
}

TEST(ConverterContract, anOpenInputSizeStaysOpen) {
    TMemorySource source(Pcm16(std::vector<std::int16_t>(4000, 7)), 44100, 2, 16);
    source.openSize = true;
    TRateConverter rate;
    TMSConverter ms;
    TSampleConverter sample;
    TStereoBalance balance;
    rate.SetInput(&source);
    ms.SetInput(&source);
    sample.SetInput(&source);
    balance.SetInput(&source);
    for (TACSInput* in : std::initializer_list<TACSInput*>{&rate, &ms, &sample, &balance}) {
        in->Init();
        EXPECT_EQ(in->Size(), -1);
        std::uint8_t b[1000];
        const std::int32_t n = in->GetData(b, 1000);
        EXPECT_EQ(in->Position(), n);
        in->Flush();
    }
}

// ---- channels -------------------------------------------------------------------------------

TEST(MSConverter, stereoBecomesTheTruncatedMeanOfBothChannels) {
    TMemorySource source(Pcm16({3, -6, -3, 0, 32767, 32767, -32768, -32767, 5, 6}), 8000, 2, 16);
    TMSConverter ms;
    ms.SetInput(&source);
    EXPECT_EQ(ms.Channels(), 1);
    EXPECT_EQ(ms.SampleRate(), 8000);
    ms.Init();
    EXPECT_EQ(ms.Size(), 10);
    ms.Flush();
    EXPECT_EQ(S16Samples(Pull(ms)), (std::vector<std::int16_t>{-1, -1, 32767, -32767, 5}));
}

TEST(MSConverter, monoBecomesStereoByMode) {
    const std::vector<std::int16_t> mono{100, -200, 32767};
    TMemorySource source(Pcm16(mono), 8000, 1, 16);
    TMSConverter ms;
    ms.SetInput(&source);
    EXPECT_EQ(ms.Channels(), 2);
    EXPECT_EQ(S16Samples(Pull(ms)),
              (std::vector<std::int16_t>{100, 100, -200, -200, 32767, 32767}));
    EXPECT_EQ(ms.Size(), 12);
    ms.SetMode(msmMonoToLeft);
    EXPECT_EQ(S16Samples(Pull(ms)), (std::vector<std::int16_t>{0, 100, 0, -200, 0, 32767}));
    ms.SetMode(msmMonoToRight);
    EXPECT_EQ(S16Samples(Pull(ms)), (std::vector<std::int16_t>{100, 0, -200, 0, 32767, 0}));
}

// ---- sample size ----------------------------------------------------------------------------

TEST(SampleConverter, sixteenToEightKeepsTheHighByteOfTheBiasedSample) {
    TMemorySource source(Pcm16({-32768, -1, 0, 255, 256, 32767, -256, -257}), 8000, 1, 16);
    TSampleConverter sample;
    sample.SetInput(&source);
    EXPECT_EQ(sample.BitsPerSample(), 8);
    EXPECT_EQ(Pull(sample), (Bytes{0, 127, 128, 128, 129, 255, 127, 126}));
    EXPECT_EQ(sample.Size(), 8);
}

TEST(SampleConverter, eightToSixteenScalesAroundTheMidpointAndRoundTrips) {
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    TMemorySource source(all, 8000, 2, 8);
    TSampleConverter wide;
    wide.SetInput(&source);
    EXPECT_EQ(wide.BitsPerSample(), 16);
    const auto s = S16Samples(Pull(wide));
    ASSERT_EQ(s.size(), 256u);
    EXPECT_EQ(wide.Size(), 512);
    EXPECT_EQ(s[0], -32768);
    EXPECT_EQ(s[128], 0);
    EXPECT_EQ(s[255], 32512);

    TSampleConverter narrow;
    narrow.SetInput(&wide);
    EXPECT_EQ(Pull(narrow), all);
}

// ---- balance --------------------------------------------------------------------------------

TEST(StereoBalance, theCentreLeavesBothChannelsAndTheEndsSilenceOne) {
    const std::vector<std::int16_t> frames{1000, -1000, 20000, 301};
    TMemorySource source(Pcm16(frames), 44100, 2, 16);
    TStereoBalance balance;
    balance.SetInput(&source);
    EXPECT_FLOAT_EQ(balance.Balance(), 0.5f);
    EXPECT_EQ(S16Samples(Pull(balance)), frames);

    balance.SetBalance(1.0f);
    EXPECT_EQ(S16Samples(Pull(balance)), (std::vector<std::int16_t>{0, -1000, 0, 301}));
    balance.SetBalance(0.0f);
    EXPECT_EQ(S16Samples(Pull(balance)), (std::vector<std::int16_t>{1000, 0, 20000, 0}));
    balance.SetBalance(0.75f);
    EXPECT_EQ(S16Samples(Pull(balance)), (std::vector<std::int16_t>{500, -1000, 10000, 301}));
    balance.SetBalance(0.25f);
    EXPECT_EQ(S16Samples(Pull(balance)), (std::vector<std::int16_t>{1000, -500, 20000, 150}));

    balance.SetBalance(1.5f);
    EXPECT_FLOAT_EQ(balance.Balance(), 0.25f);
    balance.SetBalance(-0.1f);
    EXPECT_FLOAT_EQ(balance.Balance(), 0.25f);
}

TEST(StereoBalance, aMonoInputIsSpreadToBothChannelsAndBytesFadeToTheMidpoint) {
    TMemorySource source(Pcm16({7, -8, 9}), 22050, 1, 16);
    TStereoBalance balance;
    balance.SetInput(&source);
    EXPECT_EQ(balance.Channels(), 2);
    balance.Init();
    EXPECT_EQ(balance.Size(), 12);
    std::uint8_t buffer[64];
    EXPECT_EQ(balance.GetData(buffer, 7), 4); // whole frames only
    EXPECT_EQ(balance.Position(), 4);
    balance.Flush();
    balance.SetBalance(1.0f);
    EXPECT_EQ(S16Samples(Pull(balance)), (std::vector<std::int16_t>{0, 7, 0, -8, 0, 9}));

    // 8-bit samples are unsigned around 128: a faded channel goes to 128, not to 0.
    TMemorySource bytes(Bytes{255, 0, 128, 200}, 8000, 2, 8);
    balance.SetInput(&bytes);
    EXPECT_EQ(Pull(balance), (Bytes{128, 0, 128, 200}));
    balance.SetBalance(0.25f);
    EXPECT_EQ(Pull(balance), (Bytes{255, 64, 128, 164}));
}

// ---- a whole chain --------------------------------------------------------------------------

TEST(ConverterChain, aSinkPullsThroughSeveralFiltersToTheEnd) {
    Bytes eightBitMono(30000);
    for (std::size_t i = 0; i < eightBitMono.size(); ++i) {
        eightBitMono[i] =
            static_cast<std::uint8_t>(128 + 100 * std::sin(static_cast<double>(i) * 0.05));
    }
    TMemorySource source(eightBitMono, 22050, 1, 8);
    TSampleConverter wide;
    TMSConverter stereo;
    TRateConverter rate;
    wide.SetInput(&source);
    stereo.SetInput(&wide);
    rate.SetInput(&stereo);
    rate.SetOutSampleRate(44100);
    TMemorySink sink;
    TEventLog log;
    log.Attach(sink);
    sink.SetInput(&rate);
    sink.Run();
    ASSERT_TRUE(log.WaitForEnds(1));
    EXPECT_EQ(log.Done(), 1);
    EXPECT_EQ(sink.CollectedSize(), 30000u * 2 * 2 * 2);
    EXPECT_EQ(log.Progress().back(), 100);
    EXPECT_FALSE(source.Busy());
    EXPECT_FALSE(rate.Busy());
}
