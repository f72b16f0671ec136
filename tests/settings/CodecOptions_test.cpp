// The FLAC and Opus settings: their own sections of options.ini, kept within range, and the
// Options dialog's pages that show and store them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include "settings/FlacPage.h"
#include "settings/Global.h"
#include "settings/OptionSet.h"
#include "settings/OpusPage.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "support/TestSupport.h"

using namespace settings;

namespace {

TEST(CodecOptions, TheSectionsAreReadWithinRangeAndDefaultWithoutThem) {
    testsupport::ScratchFolder home;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    struct Case {
        const char* options;
        int level;
        bool verify;
        int bitRate;
    };
    const Case cases[] = {
        {"", 5, true, 160},
        {"[FLACOptions]\nLevel=8\nVerify=0\n[OpusOptions]\nBitRate=96\n", 8, false, 96},
        {"[FLACOptions]\nLevel=0\n[OpusOptions]\nBitRate=6\n", 0, true, 6},
        {"[FLACOptions]\nLevel=9\n[OpusOptions]\nBitRate=512\n", 8, true, 256},
        {"[FLACOptions]\nLevel=-2\n[OpusOptions]\nBitRate=5\n", 0, true, 6},
        {"[FLACOptions]\nLevel=best\nVerify=1\n[OpusOptions]\nBitRate=fast\n", 5, true, 160},
    };
    for (const Case& c : cases) {
        home.WriteText("options.ini", c.options);
        Settings = TSettings{};
        Settings.FLACOptions = TFlacOptions{3, false};
        Settings.OpusOptions.BitRate = 64;
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.FLACOptions.Level, c.level) << c.options;
        EXPECT_EQ(Settings.FLACOptions.Verify, c.verify) << c.options;
        EXPECT_EQ(Settings.OpusOptions.BitRate, c.bitRate) << c.options;
    }
    Settings.FLACOptions = TFlacOptions{7, false};
    Settings.OpusOptions.BitRate = 128;
    LoadSaveOptions(false);
    const std::string text = testsupport::ReadText(home.File("options.ini"));
    EXPECT_NE(text.find("[FLACOptions]\nLevel=7\nVerify=0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[OpusOptions]\nBitRate=128\n"), std::string::npos) << text;
    Settings = TSettings{};
}

TEST(CodecOptions, ThePagesShowTheValuesClampedAndOnlyOkStoresThem) {
    testsupport::ScratchFolder home;
    testsupport::ScratchFolder output;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    testsupport::ScopedDialogs scripted;
    struct Case {
        TFlacOptions flac;
        int bitRate;
        int shownLevel; // what the page shows for a value out of range
        int shownBitRate;
    };
    const Case cases[] = {
        {{2, true}, 64, 2, 64}, {{12, false}, 999, 8, 256}, {{-1, true}, 0, 0, 6}};
    for (const Case& c : cases) {
        for (const bool ok : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.flac.Level << " " << c.bitRate << " ok " << ok);
            Settings = TSettings{};
            Settings.CommonOptions.OutputFolder = output.Path();
            Settings.FLACOptions = c.flac;
            Settings.OpusOptions.BitRate = c.bitRate;
            TOptionSetForm form(nullptr, [](int) {});
            ASSERT_NE(form.TabSheet10, nullptr);
            ASSERT_NE(form.TabSheet11, nullptr);
            QTabWidget* tabs = form.PageControl1;
            EXPECT_EQ(tabs->tabText(tabs->indexOf(form.TabSheet10)), "FLAC");
            EXPECT_EQ(tabs->tabText(tabs->indexOf(form.TabSheet11)), "Opus");
            EXPECT_EQ(form.TabSheet10->seFlacLevel->value(), c.shownLevel);
            EXPECT_EQ(form.TabSheet10->ckFlacVerify->isChecked(), c.flac.Verify);
            EXPECT_EQ(form.TabSheet11->seOpusBitRate->value(), c.shownBitRate);
            form.TabSheet10->seFlacLevel->setValue(20); // the box keeps it within 0..8
            form.TabSheet10->ckFlacVerify->setChecked(!c.flac.Verify);
            form.TabSheet11->seOpusBitRate->setValue(1);
            (ok ? form.btOk : form.btCancel)->click();
            EXPECT_EQ(Settings.FLACOptions.Level, ok ? 8 : c.flac.Level);
            EXPECT_EQ(Settings.FLACOptions.Verify, ok ? !c.flac.Verify : c.flac.Verify);
            EXPECT_EQ(Settings.OpusOptions.BitRate, ok ? 6 : c.bitRate);
        }
    }
    Settings = TSettings{};
}

// The two formats follow the four designed ones in the format list and are stored as 4, 5.
TEST(CodecOptions, TheFormatListOffersFlacAndOpusAfterTheDesignedFormats) {
    testsupport::ScratchFolder output;
    testsupport::ScopedDialogs scripted;
    Settings = TSettings{};
    Settings.CommonOptions.OutputFolder = output.Path();
    Settings.CommonOptions.OutputFormat = TOutputFormat::ofFlac;
    TOptionSetForm form(nullptr, [](int) {});
    auto* list = form.findChild<QComboBox*>("cbOutputFormat");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 6);
    EXPECT_EQ(list->itemText(3), "WMA file(*.WMA)");
    EXPECT_EQ(list->itemText(4), "FLAC file(*.FLAC)");
    EXPECT_EQ(list->itemText(5), "Opus file(*.OPUS)");
    EXPECT_EQ(list->currentIndex(), 4);
    list->setCurrentIndex(5);
    form.btOk->click();
    EXPECT_EQ(Settings.CommonOptions.OutputFormat, TOutputFormat::ofOpus);
    Settings = TSettings{};
}

} // namespace
