// The number of encoders a rip may run at once: stored in its own section, kept within
// 1..8, and set on the Options dialog's "Performance" page.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include "settings/Global.h"
#include "settings/OptionSet.h"
#include "settings/PerformancePage.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "support/TestSupport.h"

using namespace settings;

namespace {

TEST(PerformanceSettings, EncodersAreReadWithinOneToEightAndOneWithoutTheSection) {
    testsupport::ScratchFolder home;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    struct Case {
        const char* options;
        int encoders;
    };
    const Case cases[] = {
        {"", 1},
        {"[Performance]\nEncoders=2\n", 2},
        {"[Performance]\nEncoders=8\n", 8},
        {"[Performance]\nEncoders=9\n", 8},
        {"[Performance]\nEncoders=0\n", 1},
        {"[Performance]\nEncoders=-3\n", 1},
        {"[Performance]\nEncoders=many\n", 1},
    };
    for (const Case& c : cases) {
        home.WriteText("options.ini", c.options);
        Settings = TSettings{};
        Settings.Performance.Encoders = 5;
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.Performance.Encoders, c.encoders) << c.options;
    }
    Settings.Performance.Encoders = 3;
    LoadSaveOptions(false);
    const std::string text = testsupport::ReadText(home.File("options.ini"));
    EXPECT_NE(text.find("[Performance]\nEncoders=3\n"), std::string::npos) << text;
    Settings = TSettings{};
}

TEST(PerformanceSettings, ThePageShowsTheNumberAndOnlyOkStoresIt) {
    testsupport::ScratchFolder home;
    testsupport::ScratchFolder output;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    testsupport::ScopedDialogs scripted;
    for (const bool ok : {true, false}) {
        Settings = TSettings{};
        Settings.CommonOptions.OutputFolder = output.Path();
        Settings.Performance.Encoders = 2;
        TOptionSetForm form(nullptr, [](int) {});
        ASSERT_NE(form.TabSheet8, nullptr);
        EXPECT_EQ(form.PageControl1->tabText(form.PageControl1->indexOf(form.TabSheet8)),
                  "Performance");
        EXPECT_EQ(form.TabSheet8->seEncoders->value(), 2);
        EXPECT_EQ(form.TabSheet8->seEncoders->minimum(), 1);
        EXPECT_EQ(form.TabSheet8->seEncoders->maximum(), TPerformance::MaxEncoders);
        form.TabSheet8->seEncoders->setValue(4);
        (ok ? form.btOk : form.btCancel)->click();
        EXPECT_EQ(Settings.Performance.Encoders, ok ? 4 : 2);
    }
    Settings = TSettings{};
}

} // namespace
