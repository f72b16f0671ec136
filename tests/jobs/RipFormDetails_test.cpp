// The job window's details a user sees or a file keeps: the group caption of each step, the
// messages of a rip that cannot start, the Vorbis settings as the written stream declares
// them, and the WMA gauge while only the output's size tells the progress.
#include <vorbis/vorbisenc.h>

#include <QGroupBox>
#include <QProgressBar>

#include <algorithm>
#include <functional>

#include "jobs/RipFormTestSupport.h"

namespace jobs_test {
namespace {

// What a watched run saw besides the observers' own records.
struct Watched {
    bool ended = false;
    bool openAtStop = false; // the window was still running the job when Stop was pressed
    QStringList boxes;
};

class JobWindowDetails : public JobWindowTest {
protected:
    // Runs a job in the real window; watch(form) is called before it is shown, and Stop is
    // pressed after stopAfterMs when that is not negative.
    Watched RunWatched(int kind, const QStringList& items,
                       const std::function<void(jobs::TRipForm&)>& watch, int stopAfterMs = -1) {
        Watched result;
        const qsizetype before = dialogs->boxes.size();
        {
            jobs::TRipForm form(nullptr, items, kind == jobs::jkExtract ? handle : 0, kind);
            watch(form);
            if (stopAfterMs >= 0) {
                QTimer::singleShot(stopAfterMs, &form, [&] {
                    result.openAtStop = form.isVisible() && !form.JobFinished();
                    form.findChild<QPushButton*>(QStringLiteral("btStop"))->click();
                });
            }
            form.show();
            result.ended =
                PumpUntil([&] { return form.JobFinished() && !form.isVisible(); }, 60000ms);
        }
        for (qsizetype i = before; i < dialogs->boxes.size(); ++i) {
            result.boxes << dialogs->boxes[i].text;
        }
        return result;
    }
};

// ---- group captions --------------------------------------------------------------------

struct Step {
    QString phase; // the window caption up to its colon
    QString group;
    bool operator==(const Step&) const = default;
};

void PrintTo(const Step& s, std::ostream* os) {
    *os << s.phase.toStdString() << " / " << s.group.toStdString();
}

struct CaptionCase {
    const char* name;
    int kind;
    std::vector<int> inputRates; // WAV inputs at these rates; MP3s made of them for kind 3
    std::vector<Step> steps;
};

void PrintTo(const CaptionCase& c, std::ostream* os) {
    *os << c.name;
}

class GroupCaptions : public JobWindowDetails, public ::testing::WithParamInterface<CaptionCase> {};

TEST_P(GroupCaptions, NameTheJobForTheFirstItemAndThePhaseForTheOthers) {
    const CaptionCase c = GetParam();
    QStringList items;
    if (c.kind == jobs::jkExtract) {
        OpenDisc({75, 75});
        items = {"01First", "02Second"};
    }
    for (std::size_t i = 0; i < c.inputRates.size(); ++i) {
        const std::string wav = Path("in" + std::to_string(i) + ".wav");
        ASSERT_EQ(testsupport::RunCommand("sox -n -r " + std::to_string(c.inputRates[i]) +
                                          " -c 2 -b 16 " + testsupport::Quoted(wav) +
                                          " synth 1 sine 440 vol 0.5")
                      .ExitCode,
                  0);
        std::string input = wav;
        if (c.kind == jobs::jkMp3ToWav) {
            input = Path("in" + std::to_string(i) + ".mp3");
            ASSERT_EQ(testsupport::RunCommand("lame --quiet " + testsupport::Quoted(wav) + " " +
                                              testsupport::Quoted(input))
                          .ExitCode,
                      0);
        }
        items << QString::fromStdString(input);
    }

    std::vector<Step> seen;
    auto sample = [&seen](jobs::TRipForm& form) {
        const QString title = form.windowTitle();
        const Step step{title.left(title.indexOf(':')),
                        form.findChild<QGroupBox*>(QStringLiteral("GroupBox1"))->title()};
        if (seen.empty() || !(seen.back() == step)) {
            seen.push_back(step);
        }
    };
    const Watched run = RunWatched(c.kind, items, [&](jobs::TRipForm& form) {
        sample(form); // the first step starts while the window is made
        // Read once the handler that changed the caption has finished its step.
        QObject::connect(&form, &QWidget::windowTitleChanged, &form,
                         [&] { QTimer::singleShot(0, &form, [&] { sample(form); }); });
    });
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    EXPECT_EQ(seen, c.steps);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, GroupCaptions,
    ::testing::Values(
        CaptionCase{"ExtractToMp3",
                    jobs::jkExtract,
                    {},
                    {{"Extracting(01/02)", "Extracting"},
                     {"Encoding(01/02)", "Encoding"},
                     {"Extracting(02/02)", "Extracting"},
                     {"Encoding(02/02)", "Encoding"}}},
        CaptionCase{"WavToMp3",
                    jobs::jkWavToMp3,
                    {44100, 44100},
                    {{"Encoding(01/02)", "Encoding WAV to MP3"}, {"Encoding(02/02)", "Encoding"}}},
        CaptionCase{"WavToMp3Resampled",
                    jobs::jkWavToMp3,
                    {22050, 22050},
                    {{"Resampling(01/02)", "Resampling WAV"},
                     {"Encoding(01/02)", "Encoding"},
                     {"Resampling(02/02)", "Resampling WAV"},
                     {"Encoding(02/02)", "Encoding"}}},
        CaptionCase{"Mp3ToWav",
                    jobs::jkMp3ToWav,
                    {44100, 44100},
                    {{"Decoding(01/02)", "Decoding MP3 to WAV"}, {"Decoding(02/02)", "Decoding"}}},
        CaptionCase{"RecordedToMp3",
                    jobs::jkRecordedToMp3,
                    {44100},
                    {{"Encoding(01/01)", "Encoding WAV to MP3"}}},
        CaptionCase{"WavToOgg",
                    jobs::jkWavToOgg,
                    {44100, 44100},
                    {{"Encoding(01/02)", "Encoding WAV to OGG"}, {"Encoding(02/02)", "Encoding"}}},
        CaptionCase{"WavToWma",
                    jobs::jkWavToWma,
                    {44100, 44100},
                    {{"Encoding(01/02)", "Encoding WAV to WMA"}, {"Encoding(02/02)", "Encoding"}}}),
    [](const auto& param) { return std::string(param.param.name); });

// ---- a rip that cannot start -----------------------------------------------------------

TEST_F(JobWindowDetails, ARipThatCannotStartShowsWhyAndWaitsForStop) {
    struct Case {
        const char* item;
        bool unknownDrive;
        QString message;
    };
    OpenDisc({75});
    const Case cases[] = {
        {"01Alone", true, "CD extract failed!Please try again."},
        {"05Beyond the last track", false, "Error while reading TOC information!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        const int realHandle = handle;
        if (c.unknownDrive) {
            handle = 99;
        }
        const qsizetype first = dialogs->boxes.size();
        const Watched run = RunWatched(
            jobs::jkExtract, {c.item}, [](jobs::TRipForm&) {}, 500);
        handle = realHandle;
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(run.openAtStop) << "the error alone does not end the job";
        ASSERT_EQ(run.boxes, QStringList{c.message});
        EXPECT_EQ(dialogs->boxes[first].icon, platform::MbIcon::Error);
        EXPECT_EQ(dialogs->boxes[first].caption, "Vellorine");
        EXPECT_TRUE(fs::is_empty(out)) << "nothing was written";
    }
}

// ---- Vorbis settings -------------------------------------------------------------------

// The bit rates a Vorbis stream declares in its identification header.
struct DeclaredRates {
    std::int32_t upper = 0;
    std::int32_t nominal = 0;
    std::int32_t lower = 0;
    bool operator==(const DeclaredRates&) const = default;
};

void PrintTo(const DeclaredRates& r, std::ostream* os) {
    *os << "upper " << r.upper << ", nominal " << r.nominal << ", lower " << r.lower;
}

std::int32_t Int32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        v |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    }
    return static_cast<std::int32_t>(v);
}

// Read from the file's first Ogg page: its first packet is the identification header.
std::optional<DeclaredRates> ReadDeclaredRates(const std::string& path) {
    const std::vector<std::uint8_t> bytes = testsupport::ReadAll(path);
    constexpr std::size_t kPageHeader = 27;
    if (bytes.size() < kPageHeader || !std::equal(bytes.begin(), bytes.begin() + 4, "OggS")) {
        return std::nullopt;
    }
    const std::size_t packet = kPageHeader + bytes[26];
    // type, "vorbis", version (4), channels (1), rate (4), then the three rates
    if (bytes.size() < packet + 28 || bytes[packet] != 1) {
        return std::nullopt;
    }
    return DeclaredRates{Int32At(bytes, packet + 16), Int32At(bytes, packet + 20),
                         Int32At(bytes, packet + 24)};
}

// What libvorbisenc declares for a stereo 44.1 kHz stream at this quality.
DeclaredRates RatesAtQuality(float quality) {
    vorbis_info info;
    vorbis_info_init(&info);
    EXPECT_EQ(vorbis_encode_init_vbr(&info, 2, 44100, quality), 0) << quality;
    const DeclaredRates rates{static_cast<std::int32_t>(info.bitrate_upper),
                              static_cast<std::int32_t>(info.bitrate_nominal),
                              static_cast<std::int32_t>(info.bitrate_lower)};
    vorbis_info_clear(&info);
    return rates;
}

TEST_F(JobWindowDetails, TheOggSettingsAreTheOnesTheWrittenStreamDeclares) {
    struct Case {
        bool useQuality;
        int position;                         // of the quality slider, 30..100: quality 0.2..0.9
        int maximum, nominal, minimum;        // positions in the bit-rate list
        std::optional<DeclaredRates> managed; // the rates declared in bit-rate mode
    };
    const Case cases[] = {
        {true, 30, 12, 8, 4, std::nullopt},
        {true, 65, 0, 0, 0, std::nullopt},
        {true, 100, 0, 0, 0, std::nullopt},
        {false, 30, 12, 8, 4, DeclaredRates{224000, 128000, 64000}},
        {false, 90, 14, 10, 5, DeclaredRates{320000, 160000, 80000}},
        // Automatic maximum and minimum follow the nominal rate.
        {false, 30, 0, 6, 0, DeclaredRates{96000, 96000, 96000}},
    };
    const std::string wav = MakeWav("tone.wav", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.useQuality ? "quality " : "bit rates ") << c.position << " " << c.maximum
                     << "/" << c.nominal << "/" << c.minimum);
        settings::TOggOptions& ogg = settings::Settings.OggOptions;
        ogg.IsUseCompress = c.useQuality;
        ogg.CompressPosition = c.position;
        ogg.MaxBitRate = c.maximum;
        ogg.NomalBitRate = c.nominal;
        ogg.MinBitRate = c.minimum;
        fs::remove(Out("tone.ogg"));
        const Watched run =
            RunWatched(jobs::jkWavToOgg, {QString::fromStdString(wav)}, [](jobs::TRipForm&) {});
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
        const DeclaredRates expected =
            c.managed ? *c.managed : RatesAtQuality(static_cast<float>(c.position - 10) / 100.0f);
        EXPECT_EQ(ReadDeclaredRates(Out("tone.ogg")), expected);
    }
}

