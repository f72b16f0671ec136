// The job window's caption keeps its counter: it fits the title bar beside the window
// manager's buttons, the name giving way at its end.
#include <QFontMetrics>
#include <QGuiApplication>

#include "jobs/PhaseCaption.h"
#include "jobs/RipFormTestSupport.h"

namespace jobs_test {
namespace {

constexpr int kWindowWidth = 273; // the job window as designed

int Width(const QString& text) {
    return QFontMetrics(QGuiApplication::font()).horizontalAdvance(text);
}

TEST_F(EncoderTest, EveryPhaseCaptionFitsBesideTheButtonsWithItsCounterWhole) {
    const QString longTitle = QString(60, QChar(0x00E9)) + " (Extended Remix / Radio Edit)";
    const QString longPath = "/home/someone/Music/recordings/2026/an evening/track.wav";
    struct Case {
        int i;
        int count;
        QString name;
        QString counter;
        bool whole; // the name is shown as it is
    };
    const Case cases[] = {
        {0, 1, "Noon", "(01/01): ", true},
        {98, 99, "", "(99/99): ", true},
        {3, 12, longTitle, "(04/12): ", false},
        {8, 10, longPath, "(09/10): ", false},
        {0, 2, QString(200, 'W'), "(01/02): ", false},
    };
    for (const QString phase :
         {"Extracting", "Normalizing", "Resampling", "Encoding", "Decoding"}) {
        for (const Case& c : cases) {
            const QString caption = jobs::PhaseCaption(phase, c.i, c.count, c.name, kWindowWidth);
            const std::string what = caption.toStdString();
            EXPECT_TRUE(caption.startsWith(phase + c.counter)) << what;
            EXPECT_LE(Width(caption), kWindowWidth - jobs::kTitleBarReserve) << what;
            if (c.whole) {
                EXPECT_EQ(caption, phase + c.counter + c.name);
            } else {
                EXPECT_TRUE(caption.endsWith(QChar(0x2026))) << what;
                EXPECT_TRUE(
                    c.name.startsWith(caption.mid(phase.size() + c.counter.size()).chopped(1)))
                    << what;
            }
        }
    }
}

TEST_F(JobWindowTest, ARipOfALongTitleKeepsTheCounterInTheCaption) {
    OpenDisc({150});
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofWav;
    const QString title = "A Very Long Song Title That Goes On And On";
    const JobOutcome run = Run(jobs::jkExtract, {"01" + title});
    ASSERT_TRUE(run.ended);
    ASSERT_FALSE(run.captions.isEmpty());
    for (const QString& caption : run.captions) {
        EXPECT_TRUE(caption.startsWith("Extracting(01/01): A")) << caption.toStdString();
        EXPECT_LE(Width(caption), kWindowWidth - jobs::kTitleBarReserve) << caption.toStdString();
    }
    EXPECT_TRUE(Exists(title.toStdString() + ".wav"));
}

} // namespace
} // namespace jobs_test
