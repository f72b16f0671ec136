// Long runs without a break in a box's text get invisible break opportunities, so the box
// wraps them instead of cutting them off at its edge.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "platform/QtDialogs.h"

namespace {

using platform::BreakableText;
using platform::kBreakEvery;

const QChar kZws(0x200B);

// The longest stretch of the text with no blank, hyphen or U+200B in it.
int LongestRun(const QString& text) {
    int longest = 0;
    int run = 0;
    for (const QChar c : text) {
        run = (c.isSpace() || c == kZws || c == QLatin1Char('-')) ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

TEST(BreakableText, BreaksLongRunsOnlyAndNeverInsideACharacter) {
    const QString longWord = QString("Supercalifragilistic").repeated(8);
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xB5"); // one character, two halves
    const QString accented = QString("e") + QChar(0x0301);       // e + combining acute
    const struct {
        const char* what;
        QString text;
        bool changed;
    } cases[] = {
        {"ordinary sentence", "Error while reading CD information!", false},
        {"words under the limit", QString("a").repeated(kBreakEvery - 1) + " b", false},
        {"a path", "/home/user/Music/Vellorine/Track01.wav is not a valid file name.", true},
        {"a long word", longWord + ".wav is not a valid file name.", true},
        {"long run of surrogate pairs", emoji.repeated(40), true},
        {"long run of accented letters", accented.repeated(40), true},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        const QString shown = BreakableText(c.text);
        EXPECT_EQ(QString(shown).remove(kZws), c.text) << c.what << ": only breaks are added";
        EXPECT_EQ(shown != c.text, c.changed) << c.what;
        EXPECT_LE(LongestRun(shown), kBreakEvery + 1) << c.what;
        for (qsizetype i = 0; i + 1 < shown.size(); ++i) {
            if (shown[i + 1] == kZws) {
                EXPECT_FALSE(shown[i].isHighSurrogate()) << c.what << " at " << i;
            }
            if (shown[i] == kZws) {
                EXPECT_NE(shown[i + 1].category(), QChar::Mark_NonSpacing) << c.what << " at " << i;
            }
        }
    }
    EXPECT_EQ(BreakableText("/a/b"), QString("/") + kZws + "a/" + kZws + "b");
}

// The real box keeps a long unbroken title within the screen: its text label is wrapped.
TEST(BreakableText, ARealBoxWithALongTitleFitsOnTheScreen) {
    const QString text = "/tmp/out/" + QString("Supercalifragilistic").repeated(12) +
                         ".wav is not a valid file name.Please rename the Title.";
    int boxWidth = 0;
    int labelWidth = 0;
    int labelNeeds = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        ASSERT_NE(label, nullptr);
        boxWidth = box->width();
        labelWidth = label->width();
        labelNeeds = label->minimumSizeHint().width();
        box->accept();
    });
    platform::QtDialogs().MessageBox(nullptr, text, "Vellorine", platform::MbIcon::Error,
                                     platform::MbButtons::Ok, platform::MbResult::Ok);
    ASSERT_GT(boxWidth, 0);
    EXPECT_LE(boxWidth, QGuiApplication::primaryScreen()->availableGeometry().width());
    EXPECT_LE(labelNeeds, labelWidth) << "the label's text is not cut off";
}

} // namespace