// ---- the WMA gauge ---------------------------------------------------------------------

// While WM8EUTIL runs, the gauge follows the output's size against the size expected from
// the input. An encoder that rewrites its file (here: writes more than expected, then cuts
// the file short) must not move the gauge back.
TEST_F(JobWindowDetails, TheWmaGaugeNeverMovesBackWhileTheEncoderRuns) {
    // 12 s of CD audio: over the 2 000 000 bytes below which the estimate is fixed at 2 s;
    // about 97 000 bytes of output are expected at the default preset.
    const std::string wav = MakeWav("long.wav", 12);
    InstallScriptOnPath("WM8EUTIL", R"(
while [ $# -gt 0 ]; do [ "$1" = -output ] && out=$2; shift; done
head -c 200000 /dev/zero > "$out"
sleep 1.5
truncate -s 5000 "$out"
sleep 2
echo "100%")");
    std::vector<int> values;
    const Watched run =
        RunWatched(jobs::jkWavToWma, {QString::fromStdString(wav)}, [&](jobs::TRipForm& form) {
            auto* gauge = form.findChild<QProgressBar*>(QStringLiteral("FlatGauge1"));
            QObject::connect(gauge, &QProgressBar::valueChanged, &form,
                             [&values](int v) { values.push_back(v); });
        });
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << testing::PrintToString(values);
    EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](int v) { return v > 0 && v < 100; }))
        << "the estimate moved the gauge before the encoder's end: "
        << testing::PrintToString(values);
    EXPECT_EQ(values.back(), 100);
}

} // namespace
} // namespace jobs_test
