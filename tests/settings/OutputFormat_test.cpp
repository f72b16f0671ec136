#include "settings/OutputFormat.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "settings/Global.h"
#include "settings/ProcessInfo.h"
#include "support/TestSupport.h"

using namespace settings;

namespace {

// What each designed format must say about itself; the stored numbers never change.
TEST(OutputFormatTable, EveryDesignedFormatKeepsItsNumberExtensionAndStep) {
    struct Case {
        int stored;
        TOutputFormat format;
        const char* extension;
        bool needs44100;
        bool asks;
        TStepMaker step;
        std::int32_t endCode;
    };
    const Case cases[] = {
        {0, TOutputFormat::ofMp3, ".mp3", true, true, TStepMaker::smLame, PI_MP3_ENDED},
        {1, TOutputFormat::ofWav, ".wav", false, true, TStepMaker::smNone, 0},
        {2, TOutputFormat::ofOgg, ".ogg", true, false, TStepMaker::smVorbis, PI_OGG_DONE},
        {3, TOutputFormat::ofWma, ".wma", false, true, TStepMaker::smWmaHelper, PI_WMA_ENDED},
        // Appended after the designed ones; both take the input's own rate.
        {4, TOutputFormat::ofFlac, ".flac", false, true, TStepMaker::smFlac, PI_FLAC_DONE},
        {5, TOutputFormat::ofOpus, ".opus", false, true, TStepMaker::smOpus, PI_OPUS_DONE},
    };
    ASSERT_EQ(OutputFormats().size(), std::size(cases));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        EXPECT_EQ(FormatFromStored(c.stored), c.format);
        EXPECT_EQ(StoredFormat(c.format), c.stored);
        // The Options dialog's list position is the stored number.
        EXPECT_EQ(OutputFormats()[static_cast<std::size_t>(c.stored)].Format, c.format);
        const TOutputFormatRow* row = FormatRow(c.format);
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->Extension, c.extension);
        EXPECT_EQ(row->Needs44100, c.needs44100);
        EXPECT_EQ(row->AsksToOverwrite, c.asks);
        EXPECT_EQ(row->Step, c.step);
        EXPECT_EQ(row->EndCode, c.endCode);
        EXPECT_EQ(std::string(row->OptionsPage).empty(), c.step == TStepMaker::smNone);
    }
}

TEST(OutputFormatTable, ExtensionsLabelsAndEndEventsAreEachUsedOnce) {
    std::set<std::string> extensions;
    std::set<std::string> labels;
    std::set<std::int32_t> endCodes;
    for (const TOutputFormatRow& row : OutputFormats()) {
        EXPECT_TRUE(extensions.insert(row.Extension).second) << row.Extension;
        EXPECT_TRUE(labels.insert(row.Label).second) << row.Label;
        if (row.Step != TStepMaker::smNone) {
            EXPECT_TRUE(endCodes.insert(row.EndCode).second) << row.Label;
        }
    }
}

// options.ini holds the number; one without a row survives a load and a save untouched.
TEST(OutputFormatTable, TheStoredNumberGoesThroughOptionsIniAsItIs) {
    testsupport::ScratchFolder home;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    for (const int stored : {0, 1, 2, 3, 4, 5, 7, -1}) {
        SCOPED_TRACE(stored);
        home.WriteText("options.ini",
                       "[CommonOptions]\nOutputFormat=" + std::to_string(stored) + "\n");
        Settings = TSettings{};
        LoadSaveOptions(true);
        EXPECT_EQ(StoredFormat(Settings.CommonOptions.OutputFormat), stored);
        EXPECT_EQ(FormatRow(Settings.CommonOptions.OutputFormat) != nullptr,
                  stored >= 0 && stored <= 5);
        LoadSaveOptions(false);
        const std::string text = testsupport::ReadText(home.File("options.ini"));
        EXPECT_NE(text.find("OutputFormat=" + std::to_string(stored) + "\n"), std::string::npos);
    }
    Settings = TSettings{};
}

} // namespace
